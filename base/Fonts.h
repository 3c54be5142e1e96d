#pragma once

#include <QStringList>

// The faces of the ledger, best first, for the screen and the reports alike.
inline QStringList ledgerFontFamilies() {
    return {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
            QStringLiteral("Noto Sans CJK JP")};
}
