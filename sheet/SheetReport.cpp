#include "sheet/SheetReport.h"

#include "base/Values.h"

#include <algorithm>

namespace sheet {

using report::Item;
using report::ItemKind;
using report::label;

namespace {
Item textBox(const QString& name, const QString& text, int l, int t, int w, int h,
             Qt::Alignment a = Qt::AlignLeft) {
    return report::item(ItemKind::TextBox, name, text, l, t, w, h, a);
}
} // namespace

report::Definition sheetReport(const PrintHeading& h, Form form) {
    report::Definition d;
    d.name = QStringLiteral("rpt在庫表");
    d.marginTop = 500;
    d.pageHeader.height = 1060;
    Item category = label("Lbl商品区分", "商品区分", 4250, 315, 1035, 360);
    category.visible = !h.category.isEmpty();
    d.pageHeader.items = {
        label("Label1", "在庫表", 280, 50, 1347, 354, Qt::AlignLeft, 16, true),
        label("Label2", "日付", 1660, 315, 660, 360),
        textBox("txt日付", h.date, 2350, 315, 1845, 360),
        category,
        textBox("txt商品区分", h.category, 5295, 315, 2865, 360),
        label("Label3", "合計金額", 8200, 315, 1050, 360),
        textBox("txt合計金額", h.total, 9300, 315, 1530, 360, Qt::AlignRight),
        label("Label13", "Page", 9638, 7, 496, 283, Qt::AlignLeft, 9),
        report::item(ItemKind::PageNumber, "Field2", QString(), 10250, 0, 570, 285, Qt::AlignRight,
                     9),
        label("Label6", "　　商品コード　　　　品　　　　　　名", 210, 700, 4530, 345),
        label("Label5", "数　量", 4720, 700, 1190, 345, Qt::AlignRight),
        label("Label7", "適正数", 5900, 700, 1120, 345, Qt::AlignRight),
        label("Label8", "増減", 7010, 700, 920, 345, Qt::AlignRight),
        label("Label9", "単位", 7910, 700, 720, 345, Qt::AlignHCenter),
        label("Label10", "単　価", 8620, 700, 1000, 345, Qt::AlignRight),
        label("Label4", "金　　額", 9580, 700, 1276, 345, Qt::AlignRight),
    };
    d.detail.height = 660;
    d.detail.items = {
        report::field("txtcode", "code", QString(), 225, 15, 1875, 270, Qt::AlignLeft),
        report::field("txt品名", "品名", QString(), 2190, 0, 5400, 285, Qt::AlignLeft),
        report::field("txt数量", "数量", "#,##0", 4720, 340, 1150, 283, Qt::AlignRight),
        report::field("txt適正数", "適正数", "#,###", 5900, 340, 1100, 283, Qt::AlignRight),
        report::field("txt増減", "増減", "#,###", 7010, 340, 880, 283, Qt::AlignRight),
        report::field("txt単位", "単位", QString(), 7910, 340, 709, 283, Qt::AlignHCenter),
        report::field("txt単価", "単価", "#,###", 8620, 340, 992, 283, Qt::AlignRight),
        report::field("txt金額", "金額", "#,###", 9580, 340, 1276, 283, Qt::AlignRight),
        report::rule("Line1", 210, 650, 10860),
    };
    if (form == Form::Counted)
        return d;
    // A form to write on: the boxes stand where the counted figures would.
    for (Item& it : d.detail.items) {
        if (it.name == "txt数量" || it.name == "txt増減" || it.name == "txt金額") {
            it = report::item(ItemKind::Box, it.name, QString(), it.left + 60, it.top - 20,
                              it.width - 60, it.height + 20);
        }
        if (form == Form::Blind && it.name == "txt適正数")
            it.visible = false;
    }
    for (Item& it : d.pageHeader.items) {
        if (it.name == "txt合計金額" || it.name == "Label3")
            it.visible = false;
        if (form == Form::Blind && it.name == "Label7")
            it.visible = false;
    }
    d.pageHeader.items[0].text = QStringLiteral("棚卸記入表");
    // A counter walks the shop shelf by shelf: each shelf under its heading.
    d.groupField = QStringLiteral("棚番");
    d.groupHeader.height = 420;
    Item shelf = report::field("txt棚番", "棚番", QString(), 950, 60, 4000, 320, Qt::AlignLeft);
    shelf.bold = true;
    shelf.fontPt = 11;
    d.groupHeader.items = {label("Label棚番", "棚番", 210, 60, 700, 320, Qt::AlignLeft, 11, true),
                           shelf, report::rule("Line棚番", 210, 400, 10860)};
    return d;
}

QVector<report::RowValues> byShelf(QVector<report::RowValues> rows) {
    const QString key = QStringLiteral("棚番");
    for (report::RowValues& r : rows)
        if (isEmptyValue(r.value(key)))
            r.insert(key, QVariant());
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
        const QVariant x = a.value(key), y = b.value(key);
        if (x.isNull() != y.isNull())
            return y.isNull();
        return !x.isNull() && x.toString() < y.toString();
    });
    for (report::RowValues& r : rows)
        if (r.value(key).isNull())
            r.insert(key, QStringLiteral("棚番なし"));
    return rows;
}

} // namespace sheet
