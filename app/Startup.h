#pragma once

#include <QString>

class QApplication;

// Japanese translations of Qt's own dialogs and the ledger's font.
void setupApplication(QApplication& app);
// The data folder: the program's folder + "data/", or STOLVA_DATA_DIR when set
// (for development and tests).
QString resolveDataPath();
