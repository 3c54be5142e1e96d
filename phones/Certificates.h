#pragma once

#include "base/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// A phone's browser gives the camera only to a secure page: the shop's own
// certificate authority, installed once on each phone, and a certificate for
// this PC's addresses on the shop's network, signed by it.
namespace phones {

struct Certificates {
    QByteArray caPem;      // the authority's certificate, offered to the phones
    QByteArray certPem;    // this PC's, for its LAN addresses
    QByteArray keyPem;     // its private key
    QString fingerprint;   // SHA-256 of the PC's certificate, "AB:CD:…"
    QDateTime notAfter;    // when the PC's certificate ends
    QStringList addresses; // the addresses it names
    bool made = false;     // this call made a new PC certificate
};

// How long each lasts: the authority ten years; the PC's certificate under
// the 398 days phones accept, made again 30 days before its end.
constexpr int AuthorityDays = 3650;
constexpr int CertificateDays = 397;
constexpr int RenewDaysBefore = 30;

// The certificates kept in `folder` (ca.pem, ca-key.pem, server.pem,
// server-key.pem; the keys readable by their owner only): made when missing,
// the PC's made again when it ends within RenewDaysBefore days of `now` or
// names other addresses (IPv4 or IPv6 texts, or host names). Every file is
// written whole or not at all.
Result<Certificates> ensureCertificates(const QString& folder, const QStringList& addresses,
                                        const QDateTime& now = QDateTime::currentDateTimeUtc());

// "AB:CD:…": the SHA-256 of a PEM certificate's DER form; empty when it is none.
QString fingerprintOf(const QByteArray& certPem);

} // namespace phones
