#include "history/HistoryOps.h"
#include "sheet/SheetOps.h"
#include "tests/fixtures.h"

#include <QMap>
#include <QRandomGenerator>

using namespace history;

// The figures of the stock over time, each checked against sums the test
// makes itself from the stored lines: empty quantities, prices with decimals
// (amounts rounded as the sheet rounds them), products without a code, one
// product counted twice on a date, lines without a category.
class TestHistory : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void savedSheetsAndDates();
    void summaryOfADate_data();
    void summaryOfADate();
    void comparison_data();
    void comparison();
    void valueOverTime();
    void sheetTotalsFollowEveryChange_data();
    void sheetTotalsFollowEveryChange();

  private:
    struct Line {
        QString date, category, code, name;
        QVariant quantity, amount;
    };
    TempStore m_t;
    QVector<Line> m_lines;
};

void TestHistory::initTestCase() {
    QRandomGenerator rng(1208);
    const QStringList dates{"2026-03-31", "2026-09-30", "2026-12-08"};
    const QStringList categories{"果物", "野菜", ""};
    for (const QString& date : dates)
        for (const QString& category : categories) {
            const int n = int(rng.bounded(3, 12));
            for (int i = 0; i < n; ++i) {
                // Products 0…14 with codes, 15…19 by name only; some skipped on some dates.
                const int p = int(rng.bounded(20));
                const QVariant qty = rng.bounded(5) == 0 ? QVariant() : QVariant(rng.bounded(200));
                const QVariant price = 0.125 * rng.bounded(1, 8000);
                Line l{date,
                       category,
                       p < 15 ? QString("C%1").arg(p) : QString(),
                       QString("品%1").arg(p),
                       qty,
                       sheet::lineAmount(qty, price)};
                m_t.store().exec(Db::Main,
                                 "INSERT INTO 在庫表 (日付, 商品区分, 行番号, code, 品名, 数量, "
                                 "単価, 金額) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                                 // no category: stored as NULL or as '', one group either way
                                 {date, i % 2 ? textOrNull(category) : QVariant(category), i + 1,
                                  textOrNull(l.code), l.name, qty, price, l.amount});
                m_lines << l;
            }
        }
}

void TestHistory::savedSheetsAndDates() {
    // lines and amount units per date and named category; "*" for the whole date
    QMap<QPair<QString, QString>, QPair<int, qint64>> expected;
    for (const Line& l : m_lines)
        for (const QString& k : {l.category, QString("*")}) {
            if (k.isEmpty())
                continue; // lines without a category are on the date's row only
            auto& e = expected[{l.date, k}];
            ++e.first;
            e.second += Currency::fromVariant(l.amount).value_or(Currency()).units();
        }
    VALUE_OK(sheets, savedSheets(m_t.store()));
    QCOMPARE(sheets.size(), expected.size());
    QCOMPARE(sheets.first().date, QDate(2026, 12, 8));
    QVERIFY(sheets.first().wholeDate);
    for (int i = 1; i < sheets.size(); ++i)
        QVERIFY(sheets[i - 1].date > sheets[i].date ||
                (sheets[i - 1].date == sheets[i].date && !sheets[i].wholeDate));
    for (const SavedSheet& s : sheets) {
        QCOMPARE(s.category.isEmpty(), s.wholeDate);
        const auto e =
            expected.value({s.date.toString(Qt::ISODate), s.wholeDate ? "*" : s.category});
        QCOMPARE(s.lines, e.first);
        QCOMPARE(s.total.units(), e.second);
    }
    VALUE_OK(dates, savedDates(m_t.store()));
    QCOMPARE(dates, QVector<QDate>({{2026, 3, 31}, {2026, 9, 30}, {2026, 12, 8}}));
}

void TestHistory::summaryOfADate_data() {
    QTest::addColumn<QDate>("date");
    QTest::newRow("first") << QDate(2026, 3, 31);
    QTest::newRow("last") << QDate(2026, 12, 8);
    QTest::newRow("no sheet") << QDate(2026, 1, 1);
}

void TestHistory::summaryOfADate() {
    QFETCH(QDate, date);
    QMap<QString, CategoryTotal> expected;
    CategoryTotal all;
    for (const Line& l : m_lines) {
        if (l.date != date.toString(Qt::ISODate))
            continue;
        for (CategoryTotal* t : {&expected[l.category], &all}) {
            ++t->lines;
            t->quantity += l.quantity.toLongLong();
            t->amount = t->amount + Currency::fromVariant(l.amount).value_or(Currency());
        }
    }
    VALUE_OK(s, summary(m_t.store(), date));
    QCOMPARE(s.categories.size(), expected.size());
    for (const CategoryTotal& c : s.categories) {
        QCOMPARE(c.lines, expected[c.category].lines);
        QCOMPARE(c.quantity, expected[c.category].quantity);
        QCOMPARE(c.amount.units(), expected[c.category].amount.units());
    }
    QCOMPARE(s.total.lines, all.lines);
    QCOMPARE(s.total.quantity, all.quantity);
    QCOMPARE(s.total.amount.units(), all.amount.units());
}

void TestHistory::comparison_data() {
    QTest::addColumn<QString>("category");
    QTest::addColumn<QDate>("first");
    QTest::addColumn<QDate>("second");
    QTest::newRow("every category") << "" << QDate(2026, 3, 31) << QDate(2026, 12, 8);
    QTest::newRow("one category") << "果物" << QDate(2026, 9, 30) << QDate(2026, 12, 8);
    QTest::newRow("a date without sheets") << "野菜" << QDate(2026, 1, 1) << QDate(2026, 3, 31);
}

void TestHistory::comparison() {
    QFETCH(QString, category);
    QFETCH(QDate, first);
    QFETCH(QDate, second);
    // key -> per side: present, quantity, amount units
    struct Side {
        bool present = false;
        qint64 quantity = 0, units = 0;
    };
    QMap<QString, QPair<Side, Side>> expected;
    qint64 totalUnits[2] = {0, 0};
    for (const Line& l : m_lines) {
        if (!category.isEmpty() && l.category != category)
            continue;
        const int side = l.date == first.toString(Qt::ISODate)    ? 0
                         : l.date == second.toString(Qt::ISODate) ? 1
                                                                  : -1;
        if (side < 0)
            continue;
        auto& e = expected[l.code.isEmpty() ? l.name : l.code];
        Side& s = side == 0 ? e.first : e.second;
        s.present = true;
        s.quantity += l.quantity.toLongLong();
        const qint64 units = Currency::fromVariant(l.amount).value_or(Currency()).units();
        s.units += units;
        totalUnits[side] += units;
    }
    VALUE_OK(c, compare(m_t.store(), category, first, second));
    QCOMPARE(c.products.size(), expected.size());
    for (const Compared& p : c.products) {
        const auto e = expected.value(p.code.isEmpty() ? p.name : p.code);
        const Side sides[2] = {e.first, e.second};
        for (int side = 0; side < 2; ++side) {
            QCOMPARE(p.quantity[side].has_value(), sides[side].present);
            QCOMPARE(p.quantity[side].value_or(0), sides[side].quantity);
            QCOMPARE(p.amount[side].value_or(Currency()).units(), sides[side].units);
        }
        QCOMPARE(p.quantityChange(), sides[1].quantity - sides[0].quantity);
        QCOMPARE(p.amountChange().units(), sides[1].units - sides[0].units);
    }
    QCOMPARE(c.amount[0].units(), totalUnits[0]);
    QCOMPARE(c.amount[1].units(), totalUnits[1]);
}

void TestHistory::valueOverTime() {
    QMap<QDate, qint64> expected;
    for (const Line& l : m_lines)
        expected[QDate::fromString(l.date, Qt::ISODate)] +=
            Currency::fromVariant(l.amount).value_or(Currency()).units();
    VALUE_OK(points, history::valueOverTime(m_t.store(), QString()));
    QCOMPARE(points.size(), expected.size());
    for (const auto& [date, value] : points)
        QCOMPARE(value.units(), expected[date]);
}

void TestHistory::sheetTotalsFollowEveryChange_data() {
    QTest::addColumn<QString>("sql");
    QTest::newRow("a sheet deleted")
        << "DELETE FROM 在庫表 WHERE 日付 = '2026-03-31' AND 商品区分 = '果物'";
    QTest::newRow("one line deleted")
        << "DELETE FROM 在庫表 WHERE id = (SELECT max(id) FROM 在庫表)";
    QTest::newRow("amounts changed")
        << "UPDATE 在庫表 SET 金額 = 金額 + 1 WHERE 日付 = '2026-09-30'";
    QTest::newRow("a line to another category")
        << "UPDATE 在庫表 SET 商品区分 = '肉' WHERE id = (SELECT min(id) FROM 在庫表)";
    QTest::newRow("a line to another date")
        << "UPDATE 在庫表 SET 日付 = '2027-01-01' WHERE id = (SELECT min(id) + 3 FROM 在庫表)";
    QTest::newRow("an amount emptied") << "UPDATE 在庫表 SET 金額 = NULL WHERE 日付 = '2026-12-08'";
    // One statement over many lines of several sheets: totals taken per statement.
    QTest::newRow("a date's lines into one category")
        << "UPDATE 在庫表 SET 商品区分 = '肉', 金額 = 金額 * 2 WHERE 日付 = '2026-09-30'";
    QTest::newRow("lines copied to another date")
        << "INSERT INTO 在庫表 (日付, 行番号, 品名, 数量, 金額, 商品区分) SELECT '2026-03-31', "
           "行番号 + 1000, 品名, 数量, 金額, 商品区分 FROM 在庫表 WHERE 日付 = '2026-12-08'";
    QTest::newRow("everything deleted") << "DELETE FROM 在庫表";
}

// The per-sheet totals kept by triggers equal the lines' own sums after any change.
void TestHistory::sheetTotalsFollowEveryChange() {
    QFETCH(QString, sql);
    m_t.store().exec(Db::Main, sql);
    const auto rows = [&](const QString& q) {
        QStringList out;
        for (const Row& r : m_t.store().query(Db::Main, q))
            out << QString("%1 %2 %3 %4")
                       .arg(r[0].toString(), r[1].toString(), r[2].toString())
                       .arg(r[3].toDouble());
        return out;
    };
    QCOMPARE(
        rows("SELECT 日付, 商品区分, 行数, 金額 FROM 在庫表集計 ORDER BY 1, 2"),
        rows("SELECT 日付, coalesce(商品区分, ''), count(*), coalesce(sum(金額), 0) FROM 在庫表 "
             "GROUP BY 1, 2 ORDER BY 1, 2"));
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
