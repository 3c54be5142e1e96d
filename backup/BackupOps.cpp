#include "backup/BackupOps.h"

#include "base/WholeFile.h"
#include "store/Copy.h"
#include "store/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>

namespace backup {

namespace {

const char* suffix(Kind k) {
    switch (k) {
    case Kind::Erase:
        return "-erase";
    case Kind::Manual:
        return "-manual";
    case Kind::Restore:
        return "-restore";
    case Kind::Closing:
        return "-確定";
    case Kind::Daily:
        break;
    }
    return "";
}

const QRegularExpression& namePattern() {
    static const QRegularExpression re(
        "^Stolva-(\\d{8}-\\d{6})(-erase|-manual|-restore)?(?:-\\d+)?\\.mdb$");
    return re;
}

const QRegularExpression& closingPattern() {
    static const QRegularExpression re(QStringLiteral("^Stolva-(\\d{8})-確定\\.mdb$"));
    return re;
}

// Copies made before daily copies existed were all made before an erase;
// they are named so once, the first time a daily copy is made.
void nameOldEraseCopies(const QString& dir) {
    const QString marker = dir + "/.daily";
    if (QFileInfo::exists(marker))
        return;
    for (const QString& name : QDir(dir).entryList({"Stolva-*.mdb"}, QDir::Files)) {
        const auto m = namePattern().match(name);
        if (m.hasMatch() && m.captured(2).isEmpty())
            QFile::rename(dir + "/" + name,
                          dir + "/" + QString(name).replace(".mdb", "-erase.mdb"));
    }
    QFile f(marker);
    if (f.open(QIODevice::WriteOnly))
        f.write("Copies without a kind in their name are the daily copies.\n");
}

// A read-only connection to a copy, closed with the object.
class ReadOnly {
  public:
    explicit ReadOnly(const QString& path) {
        static int n = 0;
        m_name = QString("backup-read-%1").arg(++n);
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", m_name);
        db.setDatabaseName(path);
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        m_ok = db.open();
    }
    ~ReadOnly() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool ok() const { return m_ok; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }
    // A consistent snapshot of the copy as SQLite reads it (with a WAL beside
    // it, its contents too) into `to`, which must not exist.
    bool snapshot(const QString& to, QString* error) const {
        QSqlQuery q(db());
        q.prepare("VACUUM INTO ?");
        q.addBindValue(to);
        if (q.exec())
            return true;
        *error = sqliteReason(q.lastError());
        return false;
    }
    // The first value of the statement, null when it fails.
    QVariant value(const QString& sql, const QVariantList& params = {}) const {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.prepare(sql);
        for (int i = 0; i < params.size(); ++i)
            q.bindValue(i, params[i]);
        return q.exec() && q.next() ? q.value(0) : QVariant();
    }

  private:
    QString m_name;
    bool m_ok = false;
};

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

QString folder(const Store& store) {
    return store.dataPath() + "backup";
}

QString kindName(Kind kind) {
    switch (kind) {
    case Kind::Erase:
        return QStringLiteral("削除前");
    case Kind::Manual:
        return QStringLiteral("手動");
    case Kind::Restore:
        return QStringLiteral("復元前");
    case Kind::Closing:
        return QStringLiteral("確定");
    case Kind::Daily:
        break;
    }
    return QStringLiteral("自動");
}

namespace {
// VACUUM INTO writes a consistent, complete copy of the main file; it takes
// the copy's name (replacing a file of that name) only once it is on the disk whole.
void writeWhole(Store& store, const QString& dir, const QString& path) {
    wholefile::Temp temp(path, wholefile::Temp::OwnerOnly);
    try {
        ledger::snapshotInto(store, dir, temp.path());
    } catch (const StoreError& e) {
        throw StoreError(
            QStringLiteral("%1 を書き込めませんでした: %2").arg(shown(path), e.message()), e.sql(),
            ErrorKind::Io);
    }
    if (const wholefile::Outcome o = temp.commit(); !o)
        throw StoreError(o.error, QString(), ErrorKind::Io);
}
} // namespace

Result<QString> makeCopy(Store& store, Kind kind, const QDateTime& now, const QString& dir) {
    return guardedValue<QString>([&] {
        const QString to = dir.isEmpty() ? folder(store) : dir;
        // Copies cut short in a folder chosen by hand go as in the backup folder.
        for (const QFileInfo& fi :
             QDir(to).entryInfoList({".Stolva*.part*"}, QDir::Files | QDir::Hidden))
            QFile::remove(fi.absoluteFilePath());
        if (!wholefile::makeOwnFolder(to))
            throw StoreError(
                QStringLiteral("バックアップ用フォルダ %1 を作成できません。").arg(shown(to)),
                QString(), ErrorKind::Io);
        const QString base =
            QString("%1/Stolva-%2%3").arg(to, now.toString("yyyyMMdd-HHmmss"), suffix(kind));
        QString path = base + ".mdb";
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = QString("%1-%2.mdb").arg(base).arg(n);
        writeWhole(store, to, path);
        return path;
    });
}

Result<QString> closingCopy(Store& store, const QDate& counted) {
    return guardedValue<QString>([&] {
        const QString to = folder(store);
        if (!wholefile::makeOwnFolder(to))
            throw StoreError(
                QStringLiteral("バックアップ用フォルダ %1 を作成できません。").arg(shown(to)),
                QString(), ErrorKind::Io);
        const QString path = QStringLiteral("%1/Stolva-%2-確定.mdb")
                                 .arg(to, counted.toString(QStringLiteral("yyyyMMdd")));
        // The copy of an earlier closing stays until the new one is whole.
        writeWhole(store, to, path);
        return path;
    });
}

QStringList expired(const QVector<Copy>& copies, const QDateTime& now) {
    QVector<Copy> sorted = copies;
    std::sort(sorted.begin(), sorted.end(),
              [](const Copy& a, const Copy& b) { return a.made > b.made; });
    QStringList out;
    int daily = 0;
    for (const Copy& c : sorted) {
        // A copy named in the future (a clock once wrong) neither counts nor goes unasked.
        if (c.made > now)
            continue;
        if (c.kind == Kind::Closing) {
            if (QDate(c.counted.year() + ClosingYearsKept, 1, 1) <= now.date())
                out.prepend(c.path);
            continue;
        }
        // Only sound copies count: a failed day never pushes a good copy out.
        if (c.kind == Kind::Daily ? (c.sound ? ++daily > DailyKept : daily >= DailyKept)
                                  : c.kind != Kind::Manual && c.made < now.addDays(-DaysKept))
            out.prepend(c.path);
    }
    return out;
}

void removeLeftovers(const Store& store) {
    // Copies cut short by a crash or a full disk never took a copy's name.
    for (const QString& dir : {folder(store), store.dataPath()})
        for (const QFileInfo& fi :
             QDir(dir).entryInfoList({".Stolva*.part*"}, QDir::Files | QDir::Hidden))
            QFile::remove(fi.absoluteFilePath());
}

Result<QString> dailyCopy(Store& store, const QDateTime& now) {
    Result<QString> r;
    removeLeftovers(store);
    // Before the first daily copy exists, so that it is not taken for an old one.
    if (wholefile::makeOwnFolder(folder(store)))
        nameOldEraseCopies(folder(store));
    // Today's copy is one made today, and a sound ledger: a copy named in the
    // future (a clock once wrong) stops no later day's copy.
    for (const Copy& c : list(store, false))
        if (c.kind != Kind::Closing && c.made.date() == now.date() && c.made <= now &&
            check(c.path, store.schemaVersion(), true))
            return r;
    r = makeCopy(store, Kind::Daily, now);
    if (!r)
        return r;
    QVector<Copy> copies = list(store, false);
    const int daily = int(std::count_if(copies.begin(), copies.end(),
                                        [](const Copy& c) { return c.kind == Kind::Daily; }));
    if (daily > DailyKept)
        for (Copy& c : copies)
            if (c.kind == Kind::Daily)
                c.sound = bool(check(c.path, store.schemaVersion(), true));
    for (const QString& old : expired(copies, now))
        QFile::remove(old); // one that cannot go now goes at a later start
    return r;
}

namespace {
void readDetails(Copy& c) {
    const ReadOnly db(c.path);
    const QVariant sheets =
        db.value("SELECT count(*) FROM (SELECT DISTINCT 日付, 商品区分 FROM 在庫表)");
    const QVariant products = db.value("SELECT count(*) FROM 商品マスタ");
    c.sheets = sheets.isNull() ? -1 : sheets.toInt();
    c.products = products.isNull() ? -1 : products.toInt();
}
} // namespace

QVector<Copy> list(const Store& store, bool details) {
    QVector<Copy> out;
    const QDir dir(folder(store));
    // A link or anything but a plain file is not a copy Stolva made.
    for (const QFileInfo& fi :
         dir.entryInfoList({"Stolva-*.mdb"}, QDir::Files | QDir::NoSymLinks)) {
        if (fi.isSymLink() || !fi.isFile())
            continue;
        Copy c;
        if (const auto closing = closingPattern().match(fi.fileName()); closing.hasMatch()) {
            c.counted = QDate::fromString(closing.captured(1), "yyyyMMdd");
            if (!c.counted.isValid())
                continue;
            c.path = fi.absoluteFilePath();
            c.kind = Kind::Closing;
            // Made when the count was closed; listed by that moment.
            c.made = fi.lastModified();
            c.bytes = fi.size();
            if (details)
                readDetails(c);
            out << c;
            continue;
        }
        const auto m = namePattern().match(fi.fileName());
        if (!m.hasMatch())
            continue;
        c.path = fi.absoluteFilePath();
        c.made = QDateTime::fromString(m.captured(1), "yyyyMMdd-HHmmss");
        const QString kind = m.captured(2);
        c.kind = kind == "-erase"     ? Kind::Erase
                 : kind == "-manual"  ? Kind::Manual
                 : kind == "-restore" ? Kind::Restore
                                      : Kind::Daily;
        c.bytes = fi.size();
        if (details)
            readDetails(c);
        out << c;
    }
    std::sort(out.begin(), out.end(), [](const Copy& a, const Copy& b) {
        return a.made != b.made ? a.made > b.made : a.path > b.path;
    });
    return out;
}

namespace {
// What in a copy's contents no save of Stolva leaves: totals that are not the
// sums of their lines, text in a number column. Empty when none.
QString contentsDifference(const ReadOnly& db) {
    const QVariant off = db.value(
        "WITH l AS (SELECT 日付 AS d, coalesce(商品区分, '') AS k, count(*) AS n, total(金額) "
        "AS a FROM 在庫表 GROUP BY 1, 2) "
        "SELECT d || ' ' || k FROM l LEFT JOIN 在庫表集計 s ON s.日付 = l.d AND s.商品区分 = l.k "
        "WHERE s.日付 IS NULL OR s.行数 <> l.n OR abs(s.金額 - l.a) > 0.005 "
        "UNION ALL SELECT 日付 || ' ' || 商品区分 FROM 在庫表集計 s WHERE NOT EXISTS (SELECT 1 "
        "FROM 在庫表 WHERE 日付 = s.日付 AND coalesce(商品区分, '') = s.商品区分) LIMIT 1");
    if (!off.isNull())
        return QStringLiteral("在庫表集計 が保存済みの行の合計と合いません（%1）")
            .arg(off.toString().trimmed());
    for (const schema::Table& t : schema::tables()) {
        if (t.db != Db::Main)
            continue;
        QSqlQuery q(db.db());
        q.prepare("SELECT name FROM pragma_table_info(?) WHERE upper(type) IN ('INTEGER', "
                  "'NUMERIC') AND pk = 0");
        q.addBindValue(t.name);
        q.exec();
        QStringList numbers;
        while (q.next())
            numbers << q.value(0).toString();
        for (const QString& c : numbers)
            if (db.value("SELECT count(*) FROM " + t.name + " WHERE typeof(" + c +
                         ") NOT IN ('integer', 'real', 'null')")
                    .toInt() > 0)
                return QStringLiteral("%1 の %2 に数値でない値があります").arg(t.name, c);
    }
    return QString();
}
} // namespace

Status check(const QString& path, int schemaVersion, bool quick, const QString& shownAs) {
    const QString name = shownAs.isEmpty() ? QFileInfo(path).fileName() : shownAs;
    if (QFileInfo(path).isSymLink())
        return Status::failed(
            QStringLiteral("%1 はリンクです。ファイルそのものを選んでください。").arg(name),
            ErrorKind::Io);
    const Status foreign = Status::failed(
        QStringLiteral("%1 は Stolva のデータベースではないか、壊れています。").arg(name),
        ErrorKind::Foreign);
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly))
        return Status::failed(QStringLiteral("%1 を読めません。").arg(name), ErrorKind::Io);
    if (f.read(16) != QByteArray("SQLite format 3\0", 16))
        return foreign;
    f.close();
    const ReadOnly db(path);
    if (!db.ok() ||
        (!quick && db.value("PRAGMA integrity_check").toString() != QLatin1String("ok")))
        return foreign;
    const QVariant version = db.value("PRAGMA user_version");
    if (version.isNull() || version.toInt() < Store::BaseSchemaVersion)
        return foreign;
    if (version.toInt() > schemaVersion)
        return Status::failed(
            QStringLiteral("%1 は新しいバージョンの Stolva で作られています。").arg(name),
            ErrorKind::Newer);
    for (const schema::Table& t : schema::tables())
        if (t.db == Db::Main && t.since <= version.toInt() &&
            db.value("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?",
                     {t.name})
                    .toInt() != 1)
            return foreign;
    // A copy of this version has exactly its tables, indexes and triggers; an
    // older one is upgraded, and checked the same way, when it is opened.
    if (version.toInt() == schemaVersion) {
        const QString diff = schema::mainDifference(db.db());
        if (!diff.isEmpty())
            return Status::failed(
                QStringLiteral("%1 の構造が Stolva のものと違います。\n%2").arg(name, diff),
                ErrorKind::Foreign);
        const QString wrong = quick ? QString() : contentsDifference(db);
        if (!wrong.isEmpty())
            return Status::failed(
                QStringLiteral("%1 の内容が Stolva の保存したものと違います。\n%2")
                    .arg(name, wrong),
                ErrorKind::Foreign);
    }
    return Status{};
}

Result<QString> restore(Store& store, const QString& path, const QDateTime& now,
                        const std::function<Status()>& afterOpen) {
    Result<QString> r;
    // The file chosen is looked at first (is it a ledger, of which version);
    // every page and the contents are checked once, in the snapshot that goes in.
    if (Status s = check(path, store.schemaVersion(), true); !s) {
        r.status = s;
        return r;
    }
    const QString mainPath = store.mainFilePath();
    const auto fail = [&](const QString& why, ErrorKind kind = ErrorKind::Io) {
        r.status = Status::failed(
            QStringLiteral("復元できませんでした。データは元のままです。%1").arg(why), kind);
    };
    // What the list showed is what goes in: the copy as SQLite reads it, its
    // WAL included.
    wholefile::Temp next(mainPath, wholefile::Temp::OwnerOnly);
    {
        QString error;
        const ReadOnly src(path);
        if (!src.ok() || !src.snapshot(next.path(), &error)) {
            fail(error.isEmpty() ? QStringLiteral("%1 を読めません。").arg(shown(path)) : error);
            return r;
        }
    }
    if (Status s = check(next.path(), store.schemaVersion(), false, QFileInfo(path).fileName());
        !s) {
        r.status = s;
        return r;
    }
    r = makeCopy(store, Kind::Restore, now);
    if (!r)
        return r;
    const QString aside = r.value;
    Status opened = ledger::replaceData(store, next);
    if (!opened && store.isOpen()) { // nothing was replaced
        fail(opened.error, opened.kind);
        return r;
    }
    if (opened && afterOpen)
        opened = afterOpen();
    if (opened)
        return r;
    // The restored data would not open or show: the previous data goes back.
    bool back = false;
    {
        wholefile::Temp again(mainPath, wholefile::Temp::OwnerOnly);
        QString error;
        const ReadOnly src(aside);
        back =
            src.ok() && src.snapshot(again.path(), &error) && ledger::replaceData(store, again).ok;
    }
    const bool reopened = back && store.isOpen() && (!afterOpen || afterOpen().ok);
    r.status = Status::failed(
        (reopened ? QStringLiteral("復元したデータを開けませんでした。元のデータに戻しました。")
                  : QStringLiteral("復元したデータを開けませんでした。元のデータは %1 にあります。")
                        .arg(shown(aside))) +
            "\n" + opened.error,
        opened.kind);
    return r;
}

} // namespace backup
