#include "app/Startup.h"
#include "codes/CodeTab.h"
#include "products/ProductTab.h"
#include "sheet/SheetTab.h"
#include "store/Notices.h"
#include "tests/window_fixture.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"
#include "work/WorkTableModel.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

// Keyboard scenarios: each row is what a user does (clicks, keys, input-method
// compositions) and what must hold afterwards. Steps (separated by "; ") and
// checks (by " | ") are written as
//   @r,c  P@r,c  C@r,c click a cell of the sheet / product list / code slots
//   ime:テキスト        an input method composes then commits the text
//   keys:abc  key:Tab  typed characters / one key (Qt key name without Key_)
//   click:name  focus:name   click a button / click into a box
//   tab:n  arrow:name  click the n-th tab / the drop-down arrow of a box
//   item:name          click the first item of a list
//   yes                the next question is answered Yes
//   put:r,c=v  sql!:…  data prepared as stored, not typed
// and checks
//   choose:n           the next question with buttons of its own gets button n
//   r,c=text  cur=r,c  focus=name  date=yyyy-MM-dd|null  msg=text  (~= contains)
//   inf=text  details=text (beneath the last question)  shown:name=yes
//   text:name=value  items:name=a,b  listed:text=yes (in the open drop-down)
//   status=text  page=yyyy-MM  moved=none (controls pinned by pin:a,b stayed put)
//   sql:SELECT …=value  wsql:SELECT …=value
class TestTyping : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void scenario_data();
    void scenario();
    void panesStayAlignedWhenScrolled();
    void dropDownListsFitTheirNames();
    void aThousandScansAllCount();
};

namespace {
const QString Today = QDate::currentDate().toString("yyyy-MM-dd");

void prepare(Started& s) {
    s.store().exec(Db::Main,
                   "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, 商品区分) VALUES "
                   "('A01', 'りんご', '個', 100, 5, '果物'), ('B01', '牛乳', '本', 200, 2, "
                   "'乳製品'), ('A02', 'みかん', '袋', 150, 3, '果物'), ('D01', 'みかん', '箱', "
                   "300, 1, '果物')");
    const QStringList units{"個", "本", "袋", "箱", "kg"};
    for (int i = 0; i < units.size(); ++i)
        s.store().exec(Db::Main,
                       "UPDATE コードマスタ SET sname = ? WHERE kcode = '単位' AND code = ?",
                       {units[i], QString("%1").arg(i + 1, 2, 10, QChar('0'))});
    s.store().exec(Db::Main, "UPDATE コードマスタ SET sname = CASE code WHEN '01' THEN '果物' "
                             "ELSE '乳製品' END WHERE kcode = '商品区分' AND code IN ('01','02')");
    s.click("cmdクリア");
}

QPair<int, int> rc(const QString& t) {
    const QStringList p = t.split(',');
    return {p.value(0).toInt(), p.value(1).toInt()};
}

void clickCell(QTableView* v, int row, int col) {
    const QModelIndex i = v->model()->index(row, col);
    v->scrollTo(i);
    user::click(v->viewport(), v->visualRect(i).center());
}

// Where the pinned controls stood: a control that moves under the pointer is a misclick.
QHash<QString, QPoint> pinned;
// Statements run when the step "count:" came: "sent" checks those since.
qint64 counted = 0;

QPoint placeOf(Started& s, const QString& name) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QWidget* w = s.find<QWidget>(name);
    return w ? w->mapTo(s.w.get(), QPoint(0, 0)) : QPoint(-1, -1);
}

void run(Started& s, const QString& step) {
    TwoPaneGrid* g = s.w->findChild<TwoPaneGrid*>("Grid在庫表");
    if (step.startsWith('@')) {
        const auto [r, c] = rc(step.mid(1));
        clickCell(g->pane(c == sheet::ColCode || c == sheet::ColName ? 0 : 1), r, c);
    } else if (step.startsWith("C@")) {
        const auto [r, c] = rc(step.mid(2));
        clickCell(s.find<QTableView>("Gridコード"), r, c);
    } else if (step.startsWith("P@")) {
        const auto [r, c] = rc(step.mid(2));
        clickCell(s.w->findChild<QTableView*>("Grid商品情報"), r, c);
    } else if (step.startsWith("ime:")) {
        user::ime(step.mid(4));
    } else if (step.startsWith("keys:")) {
        user::keys(step.mid(5));
    } else if (step.startsWith("key:")) {
        // key:Name, key:Name:Alt or key:Name:Ctrl
        const QStringList parts = step.mid(4).split(':');
        const int k = QMetaEnum::fromType<Qt::Key>().keyToValue(qPrintable("Key_" + parts[0]));
        QVERIFY2(k >= 0, qPrintable(step));
        user::key(k, parts.value(1) == "Alt"    ? Qt::AltModifier
                     : parts.value(1) == "Ctrl" ? Qt::ControlModifier
                                                : Qt::NoModifier);
    } else if (step.startsWith("click:") || step.startsWith("focus:")) {
        auto* w = s.find<QWidget>(step.mid(6));
        QVERIFY2(w, qPrintable(step));
        user::click(w);
    } else if (step.startsWith("item:")) {
        auto* list = s.find<QListWidget>(step.mid(5));
        QVERIFY2(list && list->count() > 0, qPrintable(step));
        user::click(list->viewport(), list->visualItemRect(list->item(0)).center());
    } else if (step.startsWith("arrow:")) {
        QWidget* w = s.find<QWidget>(step.mid(6));
        user::click(w, QPoint(w->width() - 6, w->height() / 2));
    } else if (step.startsWith("tab:")) {
        QTabBar* bar = s.find<QTabWidget>("SSTab1")->tabBar();
        user::click(bar, bar->tabRect(step.mid(4).toInt()).center());
    } else if (step == "count:") {
        counted = s.store().statementsRun();
    } else if (step.startsWith("pin:")) {
        for (const QString& name : step.mid(4).split(','))
            pinned[name] = placeOf(s, name);
    } else if (step == "yes" || step == "no") {
        s.msgs.presenter.answers << (step == "yes");
    } else if (step.startsWith("choose:")) {
        s.msgs.presenter.choices << step.mid(7).toInt();
    } else if (step.startsWith("put:")) {
        const int eq = step.indexOf('=');
        const auto [r, c] = rc(step.mid(4, eq - 4));
        s.put(r, c, step.mid(eq + 1));
    } else if (step == "notice:") { // another PC's change, as the server announces it
        s.w->findChild<CountNotices*>()->announce(Today);
    } else if (step.startsWith("row:")) { // a row of a list in a window beside the main one
        auto* v = s.find<QTableView>(step.mid(4).section(',', 0, 0));
        QVERIFY2(v && v->isVisible(), qPrintable(step));
        clickCell(v, step.section(',', 1).toInt(), 0);
    } else if (step.startsWith("sql!:")) {
        s.store().exec(Db::Main, step.mid(5));
    } else {
        QFAIL(qPrintable("unknown step " + step));
    }
}

QString actual(Started& s, const QString& what) {
    TwoPaneGrid* g = s.w->findChild<TwoPaneGrid*>("Grid在庫表");
    if (what == "cur") {
        const QModelIndex i = g->currentIndex();
        return i.isValid() ? QString("%1,%2").arg(i.row()).arg(i.column()) : "none";
    }
    if (what == "popup")
        return QApplication::activePopupWidget() ? "yes" : "no";
    if (what == "focus")
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "none";
    if (what == "date") {
        DateBox* d = s.find<DateBox>("dt日付");
        return d->isNull() ? "null" : d->value().toString("yyyy-MM-dd");
    }
    if (what == "page") {
        // The month the box opened, which must be the ledger's own calendar.
        auto* cal = qobject_cast<JapaneseCalendar*>(s.find<DateBox>("dt日付")->calendarWidget());
        if (!cal)
            return QStringLiteral("not the ledger's calendar");
        return QString("%1-%2").arg(cal->yearShown()).arg(cal->monthShown(), 2, 10, QChar('0'));
    }
    if (what.startsWith("code:"))
        return s.w->codeTab()->model()->value(what.mid(5).toInt(), 3).toString();
    if (what.startsWith("listed:")) {
        auto* c = qobject_cast<QComboBox*>(QApplication::focusWidget());
        return c && c->findText(what.mid(7)) >= 0 ? "yes" : "no";
    }
    if (what.startsWith("list:")) {
        auto* list = s.find<QListWidget>(what.mid(5));
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->item(i)->text();
        return items.join(',');
    }
    if (what == "status")
        return s.w->statusBar()->currentMessage();
    if (what == "moved") {
        QStringList moved;
        for (auto i = pinned.cbegin(); i != pinned.cend(); ++i)
            if (placeOf(s, i.key()) != i.value())
                moved << i.key();
        return moved.isEmpty() ? "none" : moved.join(',');
    }
    // A cell marked (tinted): the name of a new product, the category of another.
    const auto marked = [&](int row, int column) {
        return s.sheet()->data(s.sheet()->index(row, column), Qt::BackgroundRole).isValid() ? "yes"
                                                                                            : "no";
    };
    if (what.startsWith("new:"))
        return marked(what.mid(4).toInt(), sheet::ColName);
    if (what.startsWith("checked:")) {
        auto* b = s.find<QAbstractButton>(what.mid(8));
        return b && b->isChecked() ? "yes" : "no";
    }
    if (what.startsWith("hidden:")) // a column of the sheet's right pane
        return s.find<TwoPaneGrid>("Grid在庫表")->pane(1)->isColumnHidden(what.mid(7).toInt())
                   ? "yes"
                   : "no";
    if (what.startsWith("other:"))
        return marked(what.mid(6).toInt(), sheet::ColCategory);
    if (what.startsWith("items:")) {
        auto* c = s.find<QComboBox>(what.mid(6));
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        return items.join(',');
    }
    if (what == "msg")
        return s.msgs.presenter.shown.isEmpty() ? "none" : s.msgs.presenter.shown.last().text;
    if (what == "inf" || what == "details") // beneath the last question
        return s.msgs.presenter.shown.isEmpty() ? "none"
               : what == "inf"                  ? s.msgs.presenter.shown.last().informative
                                                : s.msgs.presenter.shown.last().details;
    if (what.startsWith("shown:")) {
        QWidget* w = s.find<QWidget>(what.mid(6));
        return w && w->isVisibleTo(s.w.get()) ? "yes" : "no";
    }
    if (what.startsWith("text:")) {
        QWidget* w = s.find<QWidget>(what.mid(5));
        if (auto* c = qobject_cast<QComboBox*>(w))
            return c->currentText();
        if (auto* e = qobject_cast<QLineEdit*>(w))
            return e->text();
        if (auto* l = qobject_cast<QLabel*>(w))
            return l->text();
        return "no box " + what;
    }
    if (what.startsWith("view:")) { // view:name,row,column of a list beside the window
        const QStringList p = what.mid(5).split(',');
        auto* v = s.find<QTableView>(p[0]);
        return v ? v->model()->index(p[1].toInt(), p[2].toInt()).data().toString() : "no view";
    }
    if (what == "sent")
        return QString::number(s.store().statementsRun() - counted);
    if (what.startsWith("sql:"))
        return s.store().scalar(Db::Main, what.mid(4)).toString();
    if (what.startsWith("wsql:"))
        return s.store().scalar(Db::Work, what.mid(5)).toString();
    const auto [r, c] = rc(what);
    return s.cell(r, c);
}
} // namespace

void TestTyping::init() {
    // Each pane owns its editors: a shared one made every edit warn.
    QTest::failOnWarning(QRegularExpression("does not belong to this view"));
    pinned.clear();
}

void TestTyping::scenario_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("checks");
    const QString units = "sql:SELECT count(*) FROM コードマスタ WHERE kcode = '単位' AND sname ";
    const QString a01 = "sql:SELECT 品名||'/'||単位||'/'||単価||'/'||適正数||'/'||商品区分 FROM "
                        "商品マスタ WHERE code = ";
    auto row = [](const char* name, const QString& steps, const QString& checks) {
        QTest::newRow(name) << steps.split("; ", Qt::SkipEmptyParts)
                            << checks.split(" | ", Qt::SkipEmptyParts);
    };
    // Typing over a drop-down cell replaces it.
    row("name typed over a name", "put:0,2=りんご; @0,2; ime:牛乳; key:Return",
        "0,2=牛乳 | 0,6=本 | 0,7=200 | 0,9=乳製品 | cur=0,3 | focus=Grid在庫表_1");
    row("unit typed over a unit", "put:0,2=x; put:0,6=個; @0,6; keys:X; key:Return",
        "0,6=X | " + units + "= '個X'=0 | " + units + "= 'X'=1");
    row("category typed over a category", "put:0,2=x; put:0,9=果物; @0,9; ime:野菜; key:Return",
        "0,9=野菜");
    // Enter takes the proposal the user moved to and moves on in one press;
    // without a choice the typed text stays.
    row("name chosen in the list by Enter",
        "@0,2; ime:りん; key:Down; key:Return; keys:5; key:Return",
        "0,2=りんご | 0,3=5 | 0,8=500 | cur=0,4");
    row("unit chosen in the list by Enter", "put:0,2=x; @0,6; keys:k; key:Down; key:Return; keys:9",
        "0,6=kg | " + units + "= 'k'=0 | cur=0,7");
    // A committed count is one write, a name one read of the master and one
    // write (the drop-down reads its two pages around the name besides); the
    // total follows without reading the sheet again.
    row("a typed count is one statement",
        "@0,2; ime:りんご; key:Return; count:; keys:5; key:Return",
        "0,3=5 | 0,8=500 | sent=1 | text:num合計=500");
    row("a count typed again moves the total",
        "@0,2; ime:りんご; key:Return; keys:5; key:Return; "
        "@0,3; keys:2; key:Return; @1,2; ime:みかん; key:Return; keys:1; key:Return",
        "0,8=200 | text:num合計=350");
    row("a typed name is one read and one write", "@0,2; ime:りんご; count:; key:Return",
        "0,2=りんご | 0,6=個 | sent=4");
    row("a new name typed stays what was typed", "@0,2; ime:りん; key:Return; keys:5; key:Return",
        "0,2=りん | 0,6= | 0,3=5 | new:0=yes");
    row("a unit typed stays what was typed", "put:0,2=x; @0,6; keys:k; key:Return",
        "0,6=k | " + units + "= 'k'=1");
    row("exact name wins over longer ones",
        "sql!:INSERT INTO 商品マスタ (品名) VALUES ('りんご大'); "
        "click:cmdクリア; @0,2; ime:りんご; key:Return",
        "0,2=りんご | 0,6=個");
    // A long master: the proposals are read as typed, beyond the first page.
    row("a name far down a long master is proposed",
        "sql!:WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
        "INSERT INTO 商品マスタ (code, 品名, 単価) SELECT 'P' || i, '品' || i, i FROM n; "
        "@0,2; ime:品39; key:Down; key:Down; key:Return; keys:2; key:Return",
        "0,2=品391 | 0,1=P391 | 0,8=782");
    row("a list merely opened registers nothing",
        "put:0,2=x; @0,6; keys:dz; key:F4; key:Escape; key:Escape", units + "= 'dz'=0 | 0,6=");
    // The two panes are one grid for Tab and the arrows.
    row("Tab from name to quantity", "@0,2; key:Tab", "cur=0,3 | focus=Grid在庫表_1");
    row("Shift+Tab from quantity to name", "@0,3; key:Backtab", "cur=0,2 | focus=Grid在庫表_0");
    row("Right from name, Left back", "@2,2; key:Right", "cur=2,3 | focus=Grid在庫表_1");
    row("Left from quantity", "@2,3; key:Left", "cur=2,2 | focus=Grid在庫表_0");
    row("Tab out of an edited name", "@1,2; ime:牛乳; key:Tab; keys:4; key:Return",
        "1,2=牛乳 | 1,3=4 | 1,8=800");
    // Line deletion.
    row("line deletion without a line", "click:cmdマスタ読込; click:cmd行削除",
        "msg=行を選択してください。 | 0,2=みかん");
    row("line deletion of a line typed, not loaded: the saved line stays",
        "put:0,2=手書き; put:1,2=次; sql!:INSERT INTO 在庫表 (日付, 行番号, 品名) VALUES ('" +
            Today + "', 1, '手書き'); @0,2; yes; click:cmd行削除",
        "0,2=次 | sql:SELECT count(*) FROM 在庫表=1 | msg=指定された行 "
        "を削除します。よろしいですか");
    row("a line without a name is named by its code", "put:0,1=Z9; @0,1; no; click:cmd行削除",
        "0,1=Z9 | inf=1行目 Z9 を削除します。");
    row("a reset puts the cursor on the first line", "@300,2; click:cmdクリア",
        "cur=0,1 | wsql:SELECT count(*) FROM w在庫表 WHERE 品名 IS NOT NULL=0");
    // The date box.
    row("date typed into an emptied box", "focus:dt日付; key:Delete; keys:20240105",
        "date=2024-01-05");
    row("Up on an empty box gives today", "focus:dt日付; key:Delete; key:Up", "date=" + Today);
    row("letters do not fill an empty box", "focus:dt日付; key:Delete; keys:x", "date=null");
    row("calendar of an empty box at today's month", "focus:dt日付; key:Delete; arrow:dt日付",
        "page=" + Today.left(7));
    // The detail panel never overwrites a product.
    row("an unregistered list edit is what the panel registers",
        "tab:1; click:cmd商品読込; P@0,4; keys:999; key:Return; P@0,2; click:cmd商品詳細; yes; "
        "click:cmd詳細登録",
        a01 + "'A01'=りんご/個/999/5/果物");
    // A product changed on another PC after the list or the panel read it:
    // the user is asked, nothing is overwritten unasked.
    const QString elsewhere =
        "sql!:UPDATE 商品マスタ SET 単価 = 130, 版 = 版 + 1 WHERE code = 'A01'; ";
    const QString listEdit = "tab:1; click:cmd商品読込; " + elsewhere +
                             "P@0,4; keys:120; key:Return; P@1,4; keys:77; key:Return; yes; ";
    row("list: a product changed elsewhere is left as stored",
        listEdit + "choose:2; click:cmd商品登録",
        a01 + "'A01'=りんご/個/130/5/果物 | status~=他で変更された 1 件は登録していません | "
              "wsql:SELECT 単価 FROM w商品マスタ WHERE code = 'A01'=120");
    row("list: my contents overwrite it", listEdit + "choose:0; click:cmd商品登録",
        a01 + "'A01'=りんご/個/120/5/果物 | status=商品情報を登録しました（新規 0・更新 2）");
    row("list: their contents are read", listEdit + "choose:1; click:cmd商品登録",
        a01 + "'A01'=りんご/個/130/5/果物 | wsql:SELECT 単価 FROM w商品マスタ WHERE code = "
              "'A01'=130 | wsql:SELECT count(*) FROM w商品マスタ WHERE 変更 = 1=0");
    const QString panelEdit = "tab:1; click:cmd商品読込; P@0,2; click:cmd商品詳細; " + elsewhere +
                              "focus:num単価; key:A:Ctrl; keys:120; yes; ";
    row("panel: a product changed elsewhere is left as stored",
        panelEdit + "choose:2; click:cmd詳細登録", a01 + "'A01'=りんご/個/130/5/果物");
    row("panel: my contents overwrite it", panelEdit + "choose:0; click:cmd詳細登録",
        a01 + "'A01'=りんご/個/120/5/果物");
    row("panel: their contents are read", panelEdit + "choose:1; click:cmd詳細登録",
        a01 + "'A01'=りんご/個/130/5/果物 | text:num単価=130");
    row("a renamed row keeps its values",
        "tab:1; click:cmd商品読込; P@0,2; ime:青りんご; key:Return; click:cmd商品詳細; yes; "
        "click:cmd詳細登録",
        a01 + "'A01'=青りんご/個/100/5/果物");
    row("of two same names the chosen row's values",
        "tab:1; click:cmd商品読込; P@3,2; click:cmd商品詳細; yes; click:cmd詳細登録",
        a01 + "'D01'=みかん/箱/300/1/果物 | " + a01 + "'A02'=みかん/袋/150/3/果物");
    row("a name typed in the panel is looked up",
        "tab:1; click:cmd商品詳細; focus:txt品名; ime:牛乳; key:Return",
        "text:cmb単位=本 | text:cmb商品区分=乳製品 | text:txt商品コード=");
    row("the unit box registers what it settled on",
        "tab:1; click:cmd商品詳細; focus:cmb単位; keys:K; key:Tab",
        units + "= 'Kg'=0 | " + units + "= 'K'=0 | text:cmb単位=kg");
    row("a new unit from the panel reaches every list",
        "tab:1; click:cmd商品詳細; focus:cmb単位; keys:dozen; key:Tab",
        units + "= 'dozen'=1 | wsql:SELECT count(*) FROM w単位参照 WHERE sname = 'dozen'=1 | "
                "items:cmb単位=個,本,袋,箱,kg,dozen");
    // Every list shows a change of the masters at once.
    const QString cats =
        "items:cmb商品区分在庫=果物,乳製品,野菜 | items:cmb商品区分選択=果物,乳製品,野菜 | "
        "wsql:SELECT count(*) FROM w商品区分参照 WHERE sname = '野菜'=1";
    row("a category from the panel reaches every list",
        "tab:1; click:cmd商品詳細; focus:txt商品コード; keys:Z1; focus:txt品名; ime:なす; "
        "focus:cmb商品区分; ime:野菜; yes; click:cmd詳細登録; tab:0; @0,2; key:F2",
        cats + " | listed:なす=yes | status=商品 Z1 なす を登録しました");
    // Shelves, who counts, a date that stays, a blind count.
    const QString shelves = "sql!:UPDATE 商品マスタ SET 棚番 = CASE code WHEN 'D01' THEN 'A-1' "
                            "WHEN 'B01' THEN 'A-1' WHEN 'A02' THEN 'B-2' END; ";
    row("a shelf typed in the panel is registered",
        "tab:1; click:cmd商品読込; P@0,2; click:cmd商品詳細; focus:txt棚番; keys:A-3; yes; "
        "click:cmd詳細登録",
        "sql:SELECT 棚番 FROM 商品マスタ WHERE code = 'A01'=A-3 | text:txt棚番=A-3");
    row("the panel shows the shelf of the row it opens on",
        shelves + "tab:1; click:cmd商品読込; P@1,2; click:cmd商品詳細", "text:txt棚番=B-2");
    row("the sheet fills shelf by shelf, products without a shelf last",
        shelves + "yes; click:cmdマスタ読込", "0,1=B01 | 1,1=D01 | 2,1=A02 | 3,1=A01");
    row("the counter's name typed is shown in the status bar",
        "focus:cmb担当; key:A:Ctrl; ime:山田; key:Tab", "text:lbl担当=担当: 山田");
    row("a fixed date stays after クリア",
        "focus:dt日付; key:Delete; keys:20241231; click:chk実施日固定; yes; click:cmdクリア",
        "date=2024-12-31 | checked:chk実施日固定=yes");
    row("without it クリア gives today",
        "focus:dt日付; key:Delete; keys:20241231; yes; click:cmdクリア", "date=" + Today);
    row("a blind count hides the proper quantity and the change", "click:chk適正数を隠す",
        "hidden:4=yes | hidden:5=yes | hidden:3=no");
    row("a category from the product list reaches every list",
        "tab:1; click:cmd商品読込; P@0,6; ime:野菜; key:Return; yes; click:cmd商品登録",
        cats + " | status=商品情報を登録しました（新規 0・更新 1）");
    row("a unit typed on a line reaches the panel", "put:0,2=x; @0,6; keys:dz; key:Return",
        "items:cmb単位=個,本,袋,箱,kg,dz");
    row("a unit renamed on the settings tab reaches every list",
        "tab:2; click:Opt単位; C@0,3; ime:ケース; key:Return; yes; click:cmdコード登録",
        "items:cmb単位=ケース,本,袋,箱,kg | wsql:SELECT sname FROM w単位参照 ORDER BY seq=ケース | "
        "status=単位を登録しました（5件）");
    // The code tab shows what is stored and never empties slots unasked.
    row("the settings tab opens with the stored slots", "tab:2", "code:0=果物 | code:1=乳製品");
    row("emptying named slots is asked about first",
        "tab:2; click:cmdコードクリア; click:cmdコード登録",
        "msg=登録すると商品区分の名称 2 件が削除されます。 よろしいですか | "
        "sql:SELECT count(*) FROM コードマスタ WHERE sname IS NOT NULL AND kcode = '商品区分'=2");
    // The status bar says what each action did.
    const QString shown = QDate::currentDate().toString("yyyy年MM月dd日");
    row("status of a save", "put:0,2=りんご; put:1,2=牛乳; click:cmd登録",
        "status=" + shown + " の在庫表を登録しました（2行）");
    // Counting by scanner: the code's characters then Enter, as a scanner types.
    row("a scan counts one, again two",
        "focus:txtスキャン; keys:A01; key:Return; keys:A01; key:Return",
        "0,1=A01 | 0,2=りんご | 0,3=2 | 0,8=200 | 0,5=-3 | focus=txtスキャン | text:txtスキャン= | "
        "status=A01 りんご 数量 2");
    row("a count before the code", "focus:txtスキャン; keys:12*B01; key:Return",
        "0,2=牛乳 | 0,3=12 | 0,8=2,400");
    row("a lone number sets the next scan's count",
        "focus:txtスキャン; keys:3; key:Return; keys:A01; key:Return; keys:A01; key:Return",
        "0,3=4");
    row("a negative count takes a double scan back",
        "focus:txtスキャン; keys:A01; key:Return; keys:A01; key:Return; keys:-1*A01; key:Return",
        "0,3=1");
    row("a scan goes to the line of its code",
        "click:cmdマスタ読込; focus:txtスキャン; keys:D01; key:Return",
        "1,1=D01 | 1,3=1 | wsql:SELECT count(*) FROM w在庫表 WHERE 数量 IS NOT NULL=1");
    row("an unknown code waits in a list, without a dialog",
        "focus:txtスキャン; keys:4901234567894; key:Return; keys:4901234567894; key:Return; "
        "keys:A01; key:Return",
        "status=A01 りんご 数量 1 | msg=none | list:lst未登録=4901234567894 ×2 | 0,2=りんご | "
        "focus=txtスキャン");
    row("a misread check digit is refused, named and counted",
        "focus:txtスキャン; keys:4901234567890; key:Return; keys:4901234567891; key:Return",
        "status=チェックデジットが違います: 4901234567891 | list:lst未登録= | 0,2= | "
        "text:lblチェックデジット=読み違い 2 件");
    // Counting straight into the saved count, with others counting the same.
    const QString direct = "click:chk直接記録; focus:txtスキャン; keys:A01; key:Return; keys:A01; "
                           "key:Return; ";
    const QString entries = "sql:SELECT group_concat(種類 || ':' || coalesce(前数量, '') || '→' || "
                            "coalesce(後数量, ''), ' ') FROM 棚卸記録";
    const QString savedElsewhere =
        "sql!:INSERT INTO 在庫表 (日付, 行番号, code, 品名, 数量, 単価, 金額, 商品区分) VALUES ('" +
        Today +
        "', 1, 'B01', '牛乳', 5, 200, 1000, '果物'); sql!:INSERT INTO 在庫表版 (日付, 商品区分, "
        "版) VALUES ('" +
        Today + "', '果物', 3); ";
    const QString changedElsewhere =
        "sql!:UPDATE 在庫表 SET 数量 = 9; sql!:UPDATE 在庫表版 SET 版 = 版 + 1; notice:; ";
    row("a scan straight in is stored at once, no 登録", direct + "click:cmdクリア",
        "sql:SELECT 数量 FROM 在庫表 WHERE code = 'A01'=2 | " + entries +
            "=スキャン:→1 スキャン:1→2 | msg=none | 0,2=");
    row("the scanned line shows the stored quantity", direct,
        "0,2=りんご | 0,3=2 | focus=txtスキャン | status=A01 りんご 数量 2（記録しました）");
    row("a scan into a count saved elsewhere shows that count",
        savedElsewhere + "click:chk直接記録; focus:txtスキャン; keys:B01; key:Return",
        "0,2=牛乳 | 0,3=6 | sql:SELECT 版 FROM 在庫表版=4");
    row("a count changed elsewhere is read again when nothing is typed",
        savedElsewhere + "click:cmd読込; " + changedElsewhere,
        "0,3=9 | shown:lbl他の記録=no | status=他の担当が記録しました。在庫表を読み直しました");
    row("typed counts are never overwritten: the heading says so",
        savedElsewhere + "click:cmd読込; @0,3; keys:7; key:Return; " + changedElsewhere,
        "0,3=7 | shown:lbl他の記録=yes");
    row("読み直す reads the other count, after asking",
        savedElsewhere + "click:cmd読込; @0,3; keys:7; key:Return; " + changedElsewhere +
            "yes; click:cmd読み直し",
        "0,3=9 | shown:lbl他の記録=no");
    row("an entry taken back in the history",
        direct + "click:cmd変更履歴; row:grd変更履歴,0; yes; "
                 "click:cmd記録取消",
        entries +
            "=スキャン:→1 スキャン:1→2 取消:2→1 | 0,3=1 | text:lbl変更履歴~=を取り消しました | "
            "view:grd変更履歴,1,3=スキャン（取消済） | view:grd変更履歴,0,6=2 → 1");
    row("an entry taken back twice is refused with a message",
        direct + "click:cmd変更履歴; row:grd変更履歴,1; yes; click:cmd記録取消; row:grd変更履歴,2; "
                 "yes; click:cmd記録取消",
        "msg~=この記録はすでに取り消されています | sql:SELECT 数量 FROM 在庫表=1");
    row("the progress of the count and the uncounted recorded as 0",
        direct + "click:cmd棚卸状況; yes; click:cmd未棚卸ゼロ",
        "sql:SELECT count(*) FROM 棚卸記録 WHERE 種類 = '未棚卸0'=3 | "
        "text:lbl棚卸状況合計=4 品中 4 品 棚卸済（未棚卸 0 品）");
    row("the progress shows what is left", direct + "click:cmd棚卸状況",
        "text:lbl棚卸状況合計=4 品中 1 品 棚卸済（未棚卸 3 品）");
    // Counting fast by keyboard.
    row("Enter after the count goes to the next line's name, when chosen",
        "tab:2; click:chk数量の次は次の行; tab:0; @0,2; ime:りんご; key:Return; keys:3; "
        "key:Return; "
        "ime:牛乳; key:Return; keys:2; key:Return",
        "0,3=3 | 1,2=牛乳 | 1,3=2 | cur=2,2 | focus=Grid在庫表_0");
    row("F4 opens a drop-down cell's list at once", "put:0,2=x; @0,6; key:F4", "popup=yes");
    row("Alt+Down opens it too", "put:0,2=x; @0,9; key:Down:Alt", "popup=yes");
    row("a code registered from the list gets its scans",
        "focus:txtスキャン; keys:Z99; key:Return; keys:Z99; key:Return; item:lst未登録; "
        "key:Return; "
        "focus:txt品名; ime:なし; yes; click:cmd詳細登録",
        "text:txt商品コード=Z99 | wsql:SELECT 数量 FROM w在庫表 WHERE code = 'Z99'=2 | "
        "list:lst未登録=");
    row("a code typed on an empty line fills it", "@3,1; keys:B01; key:Return",
        "3,2=牛乳 | 3,6=本 | 3,7=200 | 3,9=乳製品");
    // What you see is what is stored: a save replaces or deletes only what the
    // user chose. "line" types a count of a product on the next line.
    const QString saved = "sql:SELECT group_concat(品名 || 数量, ',') FROM (SELECT * FROM 在庫表 "
                          "ORDER BY 行番号, id)";
    const QString first = "@0,2; ime:りんご; key:Return; keys:12; key:Return; click:cmd登録; ";
    const QString second = "@0,2; ime:りんご; key:Return; keys:3; key:Return; @1,2; ime:牛乳; "
                           "key:Return; keys:2; key:Return; ";
    row("a second count is asked about; Enter cancels", first + second + "click:cmd登録",
        saved + "=りんご12 | msg~=" + shown +
            " には保存済みの在庫表があります: 果物（1行・ | "
            "0,3=3");
    row("a second count replaces when chosen", first + second + "choose:0; click:cmd登録",
        saved + "=りんご3,牛乳2");
    row("a second count adds when chosen: one product, one line",
        first + second + "choose:1; click:cmd登録",
        saved +
            "=りんご15,牛乳2 | sql:SELECT 金額 FROM 在庫表 WHERE 品名 = 'りんご'=1500 | "
            "status=" +
            shown + " の在庫表を追加登録しました（2行）");
    row("a count reloaded and saved again gets the plain question",
        first + "click:cmd読込; @0,3; keys:20; key:Return; click:cmd登録",
        saved + "=りんご20 | msg=" + shown + "の在庫表 を登録します。よろしいですか");
    row("a count saved elsewhere since it was loaded is asked about",
        first + "click:cmd読込; sql!:UPDATE 在庫表版 SET 版 = 版 + 1; @0,3; keys:20; key:Return; "
                "click:cmd登録",
        saved + "=りんご12 | msg~=には保存済みの在庫表があります");
    row("a category save asks only about its own category",
        "sql!:INSERT INTO 在庫表 (日付, 行番号, 品名, 数量, 商品区分) VALUES ('" + Today +
            "', 1, '牛乳', 1, '乳製品'); focus:cmb商品区分在庫; ime:果物; " +
            first.mid(0, first.indexOf("click:")) + "click:cmd登録",
        saved + "=牛乳1,りんご12 | msg~=の在庫表 を登録します");
    row("line deletion removes exactly the chosen line",
        "sql!:INSERT INTO 在庫表 (日付, 行番号, 品名, 数量) VALUES ('" + Today +
            "', 1, 'りんご', "
            "12), ('" +
            Today + "', 2, 'りんご', 3); click:cmd読込; @1,2; yes; click:cmd行削除",
        saved + "=りんご12 | 0,3=12 | 1,2= | status=行を削除しました（保存済みの行も削除） | "
                "inf=2行目 りんご を削除します。");
    row("a save says what it does to the product master",
        "@0,2; ime:りんご; key:Return; @0,7; keys:120; key:Return; @1,2; ime:ぶどう; key:Return; "
        "no; click:cmd登録",
        "inf=商品マスタ: 追加 1 件・変更 1 件 | details~=りんご: 単価 100 → 120 | details~=ぶどう "
        "| " +
            a01 + "'A01'=りんご/個/100/5/果物 | new:1=yes | new:0=no");
    row("the detail panel keeps its category over a refresh of the lists",
        "tab:1; click:cmd商品読込; P@0,2; click:cmd商品詳細; tab:0; click:cmdクリア; tab:1; yes; "
        "click:cmd詳細登録",
        "text:cmb商品区分=果物 | " + a01 + "'A01'=りんご/個/100/5/果物");
    row("a refused number keeps the cursor on its cell",
        "@0,2; ime:りんご; key:Return; keys:abc; key:Return; keys:7; key:Return",
        "0,3=7 | 0,4=5 | msg=数量には数字以外使用できません");
    row("a refused number by Tab",
        "@0,2; ime:りんご; key:Return; keys:2.5; key:Tab; keys:7; key:Tab",
        "0,3=7 | 0,4=5 | cur=0,4");
    row("waiting scans are unsaved work",
        "focus:txtスキャン; keys:Z99; key:Return; click:cmdクリア",
        "msg=保存されていない変更があります。破棄してよろしいですか | list:lst未登録=Z99 ×1");
    row("the save names the waiting scans it does not keep",
        "focus:txtスキャン; keys:A01; key:Return; keys:Z99; key:Return; no; click:cmd登録",
        "inf=未登録のコード 1 件は保存されません | list:lst未登録=Z99 ×1");
    row("a name typed gets its product's code, and a scan counts there",
        "@0,2; ime:りんご; key:Return; keys:2; key:Return; focus:txtスキャン; keys:A01; key:Return",
        "0,1=A01 | 0,3=3 | 1,2=");
    row("a name two products share gets no code", "@0,2; ime:みかん; key:Return",
        "0,1= | status=「みかん」という商品は複数あります。コードで指定してください");
    row("a count never goes below zero",
        "focus:txtスキャン; keys:5*A01; key:Return; keys:-30*A01; key:Return; keys:-1*A01; "
        "key:Return",
        "0,3=4 | msg~=1行目 りんご の数量は 5 です。30 を引くと");
    // Figures as stored: a price of 98.5 shows 98.5 beside the amount it makes.
    row("a price with a fraction shows as stored",
        "put:0,2=x; @0,7; keys:98.5; key:Return; @0,3; keys:3; key:Return", "0,7=98.5 | 0,8=296");
    row("a cell stops at 255 characters",
        "@0,2; ime:" + QString(300, QChar(0x3042)) + "; key:Return",
        "wsql:SELECT length(品名) FROM w在庫表 ORDER BY seq LIMIT 1=255");
    row("a closed count refuses a save and a line deletion",
        first + "click:cmd読込; pin:cmd一覧,cmd集計,cmd比較; yes; click:cmd確定; @0,3; "
                "keys:1; key:Return; click:cmd登録; @0,2; click:cmd行削除",
        saved + "=りんご12 | msg~=の在庫表は確定済みです | shown:lbl確定=yes | moved=none | "
                "shown:cmd確定解除=yes | shown:cmd確定=no");
    row("closing asks first, and Enter keeps the count open",
        first + "click:cmd読込; click:cmd確定",
        "msg=" + QDate::currentDate().toString("yyyy年MM月dd日") +
            " の在庫表を確定します。確定すると登録・削除はできません。よろしいですか | "
            "sql:SELECT count(*) FROM 在庫表確定=0 | shown:lbl確定=no");
    row("a closed count reopened after asking",
        first +
            "click:cmd読込; yes; click:cmd確定; click:cmd確定解除; yes; click:cmd確定解除; @0,3; "
            "keys:1; key:Return; click:cmd登録",
        saved + "=りんご1 | sql:SELECT count(*) FROM 在庫表確定=0 | shown:lbl確定=no");
    // A count writes to the product master only what was typed on its lines;
    // a product changed elsewhere since keeps its own unless the user chooses.
    const QString apple = "@0,2; ime:りんご; key:Return; ";
    const QString priceElsewhere =
        "sql!:UPDATE 商品マスタ SET 単価 = 130, 版 = 版 + 1 WHERE code = 'A01'; ";
    const QString lastMonth =
        "sql!:INSERT INTO 在庫表 (日付, 行番号, code, 品名, 数量, 単位, 単価, 適正数, 商品区分) "
        "VALUES ('" +
        Today + "', 1, 'A01', 'りんご', 3, '箱', 90, 9, '野菜'); click:cmd読込; ";
    row("a count leaves a price changed elsewhere as stored",
        apple + priceElsewhere + "keys:5; key:Return; click:cmd登録",
        a01 + "'A01'=りんご/個/130/5/果物 | " + saved + "=りんご5");
    row("a count reloaded puts no old values back",
        lastMonth + "@0,3; keys:4; key:Return; click:cmd登録",
        a01 + "'A01'=りんご/個/100/5/果物 | " + saved + "=りんご4");
    row("fields typed on a count are registered",
        apple + "@0,7; keys:120; key:Return; @0,4; keys:8; key:Return; click:cmd登録",
        a01 + "'A01'=りんご/個/120/8/果物");
    row("a price typed on a reloaded count is registered, nothing else",
        lastMonth + "@0,7; keys:95; key:Return; click:cmd登録", a01 + "'A01'=りんご/個/95/5/果物");
    row("a typed price over one changed elsewhere: the master keeps its own",
        apple + "@0,7; keys:120; key:Return; " + priceElsewhere + "click:cmd登録",
        a01 + "'A01'=りんご/個/130/5/果物 | msg~=りんご: 単価 130 → 120 | sql:SELECT 品名 FROM "
              "在庫表=りんご");
    row("a typed price over one changed elsewhere, overwritten when chosen",
        apple + "@0,7; keys:120; key:Return; " + priceElsewhere + "choose:1; click:cmd登録",
        a01 + "'A01'=りんご/個/120/5/果物");
    row("a typed price over one changed elsewhere, the save cancelled",
        apple + "@0,7; keys:120; key:Return; " + priceElsewhere + "choose:2; click:cmd登録",
        a01 + "'A01'=りんご/個/130/5/果物 | sql:SELECT count(*) FROM 在庫表=0 | 0,7=120");
    // Rename means rename.
    row("a product renamed on the list stays one product",
        "tab:1; click:cmd商品読込; P@0,2; ime:青りんご; key:Return; yes; click:cmd商品登録",
        a01 + "'A01'=青りんご/個/100/5/果物 | sql:SELECT count(*) FROM 商品マスタ=4");
    row("a product renamed in the panel keeps its fields",
        "tab:1; click:cmd商品読込; P@0,2; click:cmd商品詳細; focus:txt品名; key:A:Ctrl; "
        "ime:牛乳; key:Tab; yes; click:cmd詳細登録",
        "text:cmb単位=個 | text:cmb商品区分=果物 | " + a01 +
            "'A01'=牛乳/個/100/5/果物 | sql:SELECT count(*) FROM 商品マスタ=4");
    row("a name looked up for a new code empties nothing typed",
        "tab:1; click:cmd商品詳細; focus:txt商品コード; keys:Z1; focus:cmb単位; keys:kg; "
        "focus:txt品名; ime:なし; key:Tab",
        "text:cmb単位=kg | text:txt商品コード=Z1");
    // A line shows the category it is stored under; its product keeps its own.
    const QString fruitSheet = "focus:cmb商品区分在庫; ime:果物; @0,2; ime:牛乳; key:Return; "
                               "keys:2; key:Return; ";
    row("a product of another category on a category's sheet is marked",
        fruitSheet + "no; click:cmd登録",
        "0,9=果物 | other:0=yes | inf~=ほかの商品区分の商品 1 件は 果物 として保存されます");
    row("it is stored under the sheet's category, the product keeps its own",
        fruitSheet + "click:cmd登録",
        "sql:SELECT 商品区分 FROM 在庫表=果物 | " + a01 + "'B01'=牛乳/本/200/2/乳製品");
    row("a category typed on the line moves the product",
        fruitSheet + "@0,9; ime:果物; key:Return; click:cmd登録",
        a01 + "'B01'=牛乳/本/200/2/果物 | other:0=no");
    // Each pair of options is a group of its own: a click on the chosen one keeps it.
    row("the category kind clicked twice stays chosen",
        "tab:2; click:Opt商品区分; click:Opt商品区分; no; click:cmdコード登録",
        "checked:Opt商品区分=yes | checked:Opt単位=no | msg=商品区分 を登録します。よろしいですか "
        "| "
        "checked:optローカル=yes");
    row("the unit kind clicked twice stays chosen",
        "tab:2; click:Opt単位; click:Opt単位; no; click:cmdコード登録",
        "checked:Opt単位=yes | checked:Opt商品区分=no | msg=単位 を登録します。よろしいですか");
    row("the connection options clicked twice",
        "tab:2; click:Opt単位; click:optローカル; click:optローカル; click:optサーバー; "
        "click:optサーバー",
        "checked:Opt単位=yes | checked:optサーバー=yes | checked:optローカル=no");
    row("status of a deletion",
        "sql!:INSERT INTO 在庫表 (日付, 行番号, 品名, 商品区分) VALUES ('" + Today +
            "', 1, 'a', 'A'), ('" + Today + "', 1, 'b', 'B'); yes; click:cmd削除",
        "status=" + shown + " の在庫表を削除しました（2区分・2行）");
}

void TestTyping::scenario() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, checks);
    Started s;
    prepare(s);
    for (const QString& step : steps) {
        run(s, step);
        if (QTest::currentTestFailed())
            return;
    }
    for (const QString& c : checks) {
        const int eq = c.lastIndexOf('=');
        if (eq > 0 && c[eq - 1] == '~') {
            const QString got = actual(s, c.left(eq - 1).trimmed());
            QVERIFY2(got.contains(c.mid(eq + 1).trimmed()), qPrintable(c + " got: " + got));
        } else {
            QCOMPARE(actual(s, c.left(eq).trimmed()), c.mid(eq + 1).trimmed());
        }
    }
}

void TestTyping::panesStayAlignedWhenScrolled() {
    Started s(QSize(1000, 680));
    TwoPaneGrid* g = s.w->findChild<TwoPaneGrid*>("Grid在庫表");
    QVERIFY(g->pane(1)->horizontalScrollBar()->maximum() > 0);
    QScrollBar* bar = g->pane(1)->verticalScrollBar();
    for (int v : {0, 7, bar->maximum() / 2, bar->maximum()}) {
        bar->setValue(v);
        QCoreApplication::processEvents();
        const int top = g->pane(1)->rowAt(0);
        for (int row : {top, top + 5})
            QCOMPARE(g->pane(0)->visualRect(s.sheet()->index(row, sheet::ColName)).top() +
                         g->pane(0)->viewport()->mapTo(g, QPoint()).y(),
                     g->pane(1)->visualRect(s.sheet()->index(row, sheet::ColQty)).top() +
                         g->pane(1)->viewport()->mapTo(g, QPoint()).y());
        QCOMPARE(g->pane(0)->viewport()->height(), g->pane(1)->viewport()->height());
    }
}

void TestTyping::dropDownListsFitTheirNames() {
    Started s;
    const QString longUnit = "ケース（二十四本入り）";
    s.store().exec(Db::Main,
                   "UPDATE コードマスタ SET sname = ? WHERE kcode = '単位' AND code = '01'",
                   {longUnit});
    s.click("cmdクリア");
    run(s, "put:0,2=x");
    run(s, "@0,6");
    run(s, "key:F2");
    auto* combo = qobject_cast<QComboBox*>(QApplication::focusWidget());
    QVERIFY(combo);
    QVERIFY(combo->view()->minimumWidth() >
            combo->view()->fontMetrics().horizontalAdvance(longUnit));
}

// A scanner types as fast as the event loop takes it: no scan lost or doubled.
void TestTyping::aThousandScansAllCount() {
    Started s;
    prepare(s);
    run(s, "focus:txtスキャン");
    QWidget* box = QApplication::focusWidget();
    for (int i = 0; i < 1000; ++i) {
        QTest::keyClicks(box, i % 4 == 3 ? "B01" : "A01");
        QTest::keyClick(box, Qt::Key_Return);
    }
    QCoreApplication::processEvents();
    QCOMPARE(s.store().scalar(Db::Work, "SELECT 数量 FROM w在庫表 WHERE code = 'A01'").toInt(),
             750);
    QCOMPARE(s.store().scalar(Db::Work, "SELECT 数量 FROM w在庫表 WHERE code = 'B01'").toInt(),
             250);
    QCOMPARE(s.count(Db::Work, "w在庫表", "数量 IS NOT NULL"), 2);
    QCOMPARE(QApplication::focusWidget(), box);
}

STOLVA_WINDOW_TEST_MAIN(TestTyping)
#include "tst_typing.moc"
