#pragma once

#include "store/Store.h"

#include <optional>

namespace hints {

// The stored note of a window's control; none when there is none or its text
// is null.
Result<std::optional<QString>> readHint(Store& store, const QString& formName,
                                        const QString& ctlName);
// Replaces the note of the window's control (one row per pair).
Status entryHint(Store& store, const QString& formName, const QString& ctlName,
                 const QString& formTitle, const QString& contents);
// Deletes the note of the window's control.
Status deleteHint(Store& store, const QString& formName, const QString& ctlName);

} // namespace hints
