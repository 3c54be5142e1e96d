#pragma once

#include "base/Result.h"
#include "store/Server.h"

#include <QString>
#include <optional>

class QApplication;
class QCoreApplication;

// The locale, Qt's Japanese texts, the program's name and version.
void setupNames(QCoreApplication& app);
// setupNames and the ledger's font.
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

// The server the ledger is on: `chosen` (--server) when given, else
// STOLVA_SERVER when set, else the one kept by 接続保存 on 設定・情報; none
// for the local file. A URI that cannot be read is a failure.
Result<std::optional<server::Address>> resolveServer(const QString& chosen = QString());
// The key 接続保存 keeps the server under (its URI, empty for the local file).
constexpr const char* ServerSetting = "connection/server";
