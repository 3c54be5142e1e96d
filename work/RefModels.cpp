#include "work/RefModels.h"

#include "work/WorkResets.h"

RefModels RefModels::create(Store& store, QObject* parent) {
    RefModels r;
    r.products = new WorkTableModel(store, "w商品参照", "seq", products::RefColumns, parent);
    r.products->setObjectName("dat商品参照");
    // Ten thousand products are copied when the product list is next opened,
    // not after every registration.
    r.products->setRefill([&store] { return resets::readProductRefs(store); });
    r.categories = new WorkTableModel(store, "w商品区分参照", "seq", codes::NameColumns, parent);
    r.categories->setObjectName("dat商品区分");
    r.units = new WorkTableModel(store, "w単位参照", "seq", codes::NameColumns, parent);
    r.units->setObjectName("dat単位参照");
    return r;
}
