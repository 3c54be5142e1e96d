#include "phones/PhoneServer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>

#include <httplib.h>
#include <openssl/pem.h>
#include <sys/socket.h>

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
        m_api->setFingerprint(m_fingerprint);
        m_api->setCount(m_date, m_category);
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
    void setCount(const QDate& date, const QString& category) {
        m_date = date;
        m_category = category;
        if (m_api)
            m_api->setCount(date, category);
    }
    void setFingerprint(const QString& fp) {
        m_fingerprint = fp;
        if (m_api)
            m_api->setFingerprint(fp);
    }

  private:
    PhoneServer* m_owner;
    Pairing m_pairing;
    QString m_fingerprint;
    QDate m_date;
    QString m_category;
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

// The plain page: the shop's authority for the phone to trust, then the way
// to the counting page. Nothing of the ledger is reachable from here.
QByteArray caPage(const QString& https) {
    return QStringLiteral(
               "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
               "<title>Stolva 証明書</title><style>body{font-family:system-ui,sans-serif;"
               "font-size:18px;margin:12px}li{margin:8px 0}a{font-weight:bold}</style></head>"
               "<body><h1>Stolva でスマホ棚卸</h1><p>はじめに一度だけ、お店の証明書をこの"
               "スマホに入れます。</p><h2>iPhone・iPad</h2><ol><li><a id=\"ios\" "
               "href=\"/stolva.mobileconfig\">構成プロファイル</a>をダウンロードし、「許可」"
               "を選びます。</li><li>設定 → 一般 → VPN とデバイス管理 → 「Stolva "
               "お店の証明書」→ インストール。</li><li>設定 → 一般 → 情報 → 証明書信頼設定"
               " で「Stolva お店の認証局」をオンにします。</li></ol><h2>Android</h2><ol><li><a "
               "id=\"android\" href=\"/ca.crt\">証明書</a>をダウンロードします。</li><li>設定"
               " → セキュリティ → 暗号化と認証情報 → 証明書のインストール → CA 証明書 で、"
               "ダウンロードした stolva-ca.crt を選びます。</li></ol><h2>数える</h2><p>PC の"
               "「スマホで数える」の QR コードを読み取るか、<a id=\"open\" href=\"%1\">数える"
               "画面</a>を開きます。</p></body></html>")
        .arg(https.toHtmlEscaped())
        .toUtf8();
}

// The iOS profile that carries the authority (a root certificate payload);
// unsigned, so the phone shows it as such and asks before it trusts it.
QByteArray iosProfile(const QByteArray& caPem) {
    BIO* b = BIO_new_mem_buf(caPem.constData(), int(caPem.size()));
    X509* ca = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    QByteArray der;
    if (ca) {
        unsigned char* out = nullptr;
        const int n = i2d_X509(ca, &out);
        if (n > 0)
            der = QByteArray(reinterpret_cast<const char*>(out), n);
        OPENSSL_free(out);
        X509_free(ca);
    }
    // Fixed identifiers from the authority's own bytes: installing again replaces.
    const QByteArray h = QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex();
    const auto uuid = [&](int at) {
        const QByteArray x = h.mid(at, 32).toUpper();
        return x.left(8) + '-' + x.mid(8, 4) + '-' + x.mid(12, 4) + '-' + x.mid(16, 4) + '-' +
               x.mid(20, 12);
    };
    return QByteArrayLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//"
               "DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\"><dict>\n<key>PayloadContent</key><array><dict>\n"
               "<key>PayloadCertificateFileName</key><string>stolva-ca.cer</string>\n"
               "<key>PayloadContent</key><data>") +
           der.toBase64() +
           QByteArrayLiteral("</data>\n<key>PayloadDisplayName</key><string>Stolva CA</string>\n"
                             "<key>PayloadIdentifier</key><string>jp.stolva.ca.") +
           uuid(0) +
           QByteArrayLiteral("</string>\n<key>PayloadType</key><string>com.apple.security.root"
                             "</string>\n<key>PayloadUUID</key><string>") +
           uuid(0) +
           QByteArrayLiteral("</string>\n<key>PayloadVersion</key><integer>1</integer>\n"
                             "</dict></array>\n<key>PayloadDisplayName</key><string>") +
           QStringLiteral("Stolva お店の証明書").toUtf8() +
           QByteArrayLiteral("</string>\n<key>PayloadIdentifier</key><string>jp.stolva.profile."
                             "") +
           uuid(32) +
           QByteArrayLiteral("</string>\n<key>PayloadType</key><string>Configuration</string>\n"
                             "<key>PayloadUUID</key><string>") +
           uuid(32) +
           QByteArrayLiteral("</string>\n<key>PayloadVersion</key><integer>1</integer>\n"
                             "</dict></plist>\n");
}

struct Served {
    const char* path;
    const char* file;
    const char* type;
};
const Served served[] = {
    {"/", ":/phones/index.html", "text/html; charset=utf-8"},
    {"/reader.js", ":/phones/reader.js", "text/javascript; charset=utf-8"},
    {"/zxing_reader.wasm", ":/phones/zxing_reader.wasm", "application/wasm"},
};
} // namespace

PhoneServer::PhoneServer(QString dataPath, std::optional<server::Address> server, QString work,
                         QObject* parent)
    : QObject(parent), m_dataPath(std::move(dataPath)), m_work(std::move(work)),
      m_server(std::move(server)) {
    m_watch.setInterval(30 * 1000);
    connect(&m_watch, &QTimer::timeout, this, [this] { checkAddresses(); });
}

PhoneServer::~PhoneServer() {
    stop();
}

void PhoneServer::setCount(const QDate& date, const QString& category) {
    m_countDate = date;
    m_countCategory = category;
    if (m_worker)
        onWorker(m_worker, [&] {
            m_worker->setCount(date, category);
            return 0;
        });
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
    m_host = host;
    m_port = port;
    setCount(m_countDate, m_countCategory);
    if (Status s = listen(certs); !s) {
        stop();
        return s;
    }
    if (m_addresses)
        m_watch.start();
    return Status{};
}

Status PhoneServer::listen(const Certificates& certs) {
    stopListening();
    BIO* cb = BIO_new_mem_buf(certs.certPem.constData(), int(certs.certPem.size()));
    std::unique_ptr<X509, Freer<X509, X509_free>> cert(
        PEM_read_bio_X509(cb, nullptr, nullptr, nullptr));
    BIO_free(cb);
    BIO* kb = BIO_new_mem_buf(certs.keyPem.constData(), int(certs.keyPem.size()));
    std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>> key(
        PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr));
    BIO_free(kb);
    if (!cert || !key)
        return Status::failed(QStringLiteral("証明書が読めません。"), ErrorKind::Io);
    m_tls = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
    m_plain = std::make_unique<httplib::Server>();
    if (!m_tls->is_valid())
        return Status::failed(QStringLiteral("HTTPS を始められません。"), ErrorKind::Io);
    m_certs = certs;
    const QString fingerprint = certs.fingerprint;
    onWorker(m_worker, [&] {
        m_worker->setFingerprint(fingerprint);
        return 0;
    });
    // A phone's browser keeps its connection open, and each open connection
    // holds a thread: enough threads for every phone of a shop (the library's
    // own eight left the ninth phone waiting seconds for each scan). Idle
    // connections give their thread back after five seconds.
    m_tls->new_task_queue = [] { return new httplib::ThreadPool(PhoneThreads); };
    m_tls->set_keep_alive_timeout(5);
    // The library listens with a queue of five: phones coming back to the
    // Wi-Fi together would wait a second and more for each retried connect.
    m_tls->set_socket_options([this](socket_t sock) {
        httplib::default_socket_options(sock);
        m_tlsSocket = sock;
    });
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
    // The counting page and the barcode reader it falls back on: everything it
    // runs comes from here, nothing from the internet.
    for (const auto& [path, file, type] : served) {
        m_tls->Get(
            path, [file = file, type = type](const httplib::Request&, httplib::Response& out) {
                QFile f(QString::fromLatin1(file));
                f.open(QIODevice::ReadOnly);
                out.set_header("Content-Security-Policy",
                               "default-src 'self'; script-src 'self' 'unsafe-inline' "
                               "'wasm-unsafe-eval'; style-src 'self' 'unsafe-inline'; connect-src "
                               "'self'; media-src 'self' blob: mediastream:; img-src 'self' data:");
                out.set_header("X-Content-Type-Options", "nosniff");
                out.set_header("Cache-Control", "no-store");
                out.set_content(f.readAll().toStdString(), type);
            });
    }
    // A body over the limit is turned away before it is read; the phone is told why.
    m_tls->set_error_handler([](const httplib::Request&, httplib::Response& out) {
        if (out.status == 413 && out.body.empty())
            out.set_content(PhoneApi::refuseTooLarge().body.toStdString(),
                            "application/json; charset=utf-8");
    });
    m_tls->Get("/api/.*", serve);
    m_tls->Post("/api/.*", serve);
    const QByteArray ca = certs.caPem;
    m_plain->Get("/ca.crt", [ca](const httplib::Request&, httplib::Response& out) {
        out.set_header("Content-Disposition", "attachment; filename=\"stolva-ca.crt\"");
        out.set_content(ca.toStdString(), "application/x-x509-ca-cert");
    });
    const QByteArray profile = iosProfile(ca);
    m_plain->Get("/stolva.mobileconfig",
                 [profile](const httplib::Request&, httplib::Response& out) {
                     out.set_content(profile.toStdString(), "application/x-apple-aspen-config");
                 });
    const QString https = QStringLiteral("https://%1:%2/").arg(m_host).arg(m_port);
    m_plain->Get("/", [https](const httplib::Request&, httplib::Response& out) {
        out.set_content(caPage(https).toStdString(), "text/html; charset=utf-8");
    });
    // The plain port serves nothing else: the ledger only over TLS.
    m_plain->set_error_handler([](const httplib::Request& in, httplib::Response& out) {
        if (QByteArray::fromStdString(in.path).startsWith("/api/")) {
            const Response refused = PhoneApi::refuseInsecure();
            out.status = refused.status;
            out.set_content(refused.body.toStdString(), "application/json; charset=utf-8");
        }
    });
    const std::string at = m_host.toStdString();
    if (!m_tls->bind_to_port(at, m_port) || !m_plain->bind_to_port(at, m_port + 1))
        return Status::failed(
            QStringLiteral(
                "ポート %1 と %2 を使えません（ほかのプログラムが使用中かもしれません）。")
                .arg(m_port)
                .arg(m_port + 1),
            ErrorKind::Busy);
    if (m_tlsSocket >= 0)
        ::listen(m_tlsSocket, PhoneThreads);
    m_tlsLoop = std::thread([this] { m_tls->listen_after_bind(); });
    m_plainLoop = std::thread([this] { m_plain->listen_after_bind(); });
    return Status{};
}

void PhoneServer::watchAddresses(const QString& folder, std::function<QStringList()> addresses) {
    m_certFolder = folder;
    m_addresses = std::move(addresses);
    if (running())
        m_watch.start();
}

Status PhoneServer::checkAddresses(const QDateTime& now) {
    if (!running() || !m_addresses)
        return Status{};
    const Result<Certificates> certs = ensureCertificates(m_certFolder, m_addresses(), now);
    if (!certs)
        return certs.status;
    if (!certs.value.made && certs.value.certPem == m_certs.certPem)
        return Status{};
    // The phones reconnect by themselves; the ones paired stay paired.
    const Status s = listen(certs.value);
    if (!s)
        stop();
    emit renewed();
    return s;
}

void PhoneServer::stopListening() {
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
    m_tlsSocket = -1;
}

void PhoneServer::stop() {
    m_watch.stop();
    stopListening();
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
