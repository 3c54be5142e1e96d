#pragma once

#include <QString>

class QApplication;

// Japanese translations of Qt's own dialogs and the ledger's font.
void setupApplication(QApplication& app);
// The id of the desktop entry, the icon and the AppStream file.
constexpr const char* AppId = "org.stolva.Stolva";
// An installed program: its folder is not writable, or it sits in an install
// prefix (<prefix>/bin beside <prefix>/share/metainfo/<AppId>.metainfo.xml).
bool isInstalledAt(const QString& programDir);
// The data folder: `chosen` (--data-dir) when given, else STOLVA_DATA_DIR when
// set, else for a portable copy (or the build folder) the program's folder +
// "data/", for an installed program the user's data folder
// (~/.local/share/Stolva/).
QString resolveDataPath(const QString& chosen = QString());
