#include "app/FrmStolva.h"
#include "app/Startup.h"
#include "codes/CodeTab.h"
#include "hints/HintWindow.h"
#include "products/ProductOps.h"
#include "products/ProductTab.h"
#include "sheet/SheetTab.h"
#include "tests/window_fixture.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <functional>

// Every action that writes a database, with a fault injected while it runs:
// the stored data stays exactly as it was, the user sees one clear message,
// what was typed stays; without the fault the same action succeeds.
class TestFaults : public QObject {
    Q_OBJECT
  private slots:
    void faultLeavesDataAndTypingAlone_data();
    void faultLeavesDataAndTypingAlone();
};

namespace {
const QDate D(2024, 1, 5);
const QString Long = QString(1500, QChar(0x5728)); // a long name needs pages of its own

struct Scenario {
    Db db = Db::Main;
    bool grows = true; // the action needs new pages, so a full disk stops it
    std::function<void(FrmStolva&)> prepare;
    std::function<void(FrmStolva&)> act;
    std::function<QStringList(FrmStolva&)> typed; // what the user typed, to be kept
    std::function<bool(FrmStolva&)> done;         // the action's effect is stored
};

int scalar(FrmStolva& w, Db db, const QString& sql) {
    return w.store().scalar(db, sql).toInt();
}

void typeSheet(FrmStolva& w, int lines) {
    WorkTableModel* m = w.sheetTab()->model();
    for (int i = 0; i < lines; ++i) {
        m->setData(m->index(i, sheet::ColName), QString("%1-%2").arg(Long).arg(i));
        m->setData(m->index(i, sheet::ColUnit), QString("u%1").arg(i % 3));
    }
}

QStringList sheetNames(FrmStolva& w) {
    QStringList out;
    for (int r = 0; r < w.sheetTab()->model()->rowCount(); ++r)
        out << w.sheetTab()->model()->value(r, sheet::ColName).toString();
    return out;
}

void storeSheet(FrmStolva& w, const QString& category) {
    w.store().exec(Db::Main,
                   "INSERT INTO 在庫表 (日付, 行番号, code, 品名, 商品区分) VALUES "
                   "('2024-01-05', 1, 'X', 'x', ?), ('2024-01-05', 2, 'Y', 'y', ?)",
                   {category, category});
}

QMap<QString, Scenario> scenarios() {
    QMap<QString, Scenario> s;
    s["save a sheet"] = {
        Db::Main,
        true,
        [](FrmStolva& w) {
            storeSheet(w, "A");
            w.findChild<DateBox*>("dt日付")->setValue(D);
            typeSheet(w, 60);
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmd登録")->click(); },
        sheetNames,
        [](FrmStolva& w) { return scalar(w, Db::Main, "SELECT count(*) FROM 在庫表") == 60; }};
    s["delete a sheet"] = {
        Db::Main,
        false,
        [](FrmStolva& w) {
            storeSheet(w, "A");
            w.findChild<DateBox*>("dt日付")->setValue(D);
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmd削除")->click(); },
        [](FrmStolva& w) { return QStringList{w.findChild<DateBox*>("dt日付")->shownText()}; },
        [](FrmStolva& w) { return scalar(w, Db::Main, "SELECT count(*) FROM 在庫表") == 0; }};
    s["delete a line"] = {
        Db::Main,
        false,
        [](FrmStolva& w) {
            storeSheet(w, "A");
            w.findChild<DateBox*>("dt日付")->setValue(D);
            w.sheetTab()->Read在庫表();
            w.findChild<TwoPaneGrid*>("Grid在庫表")->setCurrent(0, 0, sheet::ColCode);
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmd行削除")->click(); },
        sheetNames,
        [](FrmStolva& w) {
            return scalar(w, Db::Main, "SELECT count(*) FROM 在庫表 WHERE code = 'X'") == 0;
        }};
    s["delete a product from the list"] = {
        Db::Main,
        false,
        [](FrmStolva& w) {
            w.store().exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名) VALUES ('P1', 'p')");
            w.productTab()->Read商品情報();
            w.findChild<QTableView*>("Grid商品情報")
                ->setCurrentIndex(w.productTab()->model()->index(0, 1));
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmd商品行削除")->click(); },
        [](FrmStolva& w) {
            QStringList names;
            for (int r = 0; r < w.productTab()->model()->rowCount(); ++r)
                names << w.productTab()->model()->value(r, products::ColName).toString();
            return names;
        },
        [](FrmStolva& w) { return scalar(w, Db::Main, "SELECT count(*) FROM 商品マスタ") == 0; }};
    s["register the product list"] = {
        Db::Main, true,
        [](FrmStolva& w) {
            for (int i = 0; i < 40; ++i)
                w.store().exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名) VALUES (?, ?)",
                               {QString("P%1").arg(i), QString("p%1").arg(i)});
            w.productTab()->Read商品情報();
            WorkTableModel* m = w.productTab()->model();
            for (int r = 0; r < m->rowCount(); ++r)
                m->setData(m->index(r, 2), QString("%1-%2").arg(Long).arg(r));
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmd商品登録")->click(); },
        [](FrmStolva& w) {
            QStringList out;
            for (int r = 0; r < w.productTab()->model()->rowCount(); ++r)
                out << w.productTab()->model()->value(r, 2).toString();
            return out;
        },
        // Each row renames its product.
        [](FrmStolva& w) {
            return scalar(w, Db::Main, "SELECT count(*) FROM 商品マスタ") == 40 &&
                   scalar(w, Db::Main,
                          "SELECT count(*) FROM 商品マスタ WHERE 品名 NOT LIKE 'p%'") == 40;
        }};
    s["register a product"] = {
        Db::Main,
        true,
        [](FrmStolva& w) {
            w.productTab()->openDetail();
            w.findChild<QLineEdit*>("txt商品コード")->setText("A01");
            // The box holds 255 characters; this fault needs a row of pages of
            // its own, so the limit is lifted for the test.
            w.findChild<QLineEdit*>("txt品名")->setMaxLength(32767);
            w.findChild<QLineEdit*>("txt品名")->setText(Long + Long);
            w.findChild<QComboBox*>("cmb商品区分")->setEditText("新区分");
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmd詳細登録")->click(); },
        [](FrmStolva& w) {
            return QStringList{w.findChild<QLineEdit*>("txt商品コード")->text(),
                               w.findChild<QLineEdit*>("txt品名")->text()};
        },
        [](FrmStolva& w) {
            return scalar(w, Db::Main, "SELECT count(*) FROM 商品マスタ WHERE code = 'A01'") == 1 &&
                   scalar(w, Db::Main,
                          "SELECT count(*) FROM コードマスタ WHERE sname = '新区分'") == 1;
        }};
    s["register codes"] = {
        Db::Main,
        true,
        [](FrmStolva& w) {
            WorkTableModel* m = w.codeTab()->model();
            for (int r = 0; r < 30; ++r)
                m->setData(m->index(r, 3), QString("%1%2").arg(Long.left(400)).arg(r));
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmdコード登録")->click(); },
        [](FrmStolva& w) {
            QStringList out;
            for (int r = 0; r < 30; ++r)
                out << w.codeTab()->model()->value(r, 3).toString();
            return out;
        },
        [](FrmStolva& w) {
            return scalar(w, Db::Main,
                          "SELECT count(*) FROM コードマスタ WHERE sname IS NOT NULL") == 30;
        }};
    s["erase all"] = {
        Db::Main,
        false,
        [](FrmStolva& w) {
            storeSheet(w, "A");
            w.store().exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名) VALUES ('1', 'a')");
        },
        [](FrmStolva& w) { w.findChild<QPushButton*>("cmd一括削除")->click(); },
        [](FrmStolva&) { return QStringList(); },
        [](FrmStolva& w) { return scalar(w, Db::Main, "SELECT count(*) FROM 商品マスタ") == 0; }};
    s["save a hint"] = {
        Db::Work,
        true,
        [](FrmStolva& w) {
            w.showHint("cmdHint");
            w.hintWindow()
                ->findChild<QPlainTextEdit*>("txtContents")
                ->setPlainText(Long.repeated(40));
        },
        [](FrmStolva& w) { w.hintWindow()->findChild<QPushButton*>("cmd登録")->click(); },
        [](FrmStolva& w) {
            return QStringList{
                w.hintWindow()->findChild<QPlainTextEdit*>("txtContents")->toPlainText()};
        },
        [](FrmStolva& w) { return scalar(w, Db::Work, "SELECT count(*) FROM ClHint") == 1; }};
    s["delete a hint"] = {
        Db::Work,
        false,
        [](FrmStolva& w) {
            w.store().exec(Db::Work, "INSERT INTO ClHint (FormName, CtlName, Contents) "
                                     "VALUES ('FrmStolva', 'cmdHint', 'note')");
            w.showHint("cmdHint");
        },
        [](FrmStolva& w) { w.hintWindow()->findChild<QPushButton*>("cmd削除")->click(); },
        [](FrmStolva& w) {
            return QStringList{
                w.hintWindow()->findChild<QPlainTextEdit*>("txtContents")->toPlainText()};
        },
        [](FrmStolva& w) { return scalar(w, Db::Work, "SELECT count(*) FROM ClHint") == 0; }};
    return s;
}

QStringList snapshot(Store& s, Db db) {
    QStringList out;
    const QStringList tables = db == Db::Main
                                   ? QStringList{"在庫表", "商品マスタ", "コードマスタ", "自社情報"}
                                   : QStringList{"ClHint"};
    for (const QString& t : tables)
        for (const Row& r : s.query(db, "SELECT * FROM " + t + " ORDER BY 1")) {
            QStringList cells;
            for (const QVariant& v : r)
                cells << (v.isNull() ? "<null>" : v.toString());
            out << t + ":" + cells.join('|');
        }
    return out;
}
} // namespace

void TestFaults::faultLeavesDataAndTypingAlone_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fault");
    for (const QString& a : scenarios().keys())
        for (const QString& f : QStringList{"read-only", "locked", "disk full"}) {
            if (f == QString("disk full") && !scenarios()[a].grows)
                continue; // a deletion needs no new pages
            QTest::newRow(qPrintable(a + " / " + f)) << a << f;
        }
}

void TestFaults::faultLeavesDataAndTypingAlone() {
    QFETCH(QString, action);
    QFETCH(QString, fault);
    const Scenario sc = scenarios()[action];
    Started started;
    FrmStolva& w = *started.w;
    ScriptedMessages& msgs = started.msgs;
    const QTemporaryDir& dir = started.dir;
    msgs.presenter.defaultAnswer = true;
    msgs.presenter.useDefaultButton = false; // answer Yes to every question
    sc.prepare(w);
    const QStringList before = snapshot(w.store(), sc.db);
    const QStringList typed = sc.typed(w);
    const QString file = dir.path() + (sc.db == Db::Main ? "/Stolva.mdb" : "/StolvaWork.mdb");

    // Inject the fault. Tests run as root, who may write a file without write
    // permission, so a read-only file is the connection's query_only mode.
    QSqlDatabase other;
    // Only the connection of the faulty file: no statement reaches it from the other.
    if (fault == "read-only") {
        w.store().exec(sc.db, "PRAGMA query_only = 1");
    } else if (fault == "locked") {
        other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(file);
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY(q.exec("BEGIN IMMEDIATE"));
        QVERIFY(q.exec("CREATE TABLE lock_holder (x)"));
    } else {
        // Room for two more pages: the action fails part-way through.
        const int pages = w.store().scalar(sc.db, "PRAGMA page_count").toInt();
        w.store().exec(sc.db, QString("PRAGMA max_page_count = %1").arg(pages + 2));
    }
    msgs.presenter.shown.clear();
    // A save over the stored sheet replaces it when asked.
    msgs.presenter.choices = {0};
    sc.act(w);

    QVector<MsgDialog> warnings;
    for (const MsgDialog& d : msgs.presenter.shown)
        if (d.style == MsgStyle::Warning)
            warnings << d;
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings[0].title, QString("エラー"));
    QVERIFY2(warnings[0].text.contains(QStringLiteral("できませんでした")),
             qPrintable(warnings[0].text));

    // Remove the fault before looking, so the look itself is not refused.
    if (fault == "read-only") {
        w.store().exec(sc.db, "PRAGMA query_only = 0");
    } else if (fault == "locked") {
        QSqlQuery(other).exec("ROLLBACK");
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
    } else {
        w.store().exec(sc.db, "PRAGMA max_page_count = 1073741823");
    }
    QCOMPARE(snapshot(w.store(), sc.db), before);
    QCOMPARE(sc.typed(w), typed);
    QVERIFY(!sc.done(w));

    msgs.presenter.shown.clear();
    msgs.presenter.choices = {0};
    sc.act(w);
    for (const MsgDialog& d : msgs.presenter.shown)
        QVERIFY2(d.style != MsgStyle::Warning, qPrintable(d.text));
    QVERIFY(sc.done(w));
}

STOLVA_WINDOW_TEST_MAIN(TestFaults)
#include "tst_faults.moc"
