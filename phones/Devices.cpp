#include "phones/Devices.h"

#include "base/Values.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace phones {

namespace {
QString iso(const QDateTime& t) {
    return t.toString(Qt::ISODate);
}
} // namespace

QString newToken() {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          bytes.size() / int(sizeof(quint32)));
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString tokenKey(const QString& token) {
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString Pairing::issue(const QDateTime& now) {
    // Old ones go as new ones come: the list stays as short as the QR codes shown.
    for (auto i = m_open.begin(); i != m_open.end();)
        i = i.value().secsTo(now) >= ValidSeconds ? m_open.erase(i) : std::next(i);
    const QString token = newToken();
    m_open.insert(tokenKey(token), now);
    return token;
}

bool Pairing::take(const QString& token, const QDateTime& now) {
    const auto i = m_open.find(tokenKey(token));
    if (i == m_open.end())
        return false;
    const qint64 age = i.value().secsTo(now);
    m_open.erase(i);
    return age >= 0 && age < ValidSeconds;
}

Result<QString> pairDevice(Store& store, const QString& name, const QString& counter,
                           const QDateTime& now) {
    return guardedValue<QString>([&] {
        if (name.trimmed().isEmpty())
            throw StoreError(QStringLiteral("端末の名前を入力してください。"), QString());
        const QString token = newToken();
        Transaction t(store, Db::Main);
        // The name is what the entries say: two phones never share one.
        if (store
                .scalar(Db::Main, "SELECT count(*) FROM 端末 WHERE 名前 = ? AND 解除日時 IS NULL",
                        {name.trimmed()})
                .toInt() > 0)
            throw StoreError(
                QStringLiteral("「%1」という端末はもうあります。別の名前にしてください。")
                    .arg(name.trimmed()),
                QString());
        store.exec(Db::Main, "INSERT INTO 端末 (名前, 担当, 鍵, 登録日時) VALUES (?, ?, ?, ?)",
                   {name.trimmed(), textOrNull(counter.trimmed()), tokenKey(token), iso(now)});
        t.commit();
        return token;
    });
}

Result<std::optional<Device>> deviceOf(Store& store, const QString& token, const QDateTime& now) {
    return guardedValue<std::optional<Device>>([&]() -> std::optional<Device> {
        const QString key = tokenKey(token);
        Row r = store
                    .query(Db::Main,
                           "SELECT id, 名前, 担当, 登録日時, 最終接続 FROM 端末 WHERE 鍵 = ? AND "
                           "解除日時 IS NULL",
                           {key})
                    .value(0);
        if (r.isEmpty())
            return std::nullopt;
        // The last contact to the minute: a phone's every scan is not a write more.
        if (r[4].isNull() || r[4].toString() < iso(now.addSecs(-60))) {
            Transaction t(store, Db::Main);
            r = store
                    .query(Db::Main,
                           "UPDATE 端末 SET 最終接続 = ? WHERE 鍵 = ? AND 解除日時 IS NULL "
                           "RETURNING id, 名前, 担当, 登録日時, 最終接続",
                           {iso(now), key})
                    .value(0);
            t.commit();
            if (r.isEmpty())
                return std::nullopt;
        }
        return Device{r[0].toLongLong(), r[1].toString(), r[2].toString(),
                      r[3].toString(),   r[4].toString(), 0};
    });
}

Status revokeDevice(Store& store, qint64 id, const QDateTime& now) {
    return guarded([&] {
        Transaction t(store, Db::Main);
        store.exec(Db::Main, "UPDATE 端末 SET 解除日時 = ? WHERE id = ? AND 解除日時 IS NULL",
                   {iso(now), id});
        t.commit();
    });
}

Result<QVector<Device>> devices(Store& store, const QDate& day) {
    return guardedValue<QVector<Device>>([&] {
        QVector<Device> out;
        for (const Row& r : store.query(
                 Db::Main,
                 "SELECT d.id, d.名前, d.担当, d.登録日時, d.最終接続, (SELECT count(*) FROM "
                 "棚卸記録 e "
                 "WHERE e.日付 = ? AND e.端末 = d.名前) FROM 端末 d WHERE d.解除日時 IS NULL "
                 "ORDER BY d.id DESC",
                 {dateKey(day)}))
            out << Device{r[0].toLongLong(), r[1].toString(), r[2].toString(),
                          r[3].toString(),   r[4].toString(), r[5].toInt()};
        return out;
    });
}

} // namespace phones
