#pragma once

#include "work/WorkTableModel.h"

// The reference lists behind the grids' drop-downs, shared by every tab.
struct RefModels {
    WorkTableModel* products = nullptr;   // w商品参照, DD商品参照
    WorkTableModel* categories = nullptr; // w商品区分参照, DD商品区分
    WorkTableModel* units = nullptr;      // w単位参照, DD単位参照

    static RefModels create(Store& store, QObject* parent);
};
