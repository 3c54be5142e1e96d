#pragma once

#include "store/Store.h"

// Erasing all data: a consistent copy of the main file goes to
// <data>/backup/Stolva-YYYYMMDD-HHMMSS-erase.mdb first, then sheets, products and
// company information are deleted and every slot loses its name, in one
// transaction. Hints are kept. Gives the copy's path.
Result<QString> allDelete(Store& store);
