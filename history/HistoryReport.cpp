#include "history/HistoryReport.h"

#include "exchange/Csv.h"

namespace history {

using report::Item;
using report::ItemKind;
using report::label;

namespace {
// The heading both reports share: title, what it covers, page number, column captions.
report::Definition frame(const QString& name, const QString& title, const QString& covers,
                         const QVector<QPair<QString, int>>& columns) {
    report::Definition d;
    d.name = name;
    d.pageHeader.height = 1100;
    d.pageHeader.items = {label("Label1", title, 280, 50, 4000, 354, Qt::AlignLeft, 16, true),
                          label("txt対象", covers, 280, 420, 10000, 300),
                          label("LabelPage", "Page", 9638, 7, 496, 283, Qt::AlignLeft, 9),
                          report::item(ItemKind::PageNumber, "FieldPage", QString(), 10250, 0, 570,
                                       285, Qt::AlignRight, 9)};
    int left = 280;
    for (const auto& [caption, width] : columns) {
        d.pageHeader.items << label("Head" + caption, caption, left, 760, width, 300,
                                    left == 280 ? Qt::AlignLeft : Qt::AlignRight);
        left += width;
    }
    d.pageHeader.items << report::rule("HeadRule", 280, 1080, left);
    d.detail.height = 330;
    return d;
}

QString whole(qint64 v) {
    return QString::number(v);
}
} // namespace

QString categoryName(const QString& category) {
    return category.isEmpty() ? QStringLiteral("（区分なし）") : category;
}

QString dateText(const QDate& d) {
    return d.toString(QStringLiteral("yyyy年MM月dd日"));
}

report::Definition summaryReport(const QDate& date) {
    report::Definition d =
        frame("rpt棚卸集計", QStringLiteral("棚卸集計表"),
              QStringLiteral("実施日　%1").arg(dateText(date)),
              {{"商品区分", 4200}, {"行数", 1500}, {"数量", 2000}, {"金額", 2600}});
    d.detail.items = {
        report::field("txt商品区分", "商品区分", QString(), 280, 20, 4200, 283, Qt::AlignLeft),
        report::field("txt行数", "行数", "#,##0", 4480, 20, 1500, 283, Qt::AlignRight),
        report::field("txt数量", "数量", "#,##0", 5980, 20, 2000, 283, Qt::AlignRight),
        report::field("txt金額", "金額", "#,##0", 7980, 20, 2600, 283, Qt::AlignRight)};
    return d;
}

QVector<report::RowValues> summaryRows(const Summary& s) {
    QVector<report::RowValues> rows;
    const auto row = [](const QString& name, const CategoryTotal& t) {
        return report::RowValues{{"商品区分", name},
                                 {"行数", t.lines},
                                 {"数量", t.quantity},
                                 {"金額", t.amount.toDouble()}};
    };
    for (const CategoryTotal& c : s.categories)
        rows << row(categoryName(c.category), c);
    rows << row(QStringLiteral("合計"), s.total);
    return rows;
}

exchange::Records summaryRecords(const Summary& s) {
    exchange::Records r;
    r.kinds = {exchange::CellKind::Text, exchange::CellKind::Whole, exchange::CellKind::Whole,
               exchange::CellKind::Money};
    QVector<QStringList>& out = r.rows;
    out << QStringList{"商品区分", "行数", "数量", "金額"};
    for (const CategoryTotal& c : s.categories)
        out << QStringList{exchange::guardFormula(c.category), whole(c.lines), whole(c.quantity),
                           c.amount.toString()};
    out << QStringList{"合計", whole(s.total.lines), whole(s.total.quantity),
                       s.total.amount.toString()};
    return r;
}

report::Definition compareReport(const QString& category, const QDate& first, const QDate& second) {
    const QString a = first.toString("MM/dd"), b = second.toString("MM/dd");
    const QStringList fields{"品名", "数量1", "数量2", "数量差", "金額1", "金額2", "金額差"};
    const QStringList captions{"品名",      "数量 " + a, "数量 " + b, "差",
                               "金額 " + a, "金額 " + b, "差額"};
    const int widths[] = {3000, 1350, 1350, 800, 1400, 1400, 1300};
    QVector<QPair<QString, int>> columns;
    for (int i = 0; i < fields.size(); ++i)
        columns.append({captions[i], widths[i]});
    report::Definition d = frame("rpt在庫比較", QStringLiteral("在庫比較表"),
                                 QStringLiteral("%1　%2 と %3")
                                     .arg(category.isEmpty() ? QStringLiteral("全区分") : category,
                                          dateText(first), dateText(second)),
                                 columns);
    int left = 280;
    for (int i = 0; i < fields.size(); ++i) {
        d.detail.items << report::field("txt" + fields[i], fields[i], i ? "#,##0" : "", left, 20,
                                        widths[i], 283, i ? Qt::AlignRight : Qt::AlignLeft);
        left += widths[i];
    }
    return d;
}

QVector<report::RowValues> compareRows(const Comparison& c) {
    QVector<report::RowValues> rows;
    const auto orNull = [](const auto& v) { return v ? QVariant(double(*v)) : QVariant(); };
    for (const Compared& p : c.products) {
        const auto money = [](const std::optional<Currency>& m) {
            return m ? QVariant(m->toDouble()) : QVariant();
        };
        rows << report::RowValues{{"品名", p.name},
                                  {"数量1", orNull(p.quantity[0])},
                                  {"数量2", orNull(p.quantity[1])},
                                  {"数量差", double(p.quantityChange())},
                                  {"金額1", money(p.amount[0])},
                                  {"金額2", money(p.amount[1])},
                                  {"金額差", p.amountChange().toDouble()}};
    }
    rows << report::RowValues{{"品名", QStringLiteral("合計")},
                              {"数量1", double(c.quantity[0])},
                              {"数量2", double(c.quantity[1])},
                              {"数量差", double(c.quantity[1] - c.quantity[0])},
                              {"金額1", c.amount[0].toDouble()},
                              {"金額2", c.amount[1].toDouble()},
                              {"金額差", (c.amount[1] - c.amount[0]).toDouble()}};
    return rows;
}

exchange::Records compareRecords(const Comparison& c, const QDate& first, const QDate& second) {
    const QString a = first.toString(Qt::ISODate), b = second.toString(Qt::ISODate);
    using K = exchange::CellKind;
    exchange::Records r;
    r.kinds = {K::Text, K::Text, K::Whole, K::Whole, K::Whole, K::Money, K::Money, K::Money};
    QVector<QStringList>& out = r.rows;
    out << QStringList{"コード", "品名",      "数量 " + a, "数量 " + b,
                       "数量差", "金額 " + a, "金額 " + b, "差額"};
    const auto q = [](const std::optional<qint64>& v) { return v ? whole(*v) : QString(); };
    const auto m = [](const std::optional<Currency>& v) { return v ? v->toString() : QString(); };
    for (const Compared& p : c.products)
        out << QStringList{exchange::guardFormula(p.code),
                           exchange::guardFormula(p.name),
                           q(p.quantity[0]),
                           q(p.quantity[1]),
                           whole(p.quantityChange()),
                           m(p.amount[0]),
                           m(p.amount[1]),
                           p.amountChange().toString()};
    out << QStringList{QString(),
                       "合計",
                       whole(c.quantity[0]),
                       whole(c.quantity[1]),
                       whole(c.quantity[1] - c.quantity[0]),
                       c.amount[0].toString(),
                       c.amount[1].toString(),
                       (c.amount[1] - c.amount[0]).toString()};
    return r;
}

} // namespace history

namespace history {

namespace {
const QStringList UncountedFields{"棚番", "code", "品名", "商品区分"};
} // namespace

report::Definition uncountedReport(const QDate& date, const QString& category) {
    const int widths[] = {1500, 2000, 4800, 2300};
    const QStringList captions{"棚番", "コード", "品名", "商品区分"};
    QVector<QPair<QString, int>> columns;
    for (int i = 0; i < captions.size(); ++i)
        columns.append({captions[i], widths[i]});
    report::Definition d =
        frame("rpt未棚卸", QStringLiteral("未棚卸一覧"),
              QStringLiteral("実施日　%1　%2")
                  .arg(dateText(date), category.isEmpty() ? QStringLiteral("全区分") : category),
              columns);
    // Every column is text: its caption stands where its values start.
    for (report::Item& i : d.pageHeader.items)
        if (i.name.startsWith("Head"))
            i.align = Qt::AlignLeft;
    int left = 280;
    for (int i = 0; i < UncountedFields.size(); ++i) {
        d.detail.items << report::field("txt" + UncountedFields[i], UncountedFields[i], QString(),
                                        left, 20, widths[i], 283, Qt::AlignLeft);
        left += widths[i];
    }
    return d;
}

QVector<report::RowValues> uncountedRows(const Rows& products) {
    QVector<report::RowValues> rows;
    rows.reserve(products.size());
    for (const Row& p : products) {
        report::RowValues r;
        for (int i = 0; i < UncountedFields.size(); ++i)
            r.insert(UncountedFields[i], p.value(i + 1));
        rows << r;
    }
    return rows;
}

exchange::Records uncountedRecords(const Rows& products) {
    exchange::Records r;
    r.title = QStringLiteral("未棚卸");
    r.rows << QStringList{"棚番", "code", "品名", "商品区分"};
    for (const Row& p : products) {
        QStringList line;
        for (int i = 1; i <= 4; ++i)
            line << exchange::guardFormula(p.value(i).toString());
        r.rows << line;
    }
    return r;
}

} // namespace history
