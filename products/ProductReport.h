#pragma once

#include "report/Report.h"

#include <QDate>

// The report rpt商品情報: the product list as printed.
namespace products {

report::Definition productReport(const QString& category, const QDate& printed);

} // namespace products
