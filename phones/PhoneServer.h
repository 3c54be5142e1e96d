#pragma once

#include "phones/Certificates.h"
#include "phones/PhoneApi.h"

#include <QObject>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace httplib {
class Server;
class SSLServer;
} // namespace httplib

namespace phones {

class Worker;

// How many phones may stay connected at once.
constexpr int PhoneThreads = 128;

// Serving the counting page to the shop's phones: HTTPS on `port` with this
// PC's certificate, and plain HTTP on port + 1 for the one thing a phone
// needs before it trusts the PC — the shop's authority to install. Nothing
// listens until start(); stop() (or the destructor) ends both. The ledger is
// reached on a thread of its own with a connection of its own, as another PC
// would; each change is told by recorded() on this object's thread.
class PhoneServer : public QObject {
    Q_OBJECT
  public:
    // dataPath and server: the ledger to open; work: a folder for its work file.
    PhoneServer(QString dataPath, std::optional<server::Address> server, QString work,
                QObject* parent = nullptr);
    ~PhoneServer() override;
    // Listens on `host` (an address of this PC; "0.0.0.0" for all); false with
    // the reason when it cannot.
    Status start(const Certificates& certs, const QString& host, int port);
    void stop();
    // Keeps the certificate right while serving: every half minute (and at
    // checkAddresses()) the PC's addresses are asked again and the
    // certificate in `folder` renewed when they changed or its end is near;
    // the service then goes on with the new one and says renewed().
    void watchAddresses(const QString& folder, std::function<QStringList()> addresses);
    Status checkAddresses(const QDateTime& now = QDateTime::currentDateTimeUtc());
    const Certificates& certificates() const { return m_certs; }
    bool running() const { return bool(m_tls); }
    int port() const { return m_port; }
    // The count the PC offers the phones (its sheet's date and category):
    // the page starts on it and can go back to it.
    void setCount(const QDate& date, const QString& category);
    // A one-time token for the next QR code.
    QString pairingToken();

  signals:
    void recorded(const QString& day);
    void renewed();

  private:
    Status listen(const Certificates& certs);
    void stopListening();
    QString m_dataPath, m_work;
    Certificates m_certs;
    QString m_host, m_certFolder;
    std::function<QStringList()> m_addresses;
    QTimer m_watch;
    std::optional<server::Address> m_server;
    QDate m_countDate;
    QString m_countCategory;
    QThread m_thread;
    Worker* m_worker = nullptr;
    std::unique_ptr<httplib::SSLServer> m_tls;
    std::unique_ptr<httplib::Server> m_plain;
    std::thread m_tlsLoop, m_plainLoop;
    int m_port = 0;
    int m_tlsSocket = -1;
};

} // namespace phones
