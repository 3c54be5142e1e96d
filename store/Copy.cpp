#include "store/Copy.h"

#include "store/Schema.h"

#include <QSet>
#include <QSqlQuery>

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
            for (const QString& table : QStringList{"商品マスタ", "コードマスタ", "自社情報",
                                                    "在庫表", "在庫表版", "在庫表確定"}) {
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
    Transaction read(from, Db::Main);
    if (from.onServer())
        from.exec(Db::Main, "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
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
        for (const QVariant& v : r.value(0))
            said << QString::number(v.toDouble(), 'g', 15);
        out << table + ": " + said.join(' ');
    }
    return out;
}

} // namespace ledger
