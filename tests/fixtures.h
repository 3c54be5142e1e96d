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

// A data folder of its own with both databases opened.
class TempStore {
  public:
    TempStore();
    Store& store() { return *m_store; }
    QString path() const { return m_dir.path() + "/"; }
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
    // Every row of a main table as text, for before/after comparisons.
    QStringList dump(Db which, const QString& table);

  private:
    QTemporaryDir m_dir;
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
