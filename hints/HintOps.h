#pragma once

#include "store/Store.h"

namespace hints {

// The stored note of a window's control; `found` false when there is none or
// its text is null.
Status readHint(Store& store, const QString& formName, const QString& ctlName, QString* contents,
                bool* found);
// Replaces the note of the window's control (one row per pair).
Status entryHint(Store& store, const QString& formName, const QString& ctlName,
                 const QString& formTitle, const QString& contents);
// Deletes the note of the window's control.
Status deleteHint(Store& store, const QString& formName, const QString& ctlName);

} // namespace hints
