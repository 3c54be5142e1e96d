#include "bench/generator.h"

#include "sheet/SheetOps.h"

#include <QDate>

namespace gen {

QStringList categories() {
    return {"青果", "精肉",     "鮮魚",       "日配",     "冷凍食品", "菓子",  "飲料",
            "酒類", "調味料",   "乾物",       "米・穀類", "パン",     "惣菜",  "日用品",
            "文具", "衛生用品", "ペット用品", "園芸",     "季節品",   "その他"};
}

QStringList units() {
    return {"個", "本", "袋", "箱", "缶", "kg", "パック", "枚", "束", "瓶", "ケース", "組"};
}

QString productName(int i) {
    static const QStringList stems{"りんご", "みかん",   "キャベツ",   "牛乳", "食パン",
                                   "醤油",   "緑茶",     "せんべい",   "豆腐", "納豆",
                                   "鮭切身", "豚ばら肉", "ボールペン", "洗剤", "トイレットペーパー",
                                   "味噌"};
    return QString("%1 %2号 No.%3")
        .arg(stems[i % stems.size()])
        .arg(i % 7 + 1)
        .arg(i, 5, 10, QChar('0'));
}

QString productCode(int i) {
    return QString("P%1").arg(i, 6, 10, QChar('0'));
}

void products(Store& store, int n) {
    Transaction t(store, Db::Main);
    QSqlQuery ins =
        store.prepare(Db::Main, "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, "
                                "商品区分) VALUES (?, ?, ?, ?, ?, ?)");
    const QStringList cats = categories(), us = units();
    for (int i = 0; i < n; ++i)
        store.run(ins, {productCode(i), productName(i), us[i % us.size()], 50 + (i * 37) % 5000,
                        5 + i % 40, cats[i % cats.size()]});
    nameSlots(store);
    t.commit();
}

void nameSlots(Store& store) {
    store.exec(Db::Main,
               "UPDATE コードマスタ SET sname = NULL WHERE kcode IN ('商品区分', '単位')");
    const QStringList cats = categories(), us = units();
    for (int i = 0; i < cats.size(); ++i)
        store.exec(Db::Main,
                   "UPDATE コードマスタ SET sname = ? WHERE kcode = '商品区分' AND code = ?",
                   {cats[i], QString("%1").arg(i + 1, 2, 10, QChar('0'))});
    for (int i = 0; i < us.size(); ++i)
        store.exec(Db::Main, "UPDATE コードマスタ SET sname = ? WHERE kcode = '単位' AND code = ?",
                   {us[i], QString("%1").arg(i + 1, 2, 10, QChar('0'))});
}

void sheets(Store& store, int sheets, int lines) {
    Transaction t(store, Db::Main);
    QSqlQuery ins = store.prepare(
        Db::Main, "INSERT INTO 在庫表 (日付, 行番号, code, 品名, 数量, 適正数, 増減, 単位, 単価, "
                  "金額, 商品区分) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const QStringList cats = categories(), us = units();
    for (int s = 0; s < sheets; ++s) {
        const QString day = dateKey(QDate(2026, 1, 1).addDays(s));
        for (int l = 1; l <= lines; ++l) {
            const int p = (s * 131 + l * 17) % 10000;
            const int qty = l % 30, price = 50 + (p * 37) % 5000;
            store.run(ins,
                      {day, l, productCode(p), productName(p), qty, 5 + p % 40, qty - (5 + p % 40),
                       us[p % us.size()], price, qty * price, cats[p % cats.size()]});
        }
    }
    t.commit();
}

void dailyCounts(Store& store, const QDate& first, int days, int categories, int lines) {
    Transaction t(store, Db::Main);
    QSqlQuery ins = store.prepare(
        Db::Main, "INSERT INTO 在庫表 (日付, 行番号, code, 品名, 数量, 単価, 金額, 商品区分) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (int d = 0; d < days; ++d) {
        const QString day = dateKey(first.addDays(d));
        for (int c = 0; c < categories; ++c)
            for (int l = 1; l <= lines; ++l) {
                const int p = (c * lines + l + d * 7) % 10000;
                const int qty = (l + d) % 40, price = 50 + (p * 37) % 5000;
                store.run(ins, {day, l, productCode(p), productName(p), qty, price, qty * price,
                                QString("区分%1").arg(c + 1, 2, 10, QChar('0'))});
            }
    }
    t.commit();
}

void workSheet(Store& store, int lines, int seed) {
    Transaction t(store, Db::Work);
    store.exec(Db::Work, "DELETE FROM w在庫表");
    QSqlQuery ins = store.prepare(
        Db::Work,
        "INSERT INTO w在庫表 (チェック, code, 品名, 数量, 単位, 適正数, 増減, 単価, 金額, "
        "商品区分) VALUES (0, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const QStringList cats = categories(), us = units();
    for (int l = 0; l < lines; ++l) {
        const bool fresh = l % 2 == 0;
        const QString name = fresh ? QString("新商品 %1-%2").arg(seed).arg(l) : productName(l * 7);
        const QString unit =
            fresh && l % 50 == 0 ? QString("新単位%1").arg(seed % 5) : us[l % us.size()];
        store.run(ins, {fresh ? QVariant() : QVariant(productCode(l * 7)), name, l % 20, unit, 10,
                        l % 20 - 10, 120, (l % 20) * 120, cats[l % cats.size()]});
    }
    t.commit();
}

} // namespace gen
