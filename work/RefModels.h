#pragma once

#include "work/WorkTableModel.h"

#include <functional>

// The reference lists behind the grids' drop-downs, shared by every tab.
struct RefModels {
    // DD商品参照: each drop-down reads the products its filter shows from the
    // ledger (a hundred thousand products are never copied).
    std::function<QAbstractItemModel*(QObject* parent)> products;
    WorkTableModel* categories = nullptr; // w商品区分参照, DD商品区分
    WorkTableModel* units = nullptr;      // w単位参照, DD単位参照

    static RefModels create(Store& store, QObject* parent);
};
