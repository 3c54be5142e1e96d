#pragma once

#include "report/Report.h"

// The report rpt在庫表: the sheet as printed, with its heading texts.
namespace sheet {

struct PrintHeading {
    QString date;     // PrintDate: "yyyy年MM月dd日", empty without a date
    QString category; // PrintCategory
    QString total;    // PrintTotal: "#,###", empty when the total shows nothing
};

// The form printed: the sheet as counted, or a form to count on by hand with
// 数量, 増減 and 金額 as empty boxes, the proper quantity also hidden for a
// blind count.
enum class Form { Counted, Blank, Blind };

// The count forms (Blank, Blind) stand shelf by shelf, each shelf under its
// heading: give them their rows through byShelf.
report::Definition sheetReport(const PrintHeading& heading, Form form = Form::Counted);
// The print rows in shelf order (lines without a shelf last, under 「棚番なし」),
// each shelf's lines in the sheet's order.
QVector<report::RowValues> byShelf(QVector<report::RowValues> rows);

} // namespace sheet
