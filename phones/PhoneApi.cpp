#include "phones/PhoneApi.h"

#include "base/Values.h"
#include "sheet/CountLedger.h"
#include "sheet/CountProgress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace phones {

namespace {
Response json(int status, const QJsonObject& o) {
    return {status, QJsonDocument(o).toJson(QJsonDocument::Compact)};
}
Response refused(int status, const QString& why) {
    return json(status, {{"error", why}});
}
// A date the page sends (2026-12-31); invalid when it is none.
QDate dateOf(const QJsonValue& v) {
    return QDate::fromString(v.toString(), Qt::ISODate);
}
} // namespace

PhoneApi::PhoneApi(Store& store, Pairing& pairing, Clock clock,
                   std::function<void(const QString&)> recorded)
    : m_store(store), m_pairing(pairing), m_clock(std::move(clock)),
      m_recorded(std::move(recorded)) {}

Response PhoneApi::refuseInsecure() {
    return refused(403, QStringLiteral("暗号化されていない接続では使えません。https:// "
                                       "のアドレスを開いてください。"));
}

Response PhoneApi::refuseTooLarge() {
    return refused(413, QStringLiteral("送られた内容が大きすぎます。"));
}

Response PhoneApi::handle(const Request& r) {
    if (!r.secure)
        return refuseInsecure();
    if (r.body.size() > MaxBody)
        return refuseTooLarge();
    QJsonObject in;
    if (r.method == "POST") {
        QJsonParseError e;
        const QJsonDocument d = QJsonDocument::fromJson(r.body, &e);
        if (e.error != QJsonParseError::NoError || !d.isObject())
            return refused(400, QStringLiteral("送られた内容が読めません。"));
        in = d.object();
    }
    if (r.method == "POST" && r.path == "/api/pair")
        return pair(in);
    const Result<std::optional<Device>> phone = r.bearer.isEmpty()
                                                    ? Result<std::optional<Device>>{}
                                                    : deviceOf(m_store, r.bearer, m_clock());
    if (!phone)
        return refused(503, phone.error());
    if (!phone.value)
        return refused(401, QStringLiteral("この端末は登録されていないか、解除されています。"
                                           "PC の QR コードからもう一度登録してください。"));
    if (r.method == "GET" && r.path == "/api/me")
        return json(200, {{"name", phone.value->name},
                          {"counter", phone.value->counter},
                          {"countDate", m_countDate.isValid() ? dateKey(m_countDate) : QString()},
                          {"countCategory", m_countCategory}});
    if (r.method == "POST" && r.path == "/api/scan")
        return scan(*phone.value, in);
    if (r.method == "POST" && r.path == "/api/undo")
        return undo(*phone.value, in);
    if (r.method == "GET" && r.path == "/api/progress")
        return progress(r);
    return refused(404, QStringLiteral("ありません。"));
}

Response PhoneApi::pair(const QJsonObject& in) {
    // What the phone can mend is asked before the one-time token is spent.
    const QString name = in.value("name").toString().trimmed();
    if (name.isEmpty() || name.size() > 40)
        return refused(400, QStringLiteral("端末の名前を 40 文字までで入力してください。"));
    const QString fp = in.value("fp").toString().remove(':').toUpper();
    if (!m_fingerprint.isEmpty() && fp != QString(m_fingerprint).remove(':').toUpper())
        return refused(409, QStringLiteral("この QR コードはこの PC の証明書のものではありません。"
                                           "PC の「スマホで数える」に出ている QR コードを"
                                           "読み取ってください。"));
    if (!m_pairing.take(in.value("token").toString(), m_clock()))
        return refused(403, QStringLiteral("この QR コードは使えません（2 分で切れます）。PC で"
                                           "新しい QR コードを出して、読み取ってください。"));
    const Result<QString> token =
        pairDevice(m_store, name, in.value("counter").toString().left(40), m_clock());
    if (!token)
        return refused(400, token.error());
    return json(200, {{"device", token.value}, {"name", name}});
}

Response PhoneApi::scan(const Device& phone, const QJsonObject& in) {
    const QDate day = dateOf(in.value("date"));
    const QString code = in.value("code").toString().trimmed();
    const QString id = in.value("id").toString();
    const QJsonValue countValue = in.value("count");
    const qint64 count = countValue.isUndefined() ? 1 : qint64(countValue.toDouble());
    if (!day.isValid())
        return refused(400, QStringLiteral("実施日がありません。"));
    if (code.isEmpty() || code.size() > MaxCode)
        return refused(400, QStringLiteral("コードは 1〜%1 文字です。").arg(MaxCode));
    if (id.isEmpty() || id.size() > MaxCode)
        return refused(400, QStringLiteral("スキャンの番号がありません。"));
    if (!countValue.isUndefined() &&
        (!countValue.isDouble() || countValue.toDouble() != double(count) || count == 0 ||
         count > MaxQuantity || count < -MaxQuantity))
        return refused(400, QStringLiteral("数量は 1〜999,999（取り消しは -1 など）です。"));
    const Result<sheet::ScanRecorded> r =
        sheet::recordScan(m_store, day, in.value("category").toString(), code, count, phone.counter,
                          {phone.id, phone.name, id});
    if (!r)
        return refused(r.status.kind == ErrorKind::Closed ? 409 : 503, r.error());
    const sheet::ScanRecorded& s = r.value;
    if (s.known && !s.belowZero && !s.repeat && m_recorded)
        m_recorded(dateKey(day));
    return json(200, {{"known", s.known},
                      {"repeat", s.repeat},
                      {"belowZero", s.belowZero},
                      {"name", s.name},
                      {"quantity", double(s.quantity)}});
}

Response PhoneApi::undo(const Device& phone, const QJsonObject& in) {
    const QDate day = dateOf(in.value("date"));
    if (!day.isValid())
        return refused(400, QStringLiteral("実施日がありません。"));
    const Result<qint64> last = sheet::lastScanOf(m_store, day, phone.name);
    if (!last)
        return refused(503, last.error());
    if (last.value == 0)
        return refused(404, QStringLiteral("取り消すスキャンがありません。"));
    const Result<qint64> undone = sheet::undoEntry(m_store, last.value, phone.counter, phone.name);
    if (!undone)
        return refused(409, undone.error());
    if (m_recorded)
        m_recorded(dateKey(day));
    return json(200, {{"undone", double(last.value)}});
}

Response PhoneApi::progress(const Request& r) {
    const QDate day = QDate::fromString(r.query.value("date"), Qt::ISODate);
    if (!day.isValid())
        return refused(400, QStringLiteral("実施日がありません。"));
    const QString shelf = r.query.value("shelf");
    const Result<Rows> left = sheet::uncountedProducts(m_store, day, r.query.value("category"));
    if (!left)
        return refused(503, left.error());
    QJsonArray items;
    for (const Row& p : left.value)
        if (shelf.isEmpty() || p[1].toString() == shelf)
            items << QJsonObject{
                {"shelf", p[1].toString()}, {"code", p[2].toString()}, {"name", p[3].toString()}};
    return json(200, {{"uncounted", items}});
}

} // namespace phones
