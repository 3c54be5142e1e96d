#pragma once

#include "sheet/SheetLedger.h"

#include <QHash>
#include <QVector>

// What a saved count does to the product master: names no product has are
// added with their lines' values, a known product gets only the fields typed
// on its lines, and one changed elsewhere since is a conflict.
namespace sheet {

// What the named lines of a sheet do to the product master.
struct ProductPlan {
    struct Change {
        QString name;
        qint64 id = 0, version = 0; // the product and its version now
        Row stored, wanted;         // code … 商品区分
        bool conflict = false;      // changed since a line typed into it got its values
    };
    QVector<Row> added; // one new product per name, code … 商品区分
    QVector<Change> changed;
};

// The plan of a save of these lines.
ProductPlan planProducts(Store& store, const QVector<CountLine>& lines);
// Writes a save's plan inside its transaction: new products added, the typed
// fields of known ones, each at the version read; a product changed elsewhere
// since its line got its values only when the user chose to overwrite that
// version of it.
void writeProducts(Store& store, const ProductPlan& plan, const QHash<qint64, qint64>& overwrite);

} // namespace sheet
