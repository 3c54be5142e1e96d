#include "phones/Certificates.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSaveFile>

#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace phones {

namespace {
template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

struct Failed {
    QString what;
};

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray bioBytes(BIO* b) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(b, &data);
    return QByteArray(data, int(n));
}

Key newKey() {
    Key k(EVP_EC_gen("P-256"));
    if (!k)
        throw Failed{QStringLiteral("鍵を作れませんでした")};
    return k;
}

Key readKey(const QByteArray& pem) {
    Bio b(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    return Key(PEM_read_bio_PrivateKey(b.get(), nullptr, nullptr, nullptr));
}

Cert readCert(const QByteArray& pem) {
    Bio b(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    return Cert(PEM_read_bio_X509(b.get(), nullptr, nullptr, nullptr));
}

QByteArray keyPem(EVP_PKEY* k) {
    Bio b(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_PrivateKey(b.get(), k, nullptr, nullptr, 0, nullptr, nullptr))
        throw Failed{QStringLiteral("鍵を書き出せませんでした")};
    return bioBytes(b.get());
}

QByteArray certPem(X509* c) {
    Bio b(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_X509(b.get(), c))
        throw Failed{QStringLiteral("証明書を書き出せませんでした")};
    return bioBytes(b.get());
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || !X509_add_ext(cert, ext, -1)) {
        X509_EXTENSION_free(ext);
        throw Failed{QStringLiteral("証明書の拡張を付けられませんでした")};
    }
    X509_EXTENSION_free(ext);
}

// A certificate of `key` named `name`, issued by `issuer` (itself when none);
// signed once its extensions are on.
Cert makeCert(EVP_PKEY* key, const QString& name, int days, const QDateTime& now, X509* issuer) {
    Cert c(X509_new());
    X509_set_version(c.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f; // a positive serial number
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(c.get()));
    BN_free(bn);
    // An hour back: a phone whose clock runs a little behind still accepts it.
    ASN1_TIME_set(X509_getm_notBefore(c.get()), time_t(now.toSecsSinceEpoch() - 3600));
    ASN1_TIME_set(X509_getm_notAfter(c.get()), time_t(now.addDays(days).toSecsSinceEpoch()));
    X509_NAME* subject = X509_get_subject_name(c.get());
    const QByteArray cn = name.toUtf8();
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Stolva"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
    X509_set_issuer_name(c.get(), issuer ? X509_get_subject_name(issuer) : subject);
    X509_set_pubkey(c.get(), key);
    X509* signer = issuer ? issuer : c.get();
    addExtension(c.get(), signer, NID_subject_key_identifier, "hash");
    addExtension(c.get(), signer, NID_authority_key_identifier, "keyid:always");
    return c;
}

void sign(X509* c, EVP_PKEY* key) {
    if (X509_sign(c, key, EVP_sha256()) <= 0)
        throw Failed{QStringLiteral("証明書に署名できませんでした")};
}

// "IP:192.168.1.10,DNS:shop-pc" for the addresses, in their order.
QString altNames(const QStringList& addresses) {
    QStringList out;
    for (const QString& a : addresses) {
        QHostAddress ip;
        out << (ip.setAddress(a) ? "IP:" + ip.toString() : "DNS:" + a);
    }
    return out.join(',');
}

QStringList namedAddresses(X509* c) {
    QStringList out;
    auto* names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(c, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* n = sk_GENERAL_NAME_value(names, i);
        if (n->type == GEN_DNS) {
            out << QString::fromUtf8(
                reinterpret_cast<const char*>(ASN1_STRING_get0_data(n->d.dNSName)),
                ASN1_STRING_length(n->d.dNSName));
        } else if (n->type == GEN_IPADD) {
            const int len = ASN1_STRING_length(n->d.iPAddress);
            const unsigned char* d = ASN1_STRING_get0_data(n->d.iPAddress);
            QHostAddress ip;
            if (len == 4)
                ip.setAddress(quint32(d[0]) << 24 | quint32(d[1]) << 16 | quint32(d[2]) << 8 |
                              d[3]);
            else if (len == 16)
                ip.setAddress(d);
            out << ip.toString();
        }
    }
    GENERAL_NAMES_free(names);
    return out;
}

QDateTime endOf(X509* c) {
    struct tm t {};
    if (!ASN1_TIME_to_tm(X509_get0_notAfter(c), &t))
        return QDateTime();
    return QDateTime(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                     QTime(t.tm_hour, t.tm_min, t.tm_sec), Qt::UTC);
}

void write(const QString& path, const QByteArray& data, bool secret) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) ||
        (secret && !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) ||
        f.write(data) != data.size() || !f.commit())
        throw Failed{QStringLiteral("%1 を書けませんでした（%2）")
                         .arg(QDir::toNativeSeparators(path), f.errorString())};
}

// The authority's certificate and key, made when missing.
std::pair<Cert, Key> authority(const QString& folder, const QDateTime& now, bool* made) {
    Cert c = readCert(readFile(folder + "/ca.pem"));
    Key k = readKey(readFile(folder + "/ca-key.pem"));
    if (c && k && X509_check_private_key(c.get(), k.get()) == 1 && endOf(c.get()) > now) {
        *made = false;
        return {std::move(c), std::move(k)};
    }
    k = newKey();
    c = makeCert(k.get(), QStringLiteral("Stolva お店の認証局"), AuthorityDays, now, nullptr);
    addExtension(c.get(), c.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    addExtension(c.get(), c.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    sign(c.get(), k.get());
    write(folder + "/ca-key.pem", keyPem(k.get()), true);
    write(folder + "/ca.pem", certPem(c.get()), false);
    *made = true;
    return {std::move(c), std::move(k)};
}
} // namespace

QString fingerprintOf(const QByteArray& pem) {
    Cert c = readCert(pem);
    if (!c)
        return QString();
    unsigned char* der = nullptr;
    const int n = i2d_X509(c.get(), &der);
    if (n <= 0)
        return QString();
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(der), n), QCryptographicHash::Sha256);
    OPENSSL_free(der);
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

Result<Certificates> ensureCertificates(const QString& folder, const QStringList& addresses,
                                        const QDateTime& now) {
    Result<Certificates> r;
    // Addresses as the certificate writes them back ("::1", not "0:0:…:1").
    QStringList wanted;
    for (const QString& a : addresses) {
        QHostAddress ip;
        wanted << (ip.setAddress(a) ? ip.toString() : a.trimmed().toLower());
    }
    try {
        if (!QDir().mkpath(folder))
            throw Failed{QStringLiteral("フォルダ %1 を作れませんでした")
                             .arg(QDir::toNativeSeparators(folder))};
        bool newAuthority = false;
        auto [ca, caKey] = authority(folder, now, &newAuthority);
        Certificates& out = r.value;
        out.caPem = certPem(ca.get());
        Cert c = readCert(readFile(folder + "/server.pem"));
        Key k = readKey(readFile(folder + "/server-key.pem"));
        // Kept while it is the authority's, names these addresses and lasts.
        const bool keep =
            !newAuthority && c && k && X509_check_private_key(c.get(), k.get()) == 1 &&
            X509_verify(c.get(), X509_get0_pubkey(ca.get())) == 1 &&
            namedAddresses(c.get()) == wanted && endOf(c.get()) > now.addDays(RenewDaysBefore);
        if (!keep) {
            if (wanted.isEmpty())
                throw Failed{QStringLiteral("この PC のアドレスがありません")};
            k = newKey();
            c = makeCert(k.get(), wanted.first(), CertificateDays, now, ca.get());
            addExtension(c.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
            addExtension(c.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
            addExtension(c.get(), ca.get(), NID_ext_key_usage, "serverAuth");
            addExtension(c.get(), ca.get(), NID_subject_alt_name,
                         altNames(wanted).toUtf8().constData());
            sign(c.get(), caKey.get());
            write(folder + "/server-key.pem", keyPem(k.get()), true);
            write(folder + "/server.pem", certPem(c.get()), false);
            out.made = true;
        }
        out.certPem = certPem(c.get());
        out.keyPem = keyPem(k.get());
        out.fingerprint = fingerprintOf(out.certPem);
        out.notAfter = endOf(c.get());
        out.addresses = namedAddresses(c.get());
    } catch (const Failed& f) {
        r.status = Status::failed(
            QStringLiteral("スマホ用の証明書を用意できませんでした: ") + f.what, ErrorKind::Io);
    }
    return r;
}

} // namespace phones
