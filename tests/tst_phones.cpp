// Counting on phones: the shop's certificate authority and this PC's
// certificate, made, kept and renewed in the data folder.
#include "phones/Certificates.h"

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

QTEST_GUILESS_MAIN(TestPhones)
#include "tst_phones.moc"
