#pragma once

#include "phones/PhoneServer.h"

#include <QDialog>
#include <QTimer>

class QCheckBox;
class QLabel;
class QSpinBox;
class QTableView;
class RowsModel;

namespace phones {

// The PC's addresses on the shop's network (IPv4, not loopback), then its name.
QStringList lanAddresses();
// The QR code of a text as a picture, `scale` pixels a module, with the quiet zone.
QImage qrCode(const QString& text, int scale);

// 「スマホで数える」: serving the page on or off, where phones reach it, the QR
// code that pairs the next phone, and the phones paired.
class PhoneDialog : public QDialog {
    Q_OBJECT
  public:
    PhoneDialog(Store& store, PhoneServer& server, QWidget* parent = nullptr);
    void refresh();

  private:
    void serve(bool on);
    void served();
    void newCode();
    void revoke();
    Store& m_store;
    PhoneServer& m_server;
    QCheckBox* m_serve;
    QSpinBox* m_port;
    QLabel* m_where;
    QLabel* m_qr;
    QLabel* m_said;
    QTableView* m_devices;
    RowsModel* m_model;
    QVector<Device> m_shown;
    QString m_fingerprint, m_address;
    QTimer m_refresh;
};

} // namespace phones
