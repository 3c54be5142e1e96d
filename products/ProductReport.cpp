#include "products/ProductReport.h"

namespace products {

using report::Item;
using report::item;
using report::ItemKind;

namespace {
const int Row2 = 340; // the second row of a block
Item detailField(const QString& name, const QString& f, const QString& format, int l, int t, int w,
                 Qt::Alignment a) {
    return report::field(name, f, format, l, t, w, 283, a);
}
} // namespace

report::Definition productReport(const QString& category, const QDate& printed) {
    report::Definition d;
    d.name = QStringLiteral("rpt商品情報");
    d.marginTop = 400;
    d.pageHeader.height = 990;
    const auto L = ItemKind::Label;
    const auto T = ItemKind::TextBox;
    d.pageHeader.items = {
        item(L, "Label1", "商品情報", 280, 50, 1600, 354, Qt::AlignLeft, 16, true),
        item(L, "Label2", "日付", 2000, 315, 660, 360),
        item(T, "txt日付", printed.toString("yyyy年MM月dd日"), 2690, 315, 1845, 360),
        item(L, "Label11", "商品区分", 4700, 315, 1035, 360),
        item(T, "txt商品区分", category, 5745, 315, 2865, 360),
        item(L, "Label13", "Page", 9638, 7, 496, 283, Qt::AlignLeft, 9),
        item(ItemKind::PageNumber, "Field2", QString(), 10250, 0, 570, 285, Qt::AlignRight, 9),
        item(L, "Label6", "　　商品コード　　　　　品　　　　　　　　名", 210, 640, 4800, 345),
        item(L, "Label9", "単位", 5300, 640, 700, 345, Qt::AlignHCenter),
        item(L, "Label10", "単　価", 5950, 640, 1200, 345, Qt::AlignRight),
        item(L, "Label7", "適正数", 7200, 640, 1100, 345, Qt::AlignRight),
        item(L, "Label12", "商品区分", 8500, 640, 2300, 345),
    };

    d.detail.height = 660;
    d.detail.items = {
        detailField("txtcode", "code", QString(), 225, 15, 1875, Qt::AlignLeft),
        detailField("txt品名", "品名", QString(), 2190, 0, 5400, Qt::AlignLeft),
        detailField("txt単位", "単位", QString(), 5300, Row2, 700, Qt::AlignHCenter),
        detailField("txt単価", "単価", "#,###", 5950, Row2, 1200, Qt::AlignRight),
        detailField("txt適正数", "適正数", "#,###", 7200, Row2, 1100, Qt::AlignRight),
        detailField("Field1", "商品区分", QString(), 8500, Row2, 2300, Qt::AlignLeft),
        report::rule("Line1", 210, 650, 10860),
    };
    return d;
}

} // namespace products
