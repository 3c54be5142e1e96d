#pragma once

#include "report/Report.h"

// The report rpt在庫表: the sheet as printed, with its heading texts.
namespace sheet {

struct PrintHeading {
    QString date;     // PrintDate: "yyyy年MM月dd日", empty without a date
    QString category; // PrintCategory
    QString total;    // PrintTotal: "#,###", empty when the total shows nothing
};

report::Definition sheetReport(const PrintHeading& heading);

} // namespace sheet
