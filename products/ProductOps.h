#pragma once

#include "products/ProductLedger.h"

#include <optional>

namespace products {

// The product list: every product in code order, or those of one category.
// Each row remembers its product and that product's version.
Status read商品情報(Store& store, const QString& category);

// Writes the list rows edited since they were read back to the master (by
// saveProducts), matched by name; units and categories enter the code master. A row whose
// product changed since it was read is not written but named in conflicts;
// the others are written in one transaction.
Result<ListSaved> entry商品情報(Store& store);
// The product a list row was read from and its version then (0, 0 for none).
Result<QPair<qint64, qint64>> readFrom(Store& store, qint64 seq);
// The user's answers to conflicts: keep the rows' contents (the next 登録
// overwrites what is stored now), or take the stored products into the rows.
Status keepMine(Store& store, const QVector<Conflict>& conflicts);
Status takeTheirs(Store& store, const QVector<Conflict>& conflicts);
// Retires the product of list row `seq` from the master (rows whose code and
// name both equal the row's) and removes the row from the list.
Status lineDelete商品情報(Store& store, qint64 seq);

// The first product of that name; nullopt when there is none.
Result<std::optional<Detail>> read商品詳細(Store& store, const QString& name);
// What the panel's name look-up fills in: the first product of that name, for
// a new product only (no code, or a code no product has); nullopt otherwise,
// so that renaming a product never takes another's values.
Result<std::optional<Detail>> lookUp商品詳細(Store& store, const QString& name,
                                             const QString& code);
// The product with that id; nullopt when it is gone.
Result<std::optional<Detail>> readProduct(Store& store, qint64 id);
// Copies the product list into its print table.
Status fillProductPrint(Store& store);

} // namespace products
