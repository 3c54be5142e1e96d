#pragma once

#include "phones/Devices.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <functional>

// What the counting page on a phone asks of the ledger, apart from how it
// travels (the HTTPS server hands each request here): pairing, scans stored
// straight into the saved count, taking the phone's last scan back and the
// shelf's uncounted products. JSON in and out, every refusal with a reason
// in Japanese the page shows as it is.
namespace phones {

struct Request {
    QByteArray method; // "GET", "POST"
    QString path;      // "/api/scan"
    QHash<QString, QString> query;
    QByteArray body;
    QString bearer;     // the Authorization header's token
    bool secure = true; // came over TLS
};

struct Response {
    int status = 200;
    QByteArray body;
};

// The limits of what a phone may send.
constexpr int MaxBody = 64 * 1024;
constexpr int MaxCode = 64;
constexpr qint64 MaxQuantity = 999999;

class PhoneApi {
  public:
    using Clock = std::function<QDateTime()>;
    // recorded: the saved count of a day changed (the PC's windows follow).
    PhoneApi(Store& store, Pairing& pairing, Clock clock,
             std::function<void(const QString& day)> recorded = {});
    Response handle(const Request& request);
    // The PC certificate's fingerprint the pairing QR code carries: a phone
    // that reached another certificate (another PC, an older code) is told.
    void setFingerprint(const QString& fingerprint) { m_fingerprint = fingerprint; }
    void setCount(const QDate& date, const QString& category) {
        m_countDate = date;
        m_countCategory = category;
    }
    static Response refuseInsecure();
    static Response refuseTooLarge();

  private:
    Response pair(const QJsonObject& in);
    Response scan(const Device& phone, const QJsonObject& in);
    Response undo(const Device& phone, const QJsonObject& in);
    Response progress(const Request& request);
    Store& m_store;
    Pairing& m_pairing;
    Clock m_clock;
    std::function<void(const QString&)> m_recorded;
    QString m_fingerprint;
    QDate m_countDate;
    QString m_countCategory;
};

} // namespace phones
