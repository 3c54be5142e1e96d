#include "work/RefModels.h"

#include "work/ProductRefModel.h"

RefModels RefModels::create(Store& store, QObject* parent) {
    RefModels r;
    r.products = [&store](QObject* owner) {
        // Each editor's list opens at its cell's entry and its proposals
        // follow what is typed: neither needs the first page beforehand.
        auto* m = new products::ProductRefModel(store, owner, false);
        m->setObjectName("dat商品参照");
        return m;
    };
    r.categories = new WorkTableModel(store, "w商品区分参照", "seq", codes::NameColumns, parent);
    r.categories->setObjectName("dat商品区分");
    r.units = new WorkTableModel(store, "w単位参照", "seq", codes::NameColumns, parent);
    r.units->setObjectName("dat単位参照");
    return r;
}
