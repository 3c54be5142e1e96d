#include "store/Columns.h"
#include "store/Schema.h"
#include "store/Store.h"

#include <QSqlError>
#include <QSqlQuery>

// A ledger on a server: its schema made, checked and upgraded. Several PCs
// may start at once; the advisory lock lets one of them make each change.
namespace {
// Taken by every PC that changes the schema, for its transaction only.
constexpr int SchemaLock = 7365010;
} // namespace

int Store::serverVersion() {
    if (scalar(Db::Main, "SELECT to_regclass('stolva_schema') IS NOT NULL").toBool())
        return scalar(Db::Main, "SELECT max(version) FROM stolva_schema").toInt();
    return scalar(Db::Main, "SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()")
                       .toInt() > 0
               ? -1
               : 0;
}

int Store::serverVersionAtOpen() {
    const QString sql = QStringLiteral("SELECT max(version) FROM stolva_schema");
    m_sqlText = sql;
    ++m_statements;
    QSqlQuery q(db(Db::Main));
    q.setForwardOnly(true);
    if (q.exec(sql))
        return q.next() ? q.value(0).toInt() : 0;
    // No version table (undefined_table): an empty database, or another's.
    if (q.lastError().nativeErrorCode() != QLatin1String("42P01"))
        fail(Db::Main, q.lastError(), sql);
    return serverVersion();
}

void Store::checkServerVersion(int version) {
    const QString where = QStringLiteral("サーバー %1").arg(m_server->shown());
    if (version < 0)
        throw StoreError(QStringLiteral("%1 のデータベースには Stolva のものでない表があります。"
                                        "接続できません。データベースは変更していません。")
                             .arg(where),
                         QString(), ErrorKind::Foreign);
    if (version > schemaVersion())
        throw StoreError(
            QStringLiteral("%1 のデータはより新しい版の Stolva で作られています（データの版 %2、"
                           "この Stolva は版 %3 まで）。接続できません。"
                           "データベースは変更していません。")
                .arg(where)
                .arg(version)
                .arg(schemaVersion()),
            QString(), ErrorKind::Newer);
    if (version > 0 && version < ServerBaseVersion)
        throw StoreError(QStringLiteral("%1 のデータ（版 %2）は Stolva のものではありません。"
                                        "接続できません。データベースは変更していません。")
                             .arg(where)
                             .arg(version),
                         QString(), ErrorKind::Foreign);
}

void Store::openServer() {
    if (Status s =
            server::connect(connectionName(Db::Main), *m_server, m_busyTimeoutMs, &m_connectedAs);
        !s)
        throw StoreError(s.error, QString(), ErrorKind::Io);
    int version = serverVersionAtOpen();
    checkServerVersion(version);
    // Each step in a transaction of its own, under the lock: the version
    // probed again there, since another PC may have taken the step meanwhile.
    // A step that fails leaves the schema at the version before it.
    while (version != schemaVersion()) {
        Transaction t(*this, Db::Main);
        exec(Db::Main, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLock));
        version = serverVersion();
        checkServerVersion(version);
        if (version == 0) {
            for (const QString& sql : schema::serverStatements())
                exec(Db::Main, sql);
            QVariantList empty;
            for (const QString& kind : schema::slotKinds())
                for (int i = 1; i <= codes::SlotCount; ++i)
                    empty << kind << QString("%1").arg(i, 2, 10, QChar('0'));
            runMany(Db::Main,
                    "INSERT INTO コードマスタ (kcode, code) VALUES " +
                        rowMarks(int(empty.size() / 2), 2),
                    empty);
            exec(Db::Main, "INSERT INTO stolva_schema (version) VALUES (?)", {schemaVersion()});
        } else if (version < schemaVersion()) {
            const Upgrade& step = m_upgrades[version - BaseSchemaVersion];
            const Status applied = guarded([&] {
                if (!step.applyServer)
                    throw StoreError(QStringLiteral("サーバーでの手順がありません"), QString());
                step.applyServer(*this);
                exec(Db::Main, "UPDATE stolva_schema SET version = ?", {version + 1});
            });
            if (!applied)
                throw StoreError(
                    QStringLiteral("サーバー %1 のデータを版 %2 から版 %3 に更新できませんでした"
                                   "（%4: %5）。データは版 %2 のままです。")
                        .arg(m_server->shown())
                        .arg(version)
                        .arg(version + 1)
                        .arg(step.what, applied.error),
                    QString(),
                    applied.kind == ErrorKind::Other ? ErrorKind::Foreign : applied.kind);
        }
        t.commit();
        version = serverVersion();
    }
}
