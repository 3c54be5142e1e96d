#include "work/RefModels.h"

#include "work/WorkResets.h"

RefModels RefModels::create(Store& store, QObject* parent) {
    using K = WorkTableModel::Kind;
    RefModels r;
    r.products = new WorkTableModel(store, "w商品参照", "seq",
                                    {{"code", "コード", K::Text, {}, Qt::AlignHCenter, false},
                                     {"品名", "品　　　名", K::Text, {}, Qt::AlignLeft, false},
                                     {"単位", "単位", K::Text, {}, Qt::AlignHCenter, false},
                                     {"単価", "単　価", K::Money, "#,###", Qt::AlignRight, false},
                                     {"適正数", "適正数", K::Whole, "#,###", Qt::AlignRight, false},
                                     {"商品区分", "商品区分", K::Text, {}, Qt::AlignLeft, false}},
                                    parent);
    r.products->setObjectName("dat商品参照");
    // Ten thousand products are copied when the product list is next opened,
    // not after every registration.
    r.products->setRefill([&store] { return resets::readProductRefs(store); });
    r.categories = new WorkTableModel(store, "w商品区分参照", "seq",
                                      {{"sname", "", K::Text, {}, Qt::AlignLeft, false}}, parent);
    r.categories->setObjectName("dat商品区分");
    r.units = new WorkTableModel(store, "w単位参照", "seq",
                                 {{"sname", "", K::Text, {}, Qt::AlignLeft, false}}, parent);
    r.units->setObjectName("dat単位参照");
    return r;
}
