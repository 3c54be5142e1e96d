#pragma once

#include <QString>

class QApplication;

// Japanese translations of Qt's own dialogs and the ledger's font.
void setupApplication(QApplication& app);
// The data folder: `chosen` (--data-dir) when given, else STOLVA_DATA_DIR when
// set (for development and tests), else the program's folder + "data/".
QString resolveDataPath(const QString& chosen = QString());
