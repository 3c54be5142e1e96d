#pragma once

#include "store/Store.h"

#include <QStringList>

// Realistic data for the benchmark: products with Japanese names, categories
// and units, and saved sheets.
namespace gen {

QStringList categories(); // 20 names
QStringList units();      // 12 names
QString productName(int i);
QString productCode(int i);

// Fills the product master with n products and names the slots.
void products(Store& store, int n);
// The slots of the code master hold the categories and units above, the rest free.
void nameSlots(Store& store);
// Saves `sheets` sheets of `lines` lines, one date each from 2026-01-01 on.
void sheets(Store& store, int sheets, int lines);
// Saved sheets of `days` days from `first`, each day one sheet per category
// ("区分01" …) of `lines` lines.
void dailyCounts(Store& store, const QDate& first, int days, int categories, int lines);
// Fills the work sheet with `lines` named lines; every other line names a new
// product, the rest known ones.
void workSheet(Store& store, int lines, int seed);

} // namespace gen
