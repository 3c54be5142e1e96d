#pragma once

#include "store/Store.h"

#include <QGroupBox>

class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

// 接続先 on the settings tab: the ledger on this PC or on a PostgreSQL
// server (host, port, database, user; never a password), tried with
// 接続テスト and kept for the next start with 接続保存; サーバーへコピー moves
// this PC's ledger onto an empty server database.
class ConnectionPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit ConnectionPanel(Store& store, QWidget* parent = nullptr);
    // Shows a server in the boxes (the one this start uses).
    void show(const server::Address& a);

  signals:
    void statusMessage(const QString& text);

  private:
    // The server the boxes name; a failure says which box is wrong.
    Result<server::Address> address() const;
    void test();
    void keep();
    void copy();
    Store& m_store;
    QRadioButton *m_local, *m_server;
    QLineEdit *m_host, *m_database, *m_user;
    QString m_options; // the address's libpq options, kept when it is saved
    QSpinBox* m_port;
    QLabel* m_said;
};
