#pragma once

// What the data tests share: a data folder of their own, hostile texts and
// checks of outcomes. Nothing here needs a window.

#include "store/Store.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Lock faults are waited out this long in tests instead of the program's 1.5 s.
constexpr int QuickBusyTimeoutMs = 100;

// Texts that have broken programs: quotes, SQL, very long, emoji, controls.
const QVector<QPair<const char*, QString>>& hostileTexts();

// A workbook made by another writer: the Python script (openpyxl, or the
// package's parts written by zipfile) writes the file named by sys.argv[1].
QByteArray pythonBook(const QString& script);

// The server the data suites run against when STOLVA_TEST_SERVER names one
// (postgresql://user@host:port/db); null: the local file.
const server::Address* testServer();
// Skips a test of the local file itself when the suites run on a server.
#define SKIP_ON_SERVER(why)                                                                        \
    do {                                                                                           \
        if (testServer())                                                                          \
            QSKIP(why);                                                                            \
    } while (0)

// The test server halted, resumed (or resumed if halted) by tools/pg.sh, as a
// shop's server PC that stops and starts.
void pg(const QString& what);

// Runs a statement on the test server's own database (CREATE DATABASE …).
void onTestServer(const QString& sql);
// The test server's address of another database on it.
server::Address testDatabase(const QString& name);
// The statements that made a server database of schema version 4, kept as they were.
QStringList serverSchemaVersion4();

// The rest of a test that needs the test server is skipped without one.
#define SKIP_ON_SERVER_ONLY()                                                                      \
    do {                                                                                           \
        if (!testServer())                                                                         \
            QSKIP("needs the test server (STOLVA_TEST_SERVER)");                                   \
    } while (0)

// A data folder of its own with both databases opened; on the test server a
// database of its own, dropped with it.
class TempStore {
  public:
    TempStore();
    ~TempStore();
    Store& store() { return *m_store; }
    QString path() const { return m_dir.path() + "/"; }
    // Where another PC finds this ledger: the test server's database, if any.
    std::optional<server::Address> serverAddress() const;
    QString database() const { return m_database; }
    // Reopens the same folder (a restart).
    void reopen();
    int count(Db which, const QString& table, const QString& where = QString(),
              const QVariantList& params = {});
    // Adds a product to the master.
    void addProduct(const QString& code, const QString& name, const QVariant& unit = QVariant(),
                    const QVariant& price = QVariant(), const QVariant& proper = QVariant(),
                    const QVariant& category = QVariant());
    // Names a slot of the code master.
    void nameSlot(const QString& kind, const QString& code, const QVariant& name);
    // Makes a write to a main table fail when the row's new values match
    // `when` (NEW.品名 = 'x'): a fault on either engine. `op`: INSERT, UPDATE.
    void failWrites(const QString& op, const QString& table, const QString& when);
    void stopFailing(const QString& table);
    // Every row of a main table as text, for before/after comparisons.
    QStringList dump(Db which, const QString& table);

  private:
    QTemporaryDir m_dir;
    QString m_database; // on the test server
    std::unique_ptr<Store> m_store;
};

// Declares `var` as the value of an outcome that must have succeeded.
#define VALUE_OK(var, expr)                                                                        \
    const auto var##Outcome_ = (expr);                                                             \
    VERIFY_OK(var##Outcome_);                                                                      \
    const auto& var = var##Outcome_.value

// Sets `QVERIFY2(status.ok, status.error)` in one line.
#define VERIFY_OK(expr)                                                                            \
    do {                                                                                           \
        const Status st_ = statusOf(expr);                                                         \
        QVERIFY2(st_.ok, qPrintable(st_.error));                                                   \
    } while (0)
