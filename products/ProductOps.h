#pragma once

#include "base/Values.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <optional>

namespace products {

// Writes products matched by name inside the caller's transaction: the first
// product with the name is overwritten, or a new one is added. With
// keepStoredCode a null code leaves the stored code as it is.
class NameMatchedWriter {
  public:
    NameMatchedWriter(Store& store, bool keepStoredCode);
    // True when it added a product, false when it overwrote one.
    bool write(const QVariant& code, const QVariant& name, const QVariant& unit,
               const QVariant& price, const QVariant& proper, const QVariant& category);

  private:
    Store& m_store;
    QSqlQuery m_find, m_update, m_add;
};

// The product list: every product in code order, or those of one category.
Status read商品情報(Store& store, const QString& category);
// Writes every list row back to the master, matched by name; units and
// categories enter the code master. One transaction.
struct Registered {
    int added = 0;
    int updated = 0;
};
Result<Registered> entry商品情報(Store& store);
// Retires the product of list row `seq` from the master (rows whose code and
// name both equal the row's) and removes the row from the list.
Status lineDelete商品情報(Store& store, qint64 seq);

// One product as the detail panel holds it.
struct Detail {
    QString code;
    QString name;
    QString unit;
    Currency price;
    std::int64_t proper = 0;
    QString category;
};
// The first product of that name; nullopt when there is none.
Result<std::optional<Detail>> read商品詳細(Store& store, const QString& name);
// Registers the panel by code (overwrite the first product with the code, or
// add one); the category enters the code master. One transaction.
Status entry商品詳細(Store& store, const Detail& d);

// Copies the product list into its print table.
Status fillProductPrint(Store& store);

} // namespace products
