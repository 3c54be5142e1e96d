#include "store/Copy.h"

#include "store/Schema.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace ledger {

namespace {
// "table.field" of the fields holding numbers.
QSet<QString>& numbers() {
    static QSet<QString> set;
    return set;
}
} // namespace

const QVector<QPair<QString, QString>>& tables() {
    static const QVector<QPair<QString, QString>> all = [] {
        // The fields as the schema defines them, read from an empty file of it.
        QVector<QPair<QString, QString>> out;
        const QString name = QStringLiteral("ledger-columns");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
            db.setDatabaseName(":memory:");
            db.open();
            QStringList statements;
            for (const schema::Table& t : schema::tables())
                if (t.db == Db::Main)
                    statements << t.definition;
            statements << schema::sheetVersions();
            for (const QString& sql : statements)
                QSqlQuery(db).exec(sql);
            for (const QString& table :
                 QStringList{"商品マスタ", "コードマスタ", "自社情報", "在庫表", "在庫表版",
                             "在庫表確定", "棚卸記録", "端末", "端末スキャン", "帳簿設定"}) {
                QSqlQuery q(db);
                q.prepare("SELECT name, type FROM pragma_table_info(?) ORDER BY cid");
                q.addBindValue(table);
                q.exec();
                QStringList fields;
                while (q.next()) {
                    fields << q.value(0).toString();
                    if (q.value(1).toString() != QLatin1String("TEXT"))
                        numbers().insert(table + "." + q.value(0).toString());
                }
                out.append({table, fields.join(", ")});
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return out;
    }();
    return all;
}

void copyAll(Store& from, Store& to) {
    // One snapshot of the source: what another PC saves meanwhile is either
    // wholly in the copy or not at all.
    Transaction read(from, Db::Main, Transaction::Snapshot);
    for (auto it = tables().crbegin(); it != tables().crend(); ++it)
        to.exec(Db::Main, "DELETE FROM " + it->first);
    to.exec(Db::Main, "DELETE FROM 在庫表集計");
    for (const auto& [table, fields] : tables()) {
        const Rows rows = from.query(Db::Main, "SELECT " + fields + " FROM " + table);
        insertRows(to, Db::Main, table, fields, rows);
        if (to.onServer() && fields.startsWith(QLatin1String("id")))
            to.query(Db::Main, "SELECT setval(pg_get_serial_sequence('" + table +
                                   "', 'id'), coalesce(max(id), 0) + 1, false) FROM " + table);
    }
    read.commit();
}

void lockAll(Store& store) {
    if (!store.onServer())
        return;
    QStringList names{"在庫表集計"};
    for (const auto& t : tables())
        names << t.first;
    store.exec(Db::Main, "LOCK TABLE " + names.join(", ") + " IN EXCLUSIVE MODE");
}

QStringList census(Store& store) {
    QStringList out;
    for (const auto& [table, fields] : tables()) {
        // Every number summed, every text measured: a value lost or changed shows.
        QStringList parts{"count(*)"};
        for (const QString& f : fields.split(", "))
            parts << (numbers().contains(table + "." + f) ? "coalesce(sum(" + f + "), 0)"
                                                          : "coalesce(sum(length(" + f + ")), 0)");
        const Rows r = store.query(Db::Main, "SELECT " + parts.join(", ") + " FROM " + table);
        QStringList said;
        for (const QVariant& v : r.value(0).mid(1))
            said << QString::number(v.toDouble(), 'g', 15);
        out << QStringLiteral("%1: %2 行（列ごとの合計・文字数 %3）")
                   .arg(table)
                   .arg(r.value(0).value(0).toLongLong())
                   .arg(said.join(' '));
    }
    return out;
}

} // namespace ledger

namespace ledger {

QStringList refusedByServer(Store& local) {
    QStringList out;
    for (const auto& [table, fields] : tables())
        for (const QString& f : fields.split(", ")) {
            // The local file keeps any value in any column; the server does not.
            const bool number = numbers().contains(table + "." + f);
            const QString bad = number ? "typeof(" + f + ") NOT IN ('integer', 'real', 'null')"
                                : f == QStringLiteral("日付")
                                    ? f + " IS NOT NULL AND (typeof(" + f + ") <> 'text' OR " + f +
                                          " NOT GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]')"
                                    : "typeof(" + f + ") NOT IN ('text', 'null')";
            for (const Row& r : local.query(Db::Main, "SELECT rowid, " + f + " FROM " + table +
                                                          " WHERE " + bad + " LIMIT 20"))
                out << QStringLiteral("%1 の %2 行目: %3「%4」は%5として保存できません")
                           .arg(table, r[0].toString(), f, r[1].toString(),
                                number                        ? QStringLiteral("数値")
                                : f == QStringLiteral("日付") ? QStringLiteral("日付")
                                                              : QStringLiteral("文字"));
        }
    return out;
}

Result<QStringList> copyToServer(Store& local, const server::Address& to) {
    return guardedValue<QStringList>([&] {
        if (local.onServer())
            throw StoreError(QStringLiteral("この PC のデータはすでにサーバーにあります。"),
                             QString());
        if (const QStringList refused = refusedByServer(local); !refused.isEmpty())
            throw StoreError(QStringLiteral("サーバーに保存できない値があります。何もコピーして"
                                            "いません。\n") +
                                 refused.join('\n'),
                             QString(), ErrorKind::Foreign);
        Store remote;
        QTemporaryDir work; // the server store's own work file, thrown away
        remote.setWorkFolder(work.path());
        remote.setServer(to);
        if (Status s = remote.open(local.dataPath()); !s)
            throw StoreError(s.error, QString(), s.kind);
        Transaction t(remote, Db::Main);
        lockAll(remote);
        const qint64 held = remote
                                .scalar(Db::Main, "SELECT (SELECT count(*) FROM 商品マスタ) + "
                                                  "(SELECT count(*) FROM 在庫表) + (SELECT "
                                                  "count(*) FROM コードマスタ WHERE sname IS "
                                                  "NOT NULL)")
                                .toLongLong();
        if (held > 0)
            throw StoreError(QStringLiteral("サーバー %1 にはすでに Stolva のデータがあります。"
                                            "空のデータベースにだけコピーできます。")
                                 .arg(to.shown()),
                             QString(), ErrorKind::Conflict);
        copyAll(local, remote);
        const QStringList mine = census(local), theirs = census(remote);
        if (mine != theirs)
            throw StoreError(QStringLiteral("コピーした行数・合計が元と合いません。何もコピーして"
                                            "いません。\n元: %1\nサーバー: %2")
                                 .arg(mine.join(" / "), theirs.join(" / ")),
                             QString());
        t.commit();
        return mine;
    });
}

void snapshotInto(Store& store, const QString& folder, const QString& to) {
    if (!store.onServer()) {
        store.exec(Db::Main, "VACUUM INTO ?", {to});
        return;
    }
    QTemporaryDir scratch(folder + "/.copy-XXXXXX");
    Store local;
    if (Status s = local.open(scratch.path()); !s)
        throw StoreError(s.error, QString(), ErrorKind::Io);
    {
        Transaction t(local, Db::Main);
        copyAll(store, local);
        t.commit();
    }
    const QString file = local.mainDbPath();
    local.close();
    if (!QFile::rename(file, to))
        throw StoreError(QStringLiteral("%1 を作れません。").arg(QDir::toNativeSeparators(to)),
                         QString(), ErrorKind::Io);
}

Status replaceData(Store& store, wholefile::Temp& copy) {
    const QString dataPath = store.dataPath();
    if (store.onServer()) {
        // The copy opened as a ledger of this version (an older one upgraded)
        // in a scratch folder of its own.
        QTemporaryDir scratch(dataPath + ".restore-XXXXXX");
        const QString file = scratch.path() + "/Stolva.mdb";
        if (!scratch.isValid() || !QFile::rename(copy.path(), file))
            return Status::failed(QStringLiteral("作業用のフォルダーを作れません。"),
                                  ErrorKind::Io);
        Store local;
        if (Status s = local.open(scratch.path()); !s)
            return s;
        return guarded([&] {
            Transaction t(store, Db::Main);
            lockAll(store);
            copyAll(local, store);
            t.commit();
        });
    }
    // Closed, the main file has no journal; the rename puts the whole new
    // file in its place at once.
    store.close();
    if (const wholefile::Outcome o = copy.commit(); !o) {
        Status failed = Status::failed(o.error, ErrorKind::Io);
        if (Status s = store.open(dataPath); !s)
            failed.error += "\n" + s.error;
        return failed;
    }
    return store.open(dataPath);
}

} // namespace ledger
