#include "books/BooksReport.h"

#include "exchange/Csv.h"

namespace books {

using report::label;

QString asOf(const QDate& date) {
    return date.toString(QStringLiteral("yyyy年M月d日")) + QStringLiteral("現在");
}

namespace {
QString categoryName(const QString& category) {
    return category.isEmpty() ? QStringLiteral("（区分なし）") : category;
}

// What the amounts are: the books' way with tax, and how 単価 was converted.
QString taxNote(const Settings& s) {
    const bool booksWithTax = s.accounting == QStringLiteral("税込経理");
    QString note = s.accounting + (booksWithTax ? QStringLiteral("（金額は税込）")
                                                : QStringLiteral("（金額は税抜）"));
    if ((s.priceTax == QStringLiteral("税込")) != booksWithTax)
        note += QStringLiteral("　単価%1を行ごとに換算、端数は%2").arg(s.priceTax, s.rounding);
    return note;
}

struct ColumnSpec {
    const char* field;
    const char* caption;
    int width;
    const char* format;
};
const ColumnSpec Columns[] = {{"品名", "品　　名", 4000, ""},
                              {"単位", "種類・品質・型", 1800, ""},
                              {"数量", "数　量", 1400, "#,##0"},
                              {"単価", "単　価", 1700, "#,##0"},
                              {"金額", "金　額", 2200, "#,##0"}};
constexpr int Left = 280;

report::Definition definition(const Inventory& inv) {
    report::Definition d;
    d.name = "rpt棚卸表";
    d.pageHeader.height = 2050;
    d.pageHeader.items = {
        label("Label棚卸表", QStringLiteral("棚卸表"), Left, 60, 3000, 420, Qt::AlignLeft, 18,
              true),
        label("txt現在", asOf(inv.date), Left, 560, 4000, 300, Qt::AlignLeft, 11),
        label("txt会社名", inv.company, 6000, 60, 5300, 300, Qt::AlignRight, 11, true),
        label("txt住所", inv.address, 6000, 400, 5300, 300, Qt::AlignRight, 9),
        label("txt評価方法", QStringLiteral("評価方法　") + inv.settings.method, Left, 960, 5200,
              300, Qt::AlignLeft, 9.5),
        label("txt経理方式", taxNote(inv.settings), Left, 1260, 11000, 300, Qt::AlignLeft, 9.5),
        report::item(report::ItemKind::PageNumber, "FieldPage", QString(), 9300, 760, 2000, 285,
                     Qt::AlignRight, 9)};
    if (!inv.closed)
        d.pageHeader.items << label("Label未確定", QStringLiteral("未確定"), 3400, 20, 2600, 520,
                                    Qt::AlignHCenter, 24, true);
    int left = Left;
    for (const ColumnSpec& c : Columns) {
        d.pageHeader.items << label(QStringLiteral("Head") + c.field, QString::fromUtf8(c.caption),
                                    left, 1680, c.width, 300,
                                    *c.format ? Qt::AlignRight : Qt::AlignLeft);
        left += c.width;
    }
    d.pageHeader.items << report::rule("HeadRule", Left, 2000, left);
    d.groupField = "商品区分";
    d.groupHeader.height = 360;
    d.groupHeader.items = {report::item(report::ItemKind::Field, "txt商品区分", QString(), Left, 40,
                                        6000, 300, Qt::AlignLeft, 10.5, true)};
    d.groupHeader.items[0].field = "商品区分";
    d.detail.height = 330;
    left = Left;
    for (const ColumnSpec& c : Columns) {
        d.detail.items << report::field(QStringLiteral("txt") + c.field, c.field, c.format,
                                        left + (*c.format ? 0 : 120), 20, c.width - 120, 283,
                                        *c.format ? Qt::AlignRight : Qt::AlignLeft);
        left += c.width;
    }
    return d;
}

QVector<report::RowValues> rows(const Inventory& inv) {
    QVector<report::RowValues> out;
    for (const InventoryGroup& g : inv.groups) {
        const QString name = categoryName(g.category);
        for (const InventoryLine& l : g.lines)
            out << report::RowValues{{"商品区分", name},
                                     {"品名", l.name},
                                     {"単位", l.unit},
                                     {"数量", l.quantity},
                                     {"単価", l.price.toDouble()},
                                     {"金額", l.amount}};
        out << report::RowValues{{"商品区分", name},
                                 {"品名", QStringLiteral("小計　%1").arg(name)},
                                 {"金額", g.subtotal}};
    }
    return out;
}

// The foot of the list: the grand total, who counted, the signature line.
void appendFoot(QVector<report::Page>& pages, const report::Definition& def, const Inventory& inv) {
    const int height = 1500;
    const int bottom = def.paperHeight - def.marginBottom - def.pageFooter.height;
    int top = def.marginTop + def.pageHeader.height;
    for (const report::Placed& p : pages.last().items)
        top = std::max(top, p.rect.bottom());
    top += 120;
    if (top + height > bottom) {
        report::Page page;
        page.number = int(pages.size()) + 1;
        // The heading of every page, the columns' captions included.
        for (const report::Placed& p : pages.first().items)
            if (p.rect.top() < def.marginTop + def.pageHeader.height)
                page.items << p;
        pages << page;
        top = def.marginTop + def.pageHeader.height + 120;
    }
    const int x = def.marginLeft;
    const auto text = [&](const QString& name, const QString& t, int dx, int dy, int w,
                          Qt::Alignment a, double pt, bool bold) {
        pages.last().items << report::Placed{
            name, report::ItemKind::Label, QRect(x + dx, top + dy, w, 300), t, a, pt, bold};
    };
    pages.last().items << report::Placed{
        "TotalRule", report::ItemKind::Line, QRect(x + Left, top, 11100 - Left, 0),
        QString(),   Qt::AlignLeft,          10,
        false};
    text("txt合計見出し", QStringLiteral("合　計"), Left + 120, 60, 4000, Qt::AlignLeft, 11, true);
    text("txt合計", formatNumber(double(inv.total), "#,##0"), 9080, 60, 2200, Qt::AlignRight, 11,
         true);
    text("txt担当", QStringLiteral("棚卸担当　") + inv.counters.join(QStringLiteral("、")), Left,
         560, 11000, Qt::AlignLeft, 10, false);
    text("txt責任者", QStringLiteral("責任者（署名）"), 5600, 1060, 1800, Qt::AlignLeft, 10, false);
    pages.last().items << report::Placed{
        "SignRule", report::ItemKind::Line, QRect(x + 7400, top + 1360, 3880, 0),
        QString(),  Qt::AlignLeft,          10,
        false};
}
} // namespace

QVector<report::Page> inventoryPages(const Inventory& inv) {
    const report::Definition def = definition(inv);
    QVector<report::Page> pages = report::layout(def, rows(inv));
    appendFoot(pages, def, inv);
    const QString of = QString::number(pages.size());
    for (report::Page& p : pages)
        for (report::Placed& item : p.items)
            if (item.name == QLatin1String("FieldPage"))
                item.text = QStringLiteral("%1 / %2").arg(p.number).arg(of);
    return pages;
}

exchange::Records inventoryRecords(const Inventory& inv) {
    using exchange::CellKind;
    exchange::Records r;
    r.title = exchange::sheetTitle(QStringLiteral("棚卸表 ") + inv.date.toString(Qt::ISODate));
    r.kinds = {CellKind::Text,  CellKind::Text,  CellKind::Text,
               CellKind::Whole, CellKind::Money, CellKind::Whole};
    r.rows << QStringList{"商品区分", "品名", "種類・品質・型", "数量", "単価", "金額"};
    const auto text = exchange::guardFormula;
    for (const InventoryGroup& g : inv.groups) {
        for (const InventoryLine& l : g.lines)
            r.rows << QStringList{text(g.category),   text(l.name),
                                  text(l.unit),       QString::number(l.quantity),
                                  l.price.toString(), QString::number(l.amount)};
        r.rows << QStringList{text(g.category), QStringLiteral("小計"),     QString(), QString(),
                              QString(),        QString::number(g.subtotal)};
    }
    r.rows << QStringList{QStringLiteral("合計"),    QString(), QString(), QString(), QString(),
                          QString::number(inv.total)};
    return r;
}

QString programName(Program p) {
    return p == Program::Yayoi ? QStringLiteral("弥生会計") : QStringLiteral("freee会計");
}

Result<QByteArray> journal(const Inventory& inv, Program program, bool reverse) {
    Result<QByteArray> r;
    const QString day = inv.date.toString(QStringLiteral("yyyy年M月d日"));
    if (!inv.closed) {
        r.status = Status::failed(
            QStringLiteral("%1 の棚卸は確定されていません。確定してから仕訳を書き出してください。")
                .arg(day));
        return r;
    }
    if (inv.total <= 0) {
        r.status = Status::failed(QStringLiteral("%1 の棚卸の合計が 0 円以下です。").arg(day));
        return r;
    }
    // 弥生's amounts hold nine digits.
    if (program == Program::Yayoi && inv.total > 999999999) {
        r.status =
            Status::failed(QStringLiteral("合計 %1 円は弥生会計の金額の桁数（9 桁）を超えます。")
                               .arg(formatNumber(double(inv.total), "#,##0")));
        return r;
    }
    const QString amount = QString::number(inv.total);
    const QString closing = asOf(inv.date);
    const QString start = inv.date.addDays(1).toString(QStringLiteral("yyyy/MM/dd"));
    const QString end = inv.date.toString(QStringLiteral("yyyy/MM/dd"));
    QVector<QStringList> records;
    if (program == Program::Yayoi) {
        // 弥生's import layout: 25 fields, no header; 2000 is a one-line journal.
        const auto entry = [&](const QString& date, const QString& debit, const QString& credit,
                               const QString& note) {
            return QStringList{"2000", "",     "", date, debit,    "",     "",  "対象外", amount,
                               "0",    credit, "", "",   "対象外", amount, "0", note,     "",
                               "",     "0",    "", "",   "0",      "0",    "no"};
        };
        records << entry(end, "商品", "期末商品棚卸高", "期末商品棚卸高　" + closing);
        if (reverse)
            records << entry(start, "期首商品棚卸高", "商品", "期首商品棚卸高　" + day + "の棚卸");
    } else {
        // freee's journal import: a header naming the columns it maps.
        records << QStringList{"日付",       "伝票番号", "決算整理仕訳", "借方勘定科目",
                               "借方税区分", "借方金額", "借方税額",     "貸方勘定科目",
                               "貸方税区分", "貸方金額", "貸方税額",     "摘要"};
        const auto entry = [&](const QString& date, const QString& debit, const QString& credit,
                               const QString& note) {
            return QStringList{date, "",     "",       debit,  "対象外", amount,
                               "0",  credit, "対象外", amount, "0",      note};
        };
        records << entry(end, "商品", "期末商品棚卸", "期末商品棚卸　" + closing);
        if (reverse)
            records << entry(start, "期首商品棚卸", "商品", "期首商品棚卸　" + day + "の棚卸");
    }
    const Result<QByteArray> bytes = exchange::encodeCsv(records, exchange::Encoding::Cp932);
    return bytes;
}

} // namespace books
