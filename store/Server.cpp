#include "store/Server.h"

#include "base/Values.h"
#include "store/Engine.h"

#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

namespace server {

QString Address::shown() const {
    return QStringLiteral("%1%2:%3/%4")
        .arg(user.isEmpty() ? QString() : user + "@", host)
        .arg(port)
        .arg(database);
}

QString Address::url() const {
    QUrl u;
    u.setScheme(QStringLiteral("postgresql"));
    u.setHost(host);
    u.setPort(port);
    u.setUserName(user);
    u.setPath("/" + database);
    if (!options.isEmpty()) {
        QUrlQuery q;
        for (const QString& o : options.split(';', Qt::SkipEmptyParts))
            q.addQueryItem(o.section('=', 0, 0), o.section('=', 1));
        u.setQuery(q);
    }
    return u.toString();
}

Result<Address> parse(const QString& text) {
    Result<Address> r;
    const QUrl u(text.trimmed(), QUrl::StrictMode);
    const auto refuse = [&](const QString& why) {
        r.status = Status::failed(QStringLiteral("接続先「%1」: %2").arg(text, why));
        return r;
    };
    if (!u.isValid() ||
        (u.scheme() != QLatin1String("postgresql") && u.scheme() != QLatin1String("postgres")))
        return refuse(QStringLiteral("postgresql://ユーザー@ホスト:ポート/データベース の形で"
                                     "指定してください。"));
    // A tab or a line break would end one option and start another in
    // libpq's connection string: no part of the address may hold one.
    for (const QString& part :
         {u.host(), u.userName(), u.password(), u.path(), u.query(QUrl::FullyDecoded)})
        for (const QChar c : part)
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return refuse(QStringLiteral("制御文字（タブや改行）は使えません。"));
    Address& a = r.value;
    if (!u.host().isEmpty())
        a.host = u.host();
    a.port = u.port(5432);
    a.user = u.userName();
    a.password = u.password();
    a.database = u.path().mid(1);
    if (a.database.isEmpty() || a.database.contains('/'))
        return refuse(QStringLiteral("データベース名がありません。"));
    // Only libpq's own options pass; anything else would be taken as one.
    static const QStringList known{
        "sslmode",          "sslrootcert",         "sslcert", "sslkey", "connect_timeout",
        "application_name", "target_session_attrs"};
    QStringList options, keys;
    for (const auto& [key, value] : QUrlQuery(u).queryItems(QUrl::FullyDecoded)) {
        if (!known.contains(key) || value.contains(';') || value.contains(' '))
            return refuse(QStringLiteral("「%1」は使えない接続オプションです。").arg(key));
        // A second sslmode=disable after sslmode=require would win.
        if (keys.contains(key))
            return refuse(QStringLiteral("「%1」が二度指定されています。").arg(key));
        keys << key;
        options << key + "=" + value;
    }
    a.options = options.join(';');
    return r;
}

Status connect(const QString& connection, const Address& a, int busyMs, QString* connectedAs) {
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    if (!d.isValid())
        return Status::failed(QStringLiteral("PostgreSQL に接続する部品（libqt6sql6-psql）が"
                                             "入っていません。"),
                              ErrorKind::Io);
    d.setHostName(a.host);
    d.setPort(a.port);
    d.setDatabaseName(a.database);
    d.setUserName(a.user);
    if (!a.password.isEmpty())
        d.setPassword(a.password);
    // Each option's value quoted as libpq reads it: whatever it holds, it
    // stays that option's value and never becomes another option.
    QStringList options{QStringLiteral("connect_timeout=5")};
    for (const QString& o : a.options.split(';', Qt::SkipEmptyParts)) {
        QString value = o.section('=', 1);
        value.replace('\\', QLatin1String("\\\\")).replace('\'', QLatin1String("\\'"));
        options << o.section('=', 0, 0) + "='" + value + "'";
    }
    d.setConnectOptions(options.join(';'));
    if (!d.open())
        return Status::failed(describe(d.lastError(), a.shown()), ErrorKind::Io);
    // A lock held by another PC is waited for this long, then reported busy;
    // names sort by their codes, as on the local file. Statements prepared
    // once run with one plan (the many-row writes of a save would otherwise
    // be planned anew at each of their first five runs). Who and where, as
    // the server says, not what the address asked for: all in one round trip.
    QSqlQuery q(d);
    if (!q.exec(QStringLiteral("SELECT set_config('lock_timeout', '%1', false), "
                               "set_config('idle_in_transaction_session_timeout', '600000', "
                               "false), set_config('plan_cache_mode', 'force_generic_plan', "
                               "false), current_user, host(inet_server_addr()), "
                               "inet_server_port(), current_database()")
                    .arg(busyMs)) ||
        !q.next())
        return Status::failed(describe(q.lastError(), a.shown()), ErrorKind::Io);
    if (connectedAs) {
        Address at = a;
        at.user = q.value(3).toString();
        if (!q.value(4).isNull())
            at.host = q.value(4).toString();
        if (!q.value(5).isNull())
            at.port = q.value(5).toInt();
        at.database = q.value(6).toString();
        *connectedAs = at.shown();
    }
    return Status();
}

bool isBusy(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("55P03") || code == QLatin1String("40P01") ||
           code == QLatin1String("40001");
}

bool isRetried(const QSqlError& e) {
    return e.nativeErrorCode() == QLatin1String("40P01") ||
           e.nativeErrorCode() == QLatin1String("40001");
}

bool isLost(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    return e.type() == QSqlError::ConnectionError || code.startsWith(QLatin1String("08")) ||
           code == QLatin1String("57P01") || code == QLatin1String("57P02") ||
           code == QLatin1String("57P03") ||
           (code.isEmpty() && e.databaseText().contains(QLatin1String("server closed")));
}

QString describe(const QSqlError& e, const QString& server) {
    const QString t = (e.databaseText().isEmpty() ? e.text() : e.databaseText()).trimmed();
    const QString code = e.nativeErrorCode();
    if (isLost(e))
        return withOriginal(
            QStringLiteral("サーバー %1 に接続できません。ネットワークとサーバーを確認して"
                           "ください。入力した内容はこの PC に残っています。")
                .arg(server),
            t);
    if (code == QLatin1String("55P03"))
        return QStringLiteral("ほかの PC がデータを使用中です");
    if (code == QLatin1String("40P01") || code == QLatin1String("40001"))
        return QStringLiteral("ほかの PC と同時に書き込みました");
    if (code == QLatin1String("28P01") || code == QLatin1String("28000"))
        return withOriginal(
            QStringLiteral("サーバー %1 にログインできません（パスワードは ~/.pgpass か "
                           "PGPASSWORD で指定します）。")
                .arg(server),
            t);
    if (code == QLatin1String("3D000"))
        return withOriginal(QStringLiteral("サーバー %1 にデータベースがありません。").arg(server),
                            t);
    if (code == QLatin1String("53100"))
        return QStringLiteral("サーバーのディスクの空きが足りません");
    if (code.startsWith(QLatin1String("23")) || code.startsWith(QLatin1String("22")))
        return withOriginal(QStringLiteral("保存できない値です"), t);
    return withOriginal(QStringLiteral("データベースのエラー"), t);
}

} // namespace server

namespace {
class Server final : public Engine {
  public:
    explicit Server(QString shown) : m_shown(std::move(shown)) {}
    bool remote() const override { return true; }
    // The writers lock the rows they change (and the advisory locks); a
    // snapshot reads one state of the whole database.
    QSqlError begin(QSqlDatabase& d, bool snapshot, bool, QString* sql) const override {
        *sql = QStringLiteral("BEGIN");
        if (!d.transaction())
            return d.lastError();
        if (!snapshot)
            return QSqlError();
        *sql = QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
        QSqlQuery q(d);
        if (q.exec(*sql))
            return QSqlError();
        const QSqlError e = q.lastError();
        d.rollback();
        return e;
    }
    QSqlError commit(QSqlDatabase& d) const override {
        return d.commit() ? QSqlError() : d.lastError();
    }
    QString lockStatement() const override {
        // The transaction's id comes with the lock: a commit whose answer is
        // lost is asked about by it, without a round trip of its own.
        return QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?)), txid_current()");
    }
    // The first row names each column's type; the server reads the rest alike.
    QString typedRows(int rows, const QStringList& types) const override {
        if (rows == 0)
            return QString();
        QStringList first;
        for (const QString& t : types)
            first << QStringLiteral("CAST(? AS %1)")
                         .arg(t == QLatin1String("INTEGER") ? QStringLiteral("bigint")
                                                            : t.toLower());
        const QString rest = rows > 1 ? ", " + rowMarks(rows - 1, int(types.size())) : QString();
        return "(" + first.join(", ") + ")" + rest;
    }
    // The server prepares only queries and changes of rows, never a definition.
    bool sendsUnprepared() const override { return true; }
    bool asksLostCommits() const override { return true; }
    QString describe(const QSqlError& e) const override { return server::describe(e, m_shown); }
    bool isBusy(const QSqlError& e) const override { return server::isBusy(e); }
    QString busyMessage(const QString& said) const override {
        return QStringLiteral("%1。しばらくしてから、もう一度してください").arg(said);
    }
    bool isLost(const QSqlError& e) const override { return server::isLost(e); }
    bool isRetried(const QSqlError& e) const override { return server::isRetried(e); }

  private:
    QString m_shown;
};
} // namespace

std::unique_ptr<Engine> serverEngine(const QString& shown) {
    return std::make_unique<Server>(shown);
}
