#pragma once

#include "backup/BackupOps.h"

#include <QGroupBox>

class QLabel;
class QTreeWidget;

// The data folder and its backups on the settings tab: the list of copies,
// making one now (also to a folder the user chooses), and restoring one.
class BackupPanel : public QGroupBox {
    Q_OBJECT
  public:
    BackupPanel(Store& store, QWidget* parent = nullptr);
    // Reads the folder again: the data folder's path and every copy.
    void refresh();
    // The copy chosen in the list, empty when none.
    QString chosen() const;

  signals:
    // 復元 on a chosen copy: the window asks, restores and refreshes every tab.
    void restoreRequested(const QString& path);
    void statusMessage(const QString& text);

  private:
    void makeNow(const QString& dir);
    Store& m_store;
    QLabel* m_path;
    QTreeWidget* m_list;
};
