#include "phones/PhoneServer.h"

#include <QFile>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>

#include <httplib.h>
#include <openssl/pem.h>

namespace phones {

// The ledger's side of the service, on its own thread: a store of its own
// (its connections belong to that thread) and the page's requests answered
// there one at a time.
class Worker : public QObject {
    Q_OBJECT
  public:
    Worker(PhoneServer* owner) : m_owner(owner) {}
    Status open(const QString& dataPath, const std::optional<server::Address>& address,
                const QString& work) {
        m_store = std::make_unique<Store>();
        m_store->setWorkFolder(work);
        m_store->setServer(address);
        const Status s = m_store->open(dataPath);
        if (!s)
            return s;
        m_api = std::make_unique<PhoneApi>(
            *m_store, m_pairing, [] { return QDateTime::currentDateTimeUtc(); },
            [this](const QString& day) { emit m_owner->recorded(day); });
        return s;
    }
    void close() {
        m_api.reset();
        m_store.reset();
    }
    Response handle(const Request& r) {
        if (!m_api)
            return {503, R"({"error":"台帳を開けていません。"})"};
        return m_api->handle(r);
    }
    QString issue() { return m_pairing.issue(QDateTime::currentDateTimeUtc()); }

  private:
    PhoneServer* m_owner;
    Pairing m_pairing;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<PhoneApi> m_api;
};

namespace {
// Runs f on the worker's thread and waits for its answer.
template <typename F> auto onWorker(Worker* w, F f) {
    decltype(f()) out;
    QMetaObject::invokeMethod(
        w, [&] { out = f(); }, Qt::BlockingQueuedConnection);
    return out;
}

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* p) const { Free(p); }
};

QByteArray caPage(const QString& https) {
    return QStringLiteral(
               "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width\"><title>Stolva</title>"
               "</head><body><h1>Stolva でスマホ棚卸</h1><ol><li><a href=\"/ca.crt\">お店の証明書"
               "</a>をこのスマホに入れます（手順は PC の「使い方」にあります）。</li><li><a "
               "href=\"%1\">数える画面</a>を開きます。</li></ol></body></html>")
        .arg(https.toHtmlEscaped())
        .toUtf8();
}
} // namespace

PhoneServer::PhoneServer(QString dataPath, std::optional<server::Address> server, QString work,
                         QObject* parent)
    : QObject(parent), m_dataPath(std::move(dataPath)), m_work(std::move(work)),
      m_server(std::move(server)) {}

PhoneServer::~PhoneServer() {
    stop();
}

QString PhoneServer::pairingToken() {
    return m_worker ? onWorker(m_worker, [this] { return m_worker->issue(); }) : QString();
}

Status PhoneServer::start(const Certificates& certs, const QString& host, int port) {
    stop();
    m_worker = new Worker(this);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
    const Status opened =
        onWorker(m_worker, [this] { return m_worker->open(m_dataPath, m_server, m_work); });
    if (!opened) {
        stop();
        return opened;
    }
    BIO* cb = BIO_new_mem_buf(certs.certPem.constData(), int(certs.certPem.size()));
    std::unique_ptr<X509, Freer<X509, X509_free>> cert(
        PEM_read_bio_X509(cb, nullptr, nullptr, nullptr));
    BIO_free(cb);
    BIO* kb = BIO_new_mem_buf(certs.keyPem.constData(), int(certs.keyPem.size()));
    std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>> key(
        PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr));
    BIO_free(kb);
    if (!cert || !key) {
        stop();
        return Status::failed(QStringLiteral("証明書が読めません。"), ErrorKind::Io);
    }
    m_tls = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
    m_plain = std::make_unique<httplib::Server>();
    if (!m_tls->is_valid()) {
        stop();
        return Status::failed(QStringLiteral("HTTPS を始められません。"), ErrorKind::Io);
    }
    m_tls->set_payload_max_length(MaxBody + 1);
    // A scan's answer goes at once, not after the phone's next packet.
    m_tls->set_tcp_nodelay(true);
    const auto serve = [this](const httplib::Request& in, httplib::Response& out) {
        Request r;
        r.method = QByteArray::fromStdString(in.method);
        r.path = QString::fromStdString(in.path);
        for (const auto& [k, v] : in.params)
            r.query.insert(QString::fromStdString(k), QString::fromStdString(v));
        r.body = QByteArray::fromStdString(in.body);
        const QString auth = QString::fromStdString(in.get_header_value("Authorization"));
        if (auth.startsWith(QLatin1String("Bearer ")))
            r.bearer = auth.mid(7).trimmed();
        const Response answer = onWorker(m_worker, [&] { return m_worker->handle(r); });
        out.status = answer.status;
        out.set_content(answer.body.toStdString(), "application/json; charset=utf-8");
    };
    // The counting page: everything it runs comes from here, nothing from the internet.
    m_tls->Get("/", [](const httplib::Request&, httplib::Response& out) {
        QFile page(QStringLiteral(":/phones/index.html"));
        page.open(QIODevice::ReadOnly);
        out.set_header("Content-Security-Policy",
                       "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'self' "
                       "'unsafe-inline'; connect-src 'self'; media-src 'self' blob: mediastream:");
        out.set_header("X-Content-Type-Options", "nosniff");
        out.set_header("Cache-Control", "no-store");
        out.set_content(page.readAll().toStdString(), "text/html; charset=utf-8");
    });
    m_tls->Get("/api/.*", serve);
    m_tls->Post("/api/.*", serve);
    const QByteArray ca = certs.caPem;
    m_plain->Get("/ca.crt", [ca](const httplib::Request&, httplib::Response& out) {
        out.set_content(ca.toStdString(), "application/x-x509-ca-cert");
    });
    const QString https = QStringLiteral("https://%1:%2/").arg(host).arg(port);
    m_plain->Get("/", [https](const httplib::Request&, httplib::Response& out) {
        out.set_content(caPage(https).toStdString(), "text/html; charset=utf-8");
    });
    // The plain port serves nothing else: the ledger only over TLS.
    const std::string at = host.toStdString();
    if (!m_tls->bind_to_port(at, port) || !m_plain->bind_to_port(at, port + 1)) {
        stop();
        return Status::failed(
            QStringLiteral(
                "ポート %1 と %2 を使えません（ほかのプログラムが使用中かもしれません）。")
                .arg(port)
                .arg(port + 1),
            ErrorKind::Busy);
    }
    m_port = port;
    m_tlsLoop = std::thread([this] { m_tls->listen_after_bind(); });
    m_plainLoop = std::thread([this] { m_plain->listen_after_bind(); });
    return Status{};
}

void PhoneServer::stop() {
    if (m_tls)
        m_tls->stop();
    if (m_plain)
        m_plain->stop();
    if (m_tlsLoop.joinable())
        m_tlsLoop.join();
    if (m_plainLoop.joinable())
        m_plainLoop.join();
    m_tls.reset();
    m_plain.reset();
    if (m_worker && m_thread.isRunning())
        onWorker(m_worker, [this] {
            m_worker->close();
            return 0;
        });
    m_thread.quit();
    m_thread.wait();
    m_worker = nullptr; // deleted by the thread's end
    m_port = 0;
}

} // namespace phones

#include "PhoneServer.moc"
