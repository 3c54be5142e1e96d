#include "backup/BackupOps.h"

#include "store/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

// Writes the bytes of `from` to `to` and forces them to the disk.
bool copyDurably(const QString& from, const QString& to, QString* error) {
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = out.errorString();
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            *error = in.errorString();
            return false;
        }
        if (out.write(chunk) != chunk.size()) {
            *error = out.errorString();
            return false;
        }
    }
    if (!out.flush() || ::fsync(out.handle()) != 0) {
        *error = QStringLiteral("ディスクに書き込めません。");
        return false;
    }
    return true;
}

// Makes a rename in the folder durable.
void syncFolder(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

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
    case Kind::Daily:
        break;
    }
    return QStringLiteral("自動");
}

Result<QString> makeCopy(Store& store, Kind kind, const QDateTime& now, const QString& dir) {
    return guardedValue<QString>([&] {
        const QString to = dir.isEmpty() ? folder(store) : dir;
        if (!QDir().mkpath(to))
            throw StoreError(
                QStringLiteral("バックアップ用フォルダ %1 を作成できません。").arg(shown(to)),
                QString(), ErrorKind::Io);
        const QString base =
            QString("%1/Stolva-%2%3").arg(to, now.toString("yyyyMMdd-HHmmss"), suffix(kind));
        QString path = base + ".mdb";
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = QString("%1-%2.mdb").arg(base).arg(n);
        // VACUUM INTO writes a consistent, complete copy of the main file.
        store.exec(Db::Main, "VACUUM INTO ?", {path});
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
        if (c.kind == Kind::Daily ? ++daily > DailyKept
                                  : c.kind != Kind::Manual && c.made < now.addDays(-DaysKept))
            out.prepend(c.path);
    }
    return out;
}

Result<QString> dailyCopy(Store& store, const QDateTime& now) {
    Result<QString> r;
    // Before the first daily copy exists, so that it is not taken for an old one.
    if (QDir().mkpath(folder(store)))
        nameOldEraseCopies(folder(store));
    const QVector<Copy> copies = list(store, false);
    if (!copies.isEmpty() && copies.first().made.date() >= now.date())
        return r;
    r = makeCopy(store, Kind::Daily, now);
    if (!r)
        return r;
    for (const QString& old : expired(list(store, false), now))
        QFile::remove(old); // one that cannot go now goes at a later start
    return r;
}

QVector<Copy> list(const Store& store, bool details) {
    QVector<Copy> out;
    const QDir dir(folder(store));
    for (const QFileInfo& fi : dir.entryInfoList({"Stolva-*.mdb"}, QDir::Files)) {
        const auto m = namePattern().match(fi.fileName());
        if (!m.hasMatch())
            continue;
        Copy c;
        c.path = fi.absoluteFilePath();
        c.made = QDateTime::fromString(m.captured(1), "yyyyMMdd-HHmmss");
        const QString kind = m.captured(2);
        c.kind = kind == "-erase"     ? Kind::Erase
                 : kind == "-manual"  ? Kind::Manual
                 : kind == "-restore" ? Kind::Restore
                                      : Kind::Daily;
        c.bytes = fi.size();
        if (details) {
            const ReadOnly db(c.path);
            const QVariant sheets =
                db.value("SELECT count(*) FROM (SELECT DISTINCT 日付, 商品区分 FROM 在庫表)");
            const QVariant products = db.value("SELECT count(*) FROM 商品マスタ");
            c.sheets = sheets.isNull() ? -1 : sheets.toInt();
            c.products = products.isNull() ? -1 : products.toInt();
        }
        out << c;
    }
    std::sort(out.begin(), out.end(), [](const Copy& a, const Copy& b) {
        return a.made != b.made ? a.made > b.made : a.path > b.path;
    });
    return out;
}

Status check(const QString& path, int schemaVersion) {
    const QString name = QFileInfo(path).fileName();
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
    if (!db.ok() || db.value("PRAGMA integrity_check").toString() != QLatin1String("ok"))
        return foreign;
    if (db.value("PRAGMA user_version").toInt() > schemaVersion)
        return Status::failed(
            QStringLiteral("%1 は新しいバージョンの Stolva で作られています。").arg(name),
            ErrorKind::Newer);
    for (const schema::Table& t : schema::tables())
        if (t.db == Db::Main &&
            db.value("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?",
                     {t.name})
                    .toInt() != 1)
            return foreign;
    return Status{};
}

Result<QString> restore(Store& store, const QString& path, const QDateTime& now) {
    Result<QString> r;
    if (Status s = check(path, store.schemaVersion()); !s) {
        r.status = s;
        return r;
    }
    r = makeCopy(store, Kind::Restore, now);
    if (!r)
        return r;
    const QString dataPath = store.dataPath(), mainPath = store.mainDbPath();
    const QString next = mainPath + ".restoring";
    const auto fail = [&](const QString& why) {
        QFile::remove(next);
        r.status = Status::failed(
            QStringLiteral("復元できませんでした。データは元のままです。%1").arg(why),
            ErrorKind::Io);
    };
    QString error;
    if (!copyDurably(path, next, &error)) {
        fail(error);
        return r;
    }
    // Closed, the main file has no journal; the rename puts the whole new
    // file in its place at once.
    store.close();
    if (std::rename(QFile::encodeName(next).constData(), QFile::encodeName(mainPath).constData()) !=
        0) {
        fail(QStringLiteral("%1 を置き換えられません。").arg(shown(mainPath)));
        if (Status s = store.open(dataPath); !s)
            r.status.error += "\n" + s.error;
        return r;
    }
    syncFolder(dataPath);
    if (Status s = store.open(dataPath); !s) {
        // The checked copy would not open: the aside copy goes back.
        const QString aside = r.value;
        const bool back = copyDurably(aside, next, &error) &&
                          std::rename(QFile::encodeName(next).constData(),
                                      QFile::encodeName(mainPath).constData()) == 0;
        const bool reopened = back && store.open(dataPath).ok;
        r.status = Status::failed(
            (reopened
                 ? QStringLiteral("復元したデータを開けませんでした。元のデータに戻しました。")
                 : QStringLiteral("復元したデータを開けませんでした。元のデータは %1 にあります。")
                       .arg(shown(aside))) +
                "\n" + s.error,
            s.kind);
    }
    return r;
}

} // namespace backup
