// Counting on phones: the shop's certificate authority and this PC's
// certificate, made, kept and renewed in the data folder.
#include "phones/Certificates.h"
#include "phones/Devices.h"
#include "phones/PhoneApi.h"
#include "phones/PhoneServer.h"
#include "sheet/CountLedger.h"
#include "tests/fixtures.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <QSignalSpy>
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {
X509* certOf(const QByteArray& pem) {
    BIO* b = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    X509* c = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    return c;
}

// The PC's certificate checks out against the authority as a phone checks
// it: the chain, the purpose and the address it is opened by.
// A phone that has the shop's authority installed (the client owns the store).
X509_STORE* trusting(const QByteArray& caPem) {
    X509_STORE* trusted = X509_STORE_new();
    X509* ca = certOf(caPem);
    X509_STORE_add_cert(trusted, ca);
    X509_free(ca);
    return trusted;
}

bool phoneAccepts(const phones::Certificates& c, const QString& address, const QDateTime& at) {
    X509* ca = certOf(c.caPem);
    X509* cert = certOf(c.certPem);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, ca);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, cert, nullptr);
    X509_VERIFY_PARAM* p = X509_STORE_CTX_get0_param(ctx);
    X509_VERIFY_PARAM_set_purpose(p, X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM_set_time(p, time_t(at.toSecsSinceEpoch()));
    if (address.contains('.') || address.contains(':'))
        X509_VERIFY_PARAM_set1_ip_asc(p, address.toLatin1().constData());
    else
        X509_VERIFY_PARAM_set1_host(p, address.toLatin1().constData(), 0);
    const bool ok = X509_verify_cert(ctx) == 1;
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    X509_free(cert);
    X509_free(ca);
    return ok;
}
} // namespace

class TestPhones : public QObject {
    Q_OBJECT
  private slots:
    void certificates_data();
    void certificates();
    void pairingTokens_data();
    void pairingTokens();
    void pairedPhones();
    void aScanSentAgainIsStoredOnce();
    void whatThePageAsks_data();
    void whatThePageAsks();
    void servedOverHttps();
};

void TestPhones::certificates_data() {
    QTest::addColumn<QStringList>("first");  // the PC's addresses at the first start
    QTest::addColumn<QStringList>("second"); // at the next
    QTest::addColumn<int>("daysLater");
    QTest::addColumn<QString>("damage"); // a file spoilt between the two
    QTest::addColumn<bool>("made");      // the next start made a new PC certificate
    QTest::addColumn<bool>("sameAuthority");
    const QStringList lan{"192.168.1.10", "shop-pc"};
    QTest::newRow("kept at the next start") << lan << lan << 1 << "" << false << true;
    QTest::newRow("a new address: a new certificate, the same authority")
        << lan << QStringList{"192.168.1.23", "shop-pc"} << 1 << "" << true << true;
    QTest::newRow("kept until 30 days before its end") << lan << lan << 366 << "" << false << true;
    QTest::newRow("renewed within them") << lan << lan << 368 << "" << true << true;
    QTest::newRow("an IPv6 address written either way")
        << QStringList{"fe80:0:0:0:0:0:0:1"} << QStringList{"fe80::1"} << 1 << "" << false << true;
    QTest::newRow("a spoilt certificate is made again")
        << lan << lan << 1 << "server.pem" << true << true;
    QTest::newRow("a spoilt authority key: everything again")
        << lan << lan << 1 << "ca-key.pem" << true << false;
}

void TestPhones::certificates() {
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(int, daysLater);
    QFETCH(QString, damage);
    QFETCH(bool, made);
    QFETCH(bool, sameAuthority);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/phones";
    const QDateTime start(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    const auto a = phones::ensureCertificates(folder, first, start);
    QVERIFY2(a, qPrintable(a.error()));
    QVERIFY(a.value.made);
    QVERIFY(phoneAccepts(a.value, first.first(), start));
    QCOMPARE(a.value.notAfter.date(), start.date().addDays(phones::CertificateDays));
    for (const char* key : {"/ca-key.pem", "/server-key.pem"}) {
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(folder + key).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }
    if (!damage.isEmpty()) {
        QFile f(folder + "/" + damage);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("-----BEGIN nothing-----\n");
    }
    const QDateTime later = start.addDays(daysLater);
    const auto b = phones::ensureCertificates(folder, second, later);
    QVERIFY2(b, qPrintable(b.error()));
    QCOMPARE(b.value.made, made);
    QCOMPARE(b.value.caPem == a.value.caPem, sameAuthority);
    QCOMPARE(b.value.fingerprint == a.value.fingerprint, !made);
    QVERIFY(b.value.fingerprint.contains(QRegularExpression("^([0-9A-F]{2}:){31}[0-9A-F]{2}$")));
    for (const QString& address : second)
        QVERIFY2(phoneAccepts(b.value, address, later), qPrintable(address));
    // Never for an address it does not name, nor after its end.
    QVERIFY(!phoneAccepts(b.value, "10.0.0.99", later));
    QVERIFY(!phoneAccepts(b.value, second.first(), b.value.notAfter.addDays(1)));
}

void TestPhones::pairingTokens_data() {
    QTest::addColumn<QString>("taken"); // what is taken, and how many seconds after showing
    QTest::addColumn<QString>("said");  // what each taking gave
    QTest::newRow("within two minutes, once") << "shown@10 shown@20"
                                              << "yes no";
    QTest::newRow("at two minutes: too late") << "shown@120"
                                              << "no";
    QTest::newRow("just before") << "shown@119"
                                 << "yes";
    QTest::newRow("a token never shown") << "other@1"
                                         << "no";
    QTest::newRow("a clock that went back") << "shown@-5"
                                            << "no";
}

// The QR code's token pairs one phone, only within two minutes of being shown.
void TestPhones::pairingTokens() {
    QFETCH(QString, taken);
    QFETCH(QString, said);
    phones::Pairing pairing;
    const QDateTime shownAt(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    const QString token = pairing.issue(shownAt);
    QStringList got;
    for (const QString& t : taken.split(' ')) {
        const QString which = t.section('@', 0, 0) == "shown" ? token : phones::newToken();
        got << (pairing.take(which, shownAt.addSecs(t.section('@', 1).toInt())) ? "yes" : "no");
    }
    QCOMPARE(got.join(' '), said);
}

// A paired phone's token opens the ledger until it is revoked; the ledger
// keeps only its hash, and the phone's name is unique among those paired.
void TestPhones::pairedPhones() {
    TempStore t;
    const QDateTime now(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    const auto token = phones::pairDevice(t.store(), "レジ横のスマホ", "山田", now);
    QVERIFY2(token, qPrintable(token.error()));
    QCOMPARE(t.count(Db::Main, "端末", "鍵 = '" + token.value + "'"), 0);
    QVERIFY(!phones::pairDevice(t.store(), " レジ横のスマホ ", "佐藤", now));
    const auto found = phones::deviceOf(t.store(), token.value, now.addSecs(60));
    QVERIFY2(found && found.value, qPrintable(found.error()));
    QCOMPARE(found.value->name + "/" + found.value->counter, QString("レジ横のスマホ/山田"));
    QCOMPARE(found.value->lastSeen, now.addSecs(60).toString(Qt::ISODate));
    // Kept to the minute: within it a request writes nothing.
    for (const auto& [later, seen] : {std::pair{100, 60}, std::pair{121, 121}})
        QCOMPARE(phones::deviceOf(t.store(), token.value, now.addSecs(later)).value->lastSeen,
                 now.addSecs(seen).toString(Qt::ISODate));
    QVERIFY(!phones::deviceOf(t.store(), phones::newToken(), now).value);
    VERIFY_OK(phones::revokeDevice(t.store(), found.value->id, now));
    QVERIFY(!phones::deviceOf(t.store(), token.value, now).value);
    QVERIFY(phones::devices(t.store(), now.date()).value.isEmpty());
    // Its name is free again.
    VERIFY_OK(phones::pairDevice(t.store(), "レジ横のスマホ", "佐藤", now));
}

// A phone back on the Wi-Fi sends its queued scans again: each is stored
// once, in the phone's name, and the list of phones counts its entries.
void TestPhones::aScanSentAgainIsStoredOnce() {
    TempStore t;
    t.addProduct("A01", "りんご", "個", 100, 0, "果物");
    const QDateTime now(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    VERIFY_OK(phones::pairDevice(t.store(), "棚A のスマホ", "山田", now));
    const phones::Device phone = phones::devices(t.store(), now.date()).value.value(0);
    const QDate day(2026, 12, 31);
    const QStringList sent{"s1", "s2", "s1", "s2", "s3"};
    QStringList said;
    for (const QString& id : sent) {
        const auto r = sheet::recordScan(t.store(), day, "果物", "A01", 1, phone.counter,
                                         {phone.id, phone.name, id});
        VERIFY_OK(r);
        said << QString("%1%2").arg(r.value.quantity).arg(r.value.repeat ? "(again)" : "");
    }
    QCOMPARE(said.join(' '), QString("1 2 2(again) 2(again) 3"));
    QCOMPARE(t.count(Db::Main, "棚卸記録", "端末 = '棚A のスマホ' AND 担当 = '山田'"), 3);
    QCOMPARE(phones::devices(t.store(), day).value.value(0).entriesToday, 3);
    // Another phone's scan of the same id is its own.
    VERIFY_OK(
        sheet::recordScan(t.store(), day, "果物", "A01", 1, "佐藤", {phone.id + 1, "x", "s1"}));
    QCOMPARE(t.store().scalar(Db::Main, "SELECT 数量 FROM 在庫表").toInt(), 4);
}

void TestPhones::whatThePageAsks_data() {
    // Requests: "METHOD path body", "@" at the end: with the phone's token;
    // $P the QR code's token, $X a token never given; "plain " before: without
    // TLS; "revoke", "close": the PC revokes the phone, closes the date.
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QString>("statuses");
    QTest::addColumn<QString>(
        "check"); // of the last answer (field=value) or the ledger (sql:…=value)
    const QString scan = R"(POST /api/scan {"id":"%1","date":"2026-12-31","code":"%2"%3} @)";
    const auto sc = [&](const QString& id, const QString& code = "A01", const QString& more = "") {
        return scan.arg(id, code, more);
    };
    const auto row = [](const char* name, const QStringList& requests, const char* statuses,
                        const char* check) {
        QTest::newRow(name) << requests << statuses << check;
    };
    row("pairing with the QR code's token",
        {R"(POST /api/pair {"token":"$P","fp":"ab:cd","name":"棚B のスマホ","counter":"佐藤"})"},
        "200", "name=棚B のスマホ");
    row("the token pairs one phone only",
        {R"(POST /api/pair {"token":"$P","fp":"ABCD","name":"一台目"})",
         R"(POST /api/pair {"token":"$P","fp":"ABCD","name":"二台目"})"},
        "200 403", "error~=QR コード");
    row("a QR code of another certificate",
        {R"(POST /api/pair {"token":"$P","fp":"ABCE","name":"一台目"})"}, "409", "error~=証明書");
    row("a name left out does not spend the token",
        {R"(POST /api/pair {"token":"$P","fp":"ABCD","name":" "})",
         R"(POST /api/pair {"token":"$P","fp":"ABCD","name":"一台目"})"},
        "400 200", "name=一台目");
    row("a scan sent again is stored once", {sc("s1"), sc("s1"), sc("s2")}, "200 200 200",
        "sql:SELECT 数量 FROM 在庫表=2");
    row("the answer says what is stored", {sc("s1"), sc("s2", "A01", R"(,"count":5)")}, "200 200",
        "quantity=6");
    row("a code no product has", {sc("s1", "X99")}, "200", "known=false");
    row("a code with SQL in it is only a code", {sc("s1", "1');DELETE FROM 商品マスタ;--")}, "200",
        "sql:SELECT count(*) FROM 商品マスタ=1");
    row("no token", {R"(GET /api/me)"}, "401", "error~=もう一度登録");
    row("a token never given", {R"(GET /api/me)"}, "401", "error~=登録されていない");
    row("a revoked phone", {"GET /api/me @", "revoke", "GET /api/me @"}, "200 0 401",
        "error~=解除");
    row("without TLS", {"plain GET /api/me @"}, "403", "error~=https://");
    row("a body over 64 KB", {"POST /api/scan " + QString(70000, 'x') + " @"}, "413",
        "error~=大きすぎ");
    row("JSON that is none", {"POST /api/scan {\"id\": @"}, "400", "error~=読めません");
    row("JSON that is no object", {"POST /api/scan \"{\\\"id\\\":\" @"}, "400",
        "error~=読めません");
    row("a code over 64 characters", {sc("s1", QString(65, '9'))}, "400", "error~=64");
    row("a count over 999,999", {sc("s1", "A01", R"(,"count":1000000)")}, "400", "error~=数量");
    row("a count of a half", {sc("s1", "A01", R"(,"count":1.5)")}, "400", "error~=数量");
    row("the phone's last scan taken back",
        {sc("s1"), sc("s2"), R"(POST /api/undo {"date":"2026-12-31"} @)"}, "200 200 200",
        "sql:SELECT 種類 || CAST(後数量 AS TEXT) || 端末 FROM 棚卸記録 ORDER BY id DESC LIMIT "
        "1=取消1棚A");
    row("nothing to take back", {R"(POST /api/undo {"date":"2026-12-31"} @)"}, "404",
        "error~=ありません");
    row("a closed date", {sc("s1"), "close", sc("s2")}, "200 0 409", "error~=確定");
    row("the shelf's uncounted products",
        {"GET /api/progress?date=2026-12-31&shelf=S1 @", sc("s1"),
         "GET /api/progress?date=2026-12-31&shelf=S1 @"},
        "200 200 200", "uncounted=#0");
    row("another shelf", {"GET /api/progress?date=2026-12-31&shelf=S2 @"}, "200", "uncounted=#0");
    row("the count the PC's sheet shows", {"GET /api/me @"}, "200", "countDate=2026-12-31");
    row("a path there is not", {"GET /api/nothing @"}, "404", "error~=ありません");
}

// The page's requests as the server hands them over: what is stored, what
// is refused and why, whoever sends them.
void TestPhones::whatThePageAsks() {
    QFETCH(QStringList, requests);
    QFETCH(QString, statuses);
    QFETCH(QString, check);
    TempStore t;
    t.addProduct("A01", "りんご", "個", 100, 0, "果物");
    t.store().exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = 'S1'");
    const QDateTime now(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    phones::Pairing pairing;
    const QString qr = pairing.issue(now);
    const QString token = phones::pairDevice(t.store(), "棚A", "山田", now).value;
    QStringList days;
    phones::PhoneApi api(
        t.store(), pairing, [&] { return now.addSecs(30); },
        [&](const QString& day) { days << day; });
    api.setFingerprint("AB:CD");
    api.setCount(QDate(2026, 12, 31), "果物");
    QStringList got;
    phones::Response last;
    for (QString r : requests) {
        if (r == "revoke" || r == "close") {
            if (r == "revoke")
                VERIFY_OK(phones::revokeDevice(t.store(), 1, now));
            else
                VERIFY_OK(sheet::close在庫表(t.store(), QDate(2026, 12, 31)));
            got << "0";
            continue;
        }
        phones::Request q;
        q.secure = !r.startsWith("plain ");
        if (!q.secure)
            r = r.mid(6);
        if (r.endsWith(" @")) {
            r.chop(2);
            q.bearer = QTest::currentDataTag() == QByteArray("a token never given")
                           ? phones::newToken()
                           : token;
        }
        q.method = r.section(' ', 0, 0).toLatin1();
        const QString target = r.section(' ', 1, 1);
        q.path = target.section('?', 0, 0);
        for (const QString& kv : target.section('?', 1).split('&', Qt::SkipEmptyParts))
            q.query.insert(kv.section('=', 0, 0), kv.section('=', 1));
        q.body = r.section(' ', 2).replace("$P", qr).toUtf8();
        last = api.handle(q);
        got << QString::number(last.status);
    }
    QCOMPARE(got.join(' '), statuses);
    const int eq = check.lastIndexOf('=');
    const QString what = check.left(eq), want = check.mid(eq + 1);
    QString actual;
    if (what.startsWith("sql:")) {
        actual = t.store().scalar(Db::Main, what.mid(4)).toString();
    } else {
        const QJsonValue v =
            QJsonDocument::fromJson(last.body).object().value(QString(what).remove('~'));
        actual = v.isArray()    ? "#" + QString::number(v.toArray().size())
                 : v.isBool()   ? (v.toBool() ? "true" : "false")
                 : v.isDouble() ? QString::number(v.toDouble())
                                : v.toString();
    }
    if (what.endsWith('~'))
        QVERIFY2(actual.contains(want), qPrintable(actual));
    else
        QCOMPARE(actual, want);
    // Each change tells the PC's windows of its day.
    for (const QString& d : days)
        QCOMPARE(d, QString("2026-12-31"));
}

// The page's requests over HTTPS as a phone that trusts the shop's
// authority sends them; the plain port offers the authority and nothing else.
void TestPhones::servedOverHttps() {
    TempStore t;
    t.addProduct("A01", "りんご", "個", 100, 0, "果物");
    QTemporaryDir dir;
    const auto certs = phones::ensureCertificates(dir.path() + "/phones", {"127.0.0.1"});
    QVERIFY2(certs, qPrintable(certs.error()));
    phones::PhoneServer server(t.path(), t.serverAddress(), dir.path());
    QSignalSpy recorded(&server, &phones::PhoneServer::recorded);
    // A free pair of ports on loopback, as the PC would offer another one.
    int port = 0;
    for (int p = 20000 + int(QCoreApplication::applicationPid() % 20000); !port && p < 65000;
         p += 2)
        if (server.start(certs.value, "127.0.0.1", p))
            port = p;
    QVERIFY(port);
    httplib::SSLClient phone("127.0.0.1", port);
    phone.set_ca_cert_store(trusting(certs.value.caPem));
    phone.enable_server_certificate_verification(true);
    const std::string pairing = R"({"token":")" + server.pairingToken().toStdString() +
                                R"(","fp":")" + certs.value.fingerprint.toStdString() +
                                R"(","name":"棚A"})";
    auto paired = phone.Post("/api/pair", pairing, "application/json");
    QVERIFY(paired);
    QCOMPARE(paired->status, 200);
    const QString device = QJsonDocument::fromJson(QByteArray::fromStdString(paired->body))
                               .object()["device"]
                               .toString();
    const httplib::Headers auth{{"Authorization", "Bearer " + device.toStdString()}};
    auto scanned =
        phone.Post("/api/scan", auth, R"({"id":"s1","date":"2026-12-31","code":"A01","count":3})",
                   "application/json");
    QVERIFY(scanned);
    QCOMPARE(scanned->status, 200);
    QCOMPARE(t.store().scalar(Db::Main, "SELECT 数量 FROM 在庫表").toInt(), 3);
    QTRY_COMPARE(recorded.size(), 1);
    QCOMPARE(recorded.first().value(0).toString(), QString("2026-12-31"));
    // The page itself, from this PC alone.
    auto page = phone.Get("/");
    QVERIFY(page && page->status == 200);
    QVERIFY(page->body.find("Stolva 棚卸") != std::string::npos);
    QVERIFY(page->body.find("http") == std::string::npos);
    QVERIFY(page->get_header_value("Content-Security-Policy").find("default-src 'self'") == 0);
    // A phone that does not trust the authority gets no answer.
    httplib::SSLClient stranger("127.0.0.1", port);
    stranger.enable_server_certificate_verification(true);
    stranger.set_ca_cert_path("/nonexistent");
    QVERIFY(!stranger.Get("/api/me"));
    // Plain HTTP: the authority to install, the page's address; never the ledger.
    httplib::Client plain("127.0.0.1", port + 1);
    auto offered = plain.Get("/ca.crt");
    QVERIFY(offered);
    QCOMPARE(QByteArray::fromStdString(offered->body), certs.value.caPem);
    auto offer = plain.Get("/");
    QVERIFY(offer &&
            offer->body.find("https://127.0.0.1:" + std::to_string(port)) != std::string::npos);
    auto ledger = plain.Post("/api/scan", auth, R"({"id":"s2"})", "application/json");
    QVERIFY(ledger && ledger->status == 403);
    QVERIFY(ledger->body.find("https://") != std::string::npos);
    QCOMPARE(t.store().scalar(Db::Main, "SELECT 数量 FROM 在庫表").toInt(), 3);
    // The iOS profile carries the same authority.
    auto profile = plain.Get("/stolva.mobileconfig");
    QVERIFY(profile && profile->status == 200);
    X509* der = certOf(certs.value.caPem);
    unsigned char* bytes = nullptr;
    const int n = i2d_X509(der, &bytes);
    const std::string b64 =
        QByteArray(reinterpret_cast<const char*>(bytes), n).toBase64().toStdString();
    OPENSSL_free(bytes);
    X509_free(der);
    QVERIFY(profile->body.find("<data>" + b64 + "</data>") != std::string::npos);
    QVERIFY(profile->body.find("com.apple.security.root") != std::string::npos);
    // The reader the page falls back on, from this PC.
    auto reader = phone.Get("/zxing_reader.wasm");
    QVERIFY(reader && reader->status == 200 && reader->body.compare(0, 4, "\0asm", 4) == 0);
    QCOMPARE(QString::fromStdString(reader->get_header_value("Content-Type")),
             QString("application/wasm"));
    // A new address while serving: a new certificate for it, the phones still paired.
    QStringList addresses{"127.0.0.1"};
    server.watchAddresses(dir.path() + "/phones", [&] { return addresses; });
    QSignalSpy renewed(&server, &phones::PhoneServer::renewed);
    VERIFY_OK(server.checkAddresses());
    QCOMPARE(renewed.size(), 0);
    addresses << "10.1.2.3";
    VERIFY_OK(server.checkAddresses());
    QCOMPARE(renewed.size(), 1);
    QVERIFY(server.certificates().addresses.contains("10.1.2.3"));
    QVERIFY(server.certificates().fingerprint != certs.value.fingerprint);
    // The phone now reaches the PC by the new address, and trusts what it sees there.
    httplib::SSLClient again("10.1.2.3", server.port());
    again.set_hostname_addr_map({{"10.1.2.3", "127.0.0.1"}});
    again.set_ca_cert_store(trusting(certs.value.caPem));
    again.enable_server_certificate_verification(true);
    auto still = again.Get("/api/me", auth);
    QVERIFY(still && still->status == 200);
    server.stop();
    QVERIFY(!phone.Get("/api/me", auth));
}

QTEST_GUILESS_MAIN(TestPhones)
#include "tst_phones.moc"
