// stolva_bench: measures each operation of the ledger on generated data and
// prints one Markdown table (median of repeated runs, raw SQLite floor, ratio).
#include "bench/generator.h"
#include "codes/CodeOps.h"
#include "products/ProductOps.h"
#include "report/Paint.h"
#include "report/Report.h"
#include "sheet/SheetOps.h"
#include "sheet/SheetReport.h"
#include "store/Erase.h"
#include "work/RefModels.h"
#include "work/WorkResets.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const int Products = 10000;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs setup (not timed) and body (timed) `runs` times; median in ms.
double measure(int runs, const std::function<void()>& setup, const std::function<void()>& body) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        if (setup)
            setup();
        QElapsedTimer e;
        e.start();
        body();
        t.push_back(e.nsecsElapsed() / 1e6);
    }
    return median(t);
}

template <typename Outcome> void check(const Outcome& outcome, const char* what) {
    const Status& s = statusOf(outcome);
    if (!s) {
        std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(s.error));
        std::exit(1);
    }
}

// The raw floor: the same rows written or read with one prepared statement in
// one transaction, on a plain connection with the same pragmas.
class Floor {
  public:
    explicit Floor(const QString& path) {
        QFile::remove(path);
        m_db = QSqlDatabase::addDatabase("QSQLITE", "floor");
        m_db.setDatabaseName(path);
        m_db.open();
        QSqlQuery(m_db).exec("PRAGMA journal_mode=DELETE");
        QSqlQuery(m_db).exec("PRAGMA synchronous=FULL");
    }
    ~Floor() {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase("floor");
    }
    // Inserts n rows of `cols` text/number columns in one transaction.
    double write(int n, int cols, int runs = 7) {
        QStringList defs, marks;
        for (int c = 0; c < cols; ++c) {
            defs << QString("c%1").arg(c);
            marks << "?";
        }
        QSqlQuery(m_db).exec("DROP TABLE IF EXISTS f");
        QSqlQuery(m_db).exec("CREATE TABLE f (id INTEGER PRIMARY KEY, " + defs.join(", ") + ")");
        return measure(
            runs, [&] { QSqlQuery(m_db).exec("DELETE FROM f"); },
            [&] {
                QSqlQuery(m_db).exec("BEGIN");
                QSqlQuery q(m_db);
                q.prepare("INSERT INTO f VALUES (NULL, " + marks.join(", ") + ")");
                for (int i = 0; i < n; ++i) {
                    for (int c = 0; c < cols; ++c)
                        q.bindValue(c, c % 2 ? QVariant(i) : QVariant(gen::productName(i)));
                    q.exec();
                }
                QSqlQuery(m_db).exec("COMMIT");
            });
    }
    // Reads n rows of `cols` columns.
    double read(int n, int cols, int runs = 7) {
        write(n, cols, 1);
        return measure(runs, {}, [&] {
            QSqlQuery q(m_db);
            q.setForwardOnly(true);
            q.exec("SELECT * FROM f");
            while (q.next())
                for (int c = 0; c <= cols; ++c)
                    q.value(c);
        });
    }

  private:
    QSqlDatabase m_db;
};

struct Line {
    QString action;
    double median;
    double floor;
};

} // namespace

int main(int argc, char** argv) {
    // Operations are measured without a window.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString root = QDir::current().absoluteFilePath("stolva-bench-data");
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    Floor floor(root + "/floor.db");
    std::vector<Line> lines;

    // Creating the files of a first start.
    int n = 0;
    lines.push_back({"create both databases",
                     measure(7, {},
                             [&] {
                                 Store s;
                                 check(s.open(QString("%1/create%2").arg(root).arg(n++)), "create");
                             }),
                     floor.write(60, 3)});

    Store store;
    check(store.open(root + "/main"), "open");
    gen::products(store, Products);
    gen::sheets(store, 100, 40);
    gen::sheets(store, 1, 500); // 2026-01-01 becomes a 500-line sheet below

    lines.push_back({"insert 500 blank sheet lines",
                     measure(15, {}, [&] { check(resets::clear在庫明細(store), "clear"); }),
                     floor.write(500, 1)});

    lines.push_back({"Clear在庫表",
                     measure(9, {},
                             [&] { check(resets::clear在庫表(store), "clear"); }),
                     floor.write(500, 1) + floor.write(Products, 4)});

    // Start-up: a child process from its start to the window shown, with all
    // 60 slots named.
    store.exec(Db::Main,
               "UPDATE コードマスタ SET sname = kcode || '名' || code WHERE sname IS NULL");
    {
        const QString exe = QCoreApplication::applicationDirPath() + "/stolva";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("STOLVA_DATA_DIR", root + "/main");
        env.insert("STOLVA_EXIT_WHEN_SHOWN", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        store.close();
        std::vector<double> t;
        for (int i = 0; i < 7; ++i) {
            QProcess p;
            p.setProcessEnvironment(env);
            QElapsedTimer e;
            e.start();
            p.start(exe, {});
            double shown = -1;
            while (p.waitForReadyRead(10000)) {
                if (p.readAllStandardOutput().contains("shown")) {
                    shown = e.nsecsElapsed() / 1e6;
                    break;
                }
            }
            p.waitForFinished(10000);
            if (shown > 0)
                t.push_back(shown);
        }
        check(store.open(root + "/main"), "reopen");
        lines.push_back(
            {"start-up to window shown", t.empty() ? -1 : median(t), floor.read(Products, 4)});
    }

    // The code master.
    for (int i = 1; i <= 30; ++i)
        store.exec(Db::Main, "UPDATE コードマスタ SET sname = ? WHERE kcode = '単位' AND code = ?",
                   {QString("単位%1").arg(i), codes::slotCode(i)});
    lines.push_back(
        {"AutoEntryコードマスタ on a full kind",
         measure(51, {}, [&] { codes::AutoEntryコードマスタ(store, codes::kindUnit(), "新しい単位"); }),
         floor.read(30, 2)});
    check(codes::readCodeTable(store, codes::kindUnit()), "readCodes");
    lines.push_back(
        {"Entryコード",
         measure(15, {}, [&] { check(codes::entryCodes(store, codes::kindUnit()), "entry"); }),
         floor.write(30, 3)});

    // The sheet.
    const QDate day(2026, 1, 1);
    lines.push_back(
        {"load a 500-line sheet",
         measure(9, {}, [&] { check(sheet::read在庫表(store, day, QString()), "load"); }),
         floor.read(500, 9) + floor.write(500, 9)});
    int seed = 0;
    lines.push_back(
        {"save a 500-line sheet",
         measure(
             9, [&] { gen::workSheet(store, 500, seed++); },
             [&] { check(sheet::entry在庫表(store, QDate(2026, 6, 1), QString()), "save"); }),
         floor.write(500, 11)});
    check(sheet::read在庫表(store, day, QString()), "load");
    {
        const qint64 seq = store.scalar(Db::Work, "SELECT min(seq) FROM w在庫表").toLongLong();
        int k = 0;
        lines.push_back(
            {"one cell edit with look-up and total",
             measure(31, {},
                     [&] {
                         store.exec(Db::Work, "UPDATE w在庫表 SET 品名 = ? WHERE seq = ?",
                                    {gen::productName(k++ * 13 % Products), seq});
                         check(sheet::afterCellEdit(store, seq, sheet::ColName), "edit");
                         check(sheet::calc明細(store), "calc");
                     }),
             floor.read(1, 6, 31) + floor.write(1, 4, 31) + floor.read(500, 1, 31)});
    }
    lines.push_back({"fill a sheet from 10,000 products",
                     measure(7, {}, [&] { check(sheet::read商品マスタto在庫表(store), "fill"); }),
                     floor.write(Products, 8)});
    lines.push_back({"delete a date's sheets",
                     measure(
                         9, [&] { gen::sheets(store, 1, 40); },
                         [&] { check(sheet::delete在庫表(store, day), "delete"); }),
                     floor.write(40, 1)});

    // The product master.
    lines.push_back(
        {"read the product list",
         measure(9, {}, [&] { check(products::read商品情報(store, QString()), "read"); }),
         floor.write(Products, 7)});
    lines.push_back({"register the product list",
                     measure(5, {}, [&] { check(products::entry商品情報(store), "register"); }),
                     floor.write(Products, 6)});
    {
        products::Detail d;
        d.code = gen::productCode(4242);
        d.name = gen::productName(4242);
        d.unit = "個";
        d.price = Currency::fromWhole(120);
        d.proper = 12;
        d.category = "青果";
        lines.push_back({"register one product",
                         measure(15, {}, [&] { check(products::entry商品詳細(store, d), "one"); }),
                         floor.write(1, 6, 15)});
    }

    // After a registration the names are read again at once; the product
    // list of the name drop-down when it is next opened.
    {
        QObject holder;
        const RefModels refs = RefModels::create(store, &holder);
        lines.push_back({"refresh every list after a registration",
                         measure(15, {},
                                 [&] {
                                     check(resets::readNameLists(store), "names");
                                     refs.categories->refresh();
                                     refs.units->refresh();
                                     refs.products->markStale();
                                 }),
                         floor.write(60, 2, 15)});
        lines.push_back(
            {"first name drop-down after a product registration",
             measure(
                 9, [&] { refs.products->markStale(); }, [&] { refs.products->ensureFresh(); }),
             floor.write(Products, 4)});
    }

    // Printing a 500-line sheet.
    {
        check(sheet::read在庫表(store, day, QString()), "load");
        check(sheet::fillSheetPrint(store), "print table");
        const report::Definition def = sheet::sheetReport({"2026年01月01日", "", "1,234,567"});
        auto rows = report::readRows(store, "w在庫表印刷", def);
        check(rows, "rows");
        lines.push_back({"lay out a 500-line sheet report",
                         measure(9, {},
                                 [&] {
                                     check(sheet::fillSheetPrint(store), "print table");
                                     rows = report::readRows(store, "w在庫表印刷", def);
                                     check(rows, "rows");
                                     report::layout(def, rows.value);
                                 }),
                         floor.write(500, 9)});
        const QString pdf = root + "/sheet.pdf";
        lines.push_back(
            {"write a 500-line sheet report as PDF",
             measure(5, {},
                     [&] {
                         if (!report::writePdf(report::layout(def, rows.value), pdf, "在庫表"))
                             std::exit(1);
                     }),
             floor.write(500, 9)});
    }

    // Erasing everything, from a full ledger each time.
    lines.push_back({"erase all data",
                     measure(
                         5,
                         [&] {
                             gen::products(store, Products);
                             gen::sheets(store, 100, 40);
                         },
                         [&] { check(allDelete(store), "erase"); }),
                     floor.write(Products, 6)});

    std::printf("| action | median ms | floor ms | ratio |\n|---|---:|---:|---:|\n");
    for (const Line& l : lines)
        std::printf("| %s | %.2f | %.2f | %.1f |\n", qPrintable(l.action), l.median, l.floor,
                    l.floor > 0 ? l.median / l.floor : 0.0);
    store.close();
    QDir(root).removeRecursively();
    return 0;
}
