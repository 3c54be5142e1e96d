// Counting on phones: the shop's certificate authority and this PC's
// certificate, made, kept and renewed in the data folder.
#include "phones/Certificates.h"
#include "phones/Devices.h"
#include "sheet/CountLedger.h"
#include "tests/fixtures.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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

QTEST_GUILESS_MAIN(TestPhones)
#include "tst_phones.moc"
