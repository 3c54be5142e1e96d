#pragma once

#include "store/Store.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>
#include <optional>

// The phones paired with the ledger: each gets a token once, kept by its
// page and stored here only as a hash, and is named in its entries.
namespace phones {

// A random token (32 bytes, URL-safe text), and the form it is stored in.
QString newToken();
QString tokenKey(const QString& token);

// The one-time tokens the QR code carries, issued by the serving PC: each
// pairs one phone within two minutes of being shown.
class Pairing {
  public:
    static constexpr int ValidSeconds = 120;
    QString issue(const QDateTime& now);
    // True once for a token shown less than ValidSeconds before `now`.
    bool take(const QString& token, const QDateTime& now);

  private:
    QHash<QString, QDateTime> m_open; // by key, when each was issued
};

struct Device {
    qint64 id = 0;
    QString name, counter;
    QString registered, lastSeen; // ISO times
    int entriesToday = 0;
};

// Registers a paired phone under its name and counter; gives its token.
Result<QString> pairDevice(Store& store, const QString& name, const QString& counter,
                           const QDateTime& now);
// The phone with the token (its last contact set to now); none for a token
// unknown or revoked.
Result<std::optional<Device>> deviceOf(Store& store, const QString& token, const QDateTime& now);
// The phone's token no longer opens anything.
Status revokeDevice(Store& store, qint64 id, const QDateTime& now);
// The paired phones, newest first, with their entries of `day`.
Result<QVector<Device>> devices(Store& store, const QDate& day);

} // namespace phones
