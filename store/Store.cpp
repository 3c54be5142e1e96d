#include "store/Store.h"

#include "base/WholeFile.h"
#include "store/Columns.h"
#include "store/Engine.h"
#include "store/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlQuery>
#include <atomic>

namespace {
std::atomic<int> nextStoreId{1};

const char* const MainFile = "Stolva.mdb";
const char* const WorkFile = "StolvaWork.mdb";
} // namespace

Store::Store() : m_id(nextStoreId++) {}

Store::~Store() {
    close();
}

void Store::setServer(std::optional<server::Address> address) {
    m_server = std::move(address);
    m_engines[int(Db::Main)] = m_server ? serverEngine(m_server->shown()) : sqliteEngine();
}

QString Store::connectionName(Db which) const {
    return QString(which == Db::Main ? "dbMain#%1" : "dbWork#%1").arg(m_id);
}

QSqlDatabase Store::db(Db which) const {
    return QSqlDatabase::database(connectionName(which), false);
}

void Store::close() {
    dropManyCache();
    m_sqlite[0] = m_sqlite[1] = nullptr;
    for (auto& cache : m_cache)
        cache.clear();
    for (Db which : {Db::Work, Db::Main}) {
        const QString name = connectionName(which);
        if (QSqlDatabase::contains(name)) {
            {
                QSqlDatabase d = QSqlDatabase::database(name, false);
                d.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }
    m_open = false;
}

namespace {
QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}
QString label(Db which) {
    return which == Db::Main ? QStringLiteral("データファイル") : QStringLiteral("作業用ファイル");
}
} // namespace

Status Store::checkExisting(Db which, const QString& path) {
    QFileInfo fi(path);
    if (fi.isDir())
        return Status::failed(QStringLiteral("%1 %2 がフォルダになっています。起動できません。")
                                  .arg(label(which), shown(path)),
                              ErrorKind::Io);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Status::failed(QStringLiteral("%1 %2 を読み込めません。起動できません。")
                                  .arg(label(which), shown(path)),
                              ErrorKind::Io);
    const QByteArray head = f.read(16);
    if (head != QByteArray("SQLite format 3\0", 16))
        return Status::failed(
            QStringLiteral("%1 %2 は Stolva のデータベースではないか、壊れています。"
                           "起動できません。ファイルは変更していません。")
                .arg(label(which), shown(path)),
            ErrorKind::Foreign);
    return Status{};
}

// Step 1: the folder and the files, before any connection touches them.
Status Store::checkFiles(bool mainExists, bool workExists) {
    if (!mainExists && workExists)
        return Status::failed(
            QStringLiteral("データファイル %1 が見つかりません。作業用ファイルだけが残っています。"
                           "データフォルダを確認してください。")
                .arg(shown(m_mainPath)),
            ErrorKind::Io);
    if (!wholefile::makeOwnFolder(m_dataPath))
        return Status::failed(
            QStringLiteral("データフォルダ %1 を作成できません。").arg(shown(m_dataPath)),
            ErrorKind::Io);
    if (mainExists)
        if (Status s = checkExisting(Db::Main, m_mainPath); !s)
            return s;
    if (workExists)
        if (Status s = checkExisting(Db::Work, m_workPath); !s)
            return s;
    return Status{};
}

void Store::openConnection(Db which, const QString& path) {
    QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", connectionName(which));
    d.setDatabaseName(path);
    d.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    if (!d.open())
        throw StoreError(QStringLiteral("データベース %1 を開けません: %2")
                             .arg(shown(path), sqliteReason(d.lastError())),
                         QString(), ErrorKind::Io);
    m_sqlite[int(which)] = sqliteHandleOf(d);
}

// Step 2: an existing file is probed before anything is written to it: its
// tables must all be there and its version not newer than this program's.
void Store::probe(Db which, const QString& path) {
    const int version = scalar(which, "PRAGMA user_version").toInt();
    QSet<QString> have;
    for (const Row& r : query(which, "SELECT name FROM sqlite_master WHERE type = 'table'"))
        have.insert(r[0].toString());
    int missing = 0;
    for (const schema::Table& t : schema::tables())
        if (t.db == which && t.since <= version && !have.contains(t.name))
            ++missing;
    if (version < BaseSchemaVersion || missing > 0)
        throw StoreError(QStringLiteral("%1 %2 は Stolva のデータベースではありません。"
                                        "起動できません。ファイルは変更していません。")
                             .arg(label(which), shown(path)),
                         QString(), ErrorKind::Foreign);
    if (version > schemaVersion())
        throw StoreError(QStringLiteral("%1 %2 はより新しい版の Stolva で作られています。"
                                        "起動できません。ファイルは変更していません。")
                             .arg(label(which), shown(path)),
                         QString(), ErrorKind::Newer);
    // A file of this version must have exactly this version's tables,
    // indexes and triggers: a trigger added elsewhere could change saved data.
    if (which == Db::Main && version == schemaVersion())
        verifyMain();
}

void Store::verifyMain() {
    const QString diff = schema::mainDifference(db(Db::Main));
    if (!diff.isEmpty())
        throw StoreError(QStringLiteral("%1 %2 の構造が Stolva のものと違います。"
                                        "起動できません。ファイルは変更していません。\n%3")
                             .arg(label(Db::Main), shown(m_mainPath), diff),
                         QString(), ErrorKind::Foreign);
}

// Step 3: rollback journal and full sync.
void Store::applyPragmas(Db which) {
    exec(which, "PRAGMA journal_mode=DELETE");
    exec(which, "PRAGMA synchronous=FULL");
}

// Step 4a: a new file gets every table of the schema; a new main file its
// empty slots.
void Store::createSchema(Db which) {
    Transaction t(*this, which);
    for (const schema::Table& table : schema::tables()) {
        if (table.db != which)
            continue;
        exec(which, table.definition);
        for (const QString& index : table.indexes)
            exec(which, index);
    }
    if (which == Db::Main) {
        for (const QString& sql : schema::sheetTotals())
            exec(Db::Main, sql);
        for (const QString& sql : schema::sheetVersions())
            exec(Db::Main, sql);
        QSqlQuery ins = prepare(Db::Main, "INSERT INTO コードマスタ (kcode, code) VALUES (?, ?)");
        for (const QString& kind : schema::slotKinds())
            for (int i = 1; i <= codes::SlotCount; ++i)
                run(ins, {kind, QString("%1").arg(i, 2, 10, QChar('0'))});
    }
    exec(which, QString("PRAGMA user_version=%1").arg(schemaVersion()));
    t.commit();
}

// Step 4b: an older file is brought up to this program's version, step by step,
// in one transaction.
void Store::upgrade(Db which) {
    const int version = scalar(which, "PRAGMA user_version").toInt();
    if (version >= schemaVersion())
        return;
    Transaction t(*this, which);
    for (int v = std::max(version, BaseSchemaVersion); v < schemaVersion(); ++v) {
        const Upgrade& step = m_upgrades[v - BaseSchemaVersion];
        if (which == Db::Main)
            step.apply(*this);
        else if (step.applyWork)
            step.applyWork(*this);
    }
    // The upgraded file must be this version's; if not, the transaction
    // rolls back and the file stays as it was.
    if (which == Db::Main)
        verifyMain();
    exec(which, QString("PRAGMA user_version=%1").arg(schemaVersion()));
    t.commit();
}

// The work file is this PC's editing buffer: a hidden field added to one of
// its tables is added to an existing file at the next start, without a step
// of the shared schema (which every PC of a server would have to take).
void Store::addWorkFields() {
    const QStringList have = [&] {
        QStringList names;
        for (const Row& r : query(Db::Work, "SELECT name FROM pragma_table_info('w在庫表')"))
            names << r[0].toString();
        return names;
    }();
    for (const QString& def : schema::sheetLineSources())
        if (!have.contains(def.section(' ', 0, 0)))
            exec(Db::Work, "ALTER TABLE w在庫表 ADD COLUMN " + def);
}

Status Store::open(const QString& dataPath) {
    Status s = openOnce(dataPath);
    // Refused while the program runs (a restored copy): nothing is starting.
    if (!s && m_everOpened)
        s.error.replace(QStringLiteral("起動できません。"),
                        QStringLiteral("このデータは使えません。"));
    m_everOpened = m_everOpened || s.ok;
    return s;
}

Status Store::openOnce(const QString& dataPath) {
    close();
    m_dataPath = QDir(dataPath).absolutePath() + "/";
    m_mainPath = m_dataPath + MainFile;
    m_workPath =
        (m_workFolder.isEmpty() ? m_dataPath : QDir(m_workFolder).absolutePath() + "/") + WorkFile;
    if (!m_workFolder.isEmpty() && !QDir().mkpath(m_workFolder))
        return Status::failed(
            QStringLiteral("作業用フォルダ %1 を作成できません。").arg(shown(m_workFolder)),
            ErrorKind::Io);
    if (m_server)
        m_mainPath = m_server->shown();
    // On a server only the work file is local.
    const bool mainExists = m_server || QFileInfo::exists(m_mainPath);
    const bool workExists = QFileInfo::exists(m_workPath);
    if (Status s = m_server ? checkFiles(false, false) : checkFiles(mainExists, workExists); !s)
        return s;
    if (m_server && workExists)
        if (Status s = checkExisting(Db::Work, m_workPath); !s)
            return s;

    Status st = guarded([&] {
        const QPair<Db, bool> files[] = {{Db::Main, mainExists}, {Db::Work, workExists}};
        for (const auto& [which, exists] : files) {
            if (engine(which).remote()) {
                openServer();
                continue;
            }
            openConnection(which, which == Db::Main ? m_mainPath : m_workPath);
            if (exists)
                probe(which, which == Db::Main ? m_mainPath : m_workPath);
        }
        for (const auto& [which, exists] : files) {
            if (engine(which).remote())
                continue;
            applyPragmas(which);
            if (exists)
                upgrade(which);
            else
                createSchema(which);
            if (which == Db::Work && exists)
                addWorkFields();
        }
    });
    if (!st) {
        close();
        if (st.kind == ErrorKind::Busy)
            st.error = QStringLiteral("データベースが他のプログラムに使用されています。"
                                      "しばらくしてから起動してください。（%1）")
                           .arg(st.error);
        else if (st.kind == ErrorKind::Other)
            st.error = QStringLiteral("データベースを開けません。起動できません。"
                                      "ファイルは変更していません。（%1）")
                           .arg(st.error);
        else if (st.kind == ErrorKind::Io && m_server && st.error.isEmpty())
            st.error = QStringLiteral("サーバー %1 に接続できません。").arg(m_server->shown());
        return st;
    }
    // The ledger and the work file are read by their owner only (their
    // journals take the same permissions).
    if (!m_server)
        wholefile::ownerOnly(m_mainPath);
    wholefile::ownerOnly(m_workPath);
    m_open = true;
    return Status{};
}
