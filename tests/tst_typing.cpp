#include "app/Startup.h"
#include "sheet/SheetTab.h"
#include "tests/window_fixture.h"
#include "widgets/Grids.h"
#include "widgets/WorkTableModel.h"
#include <csignal>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>

using namespace sheet;

class TestTyping : public QObject {
    Q_OBJECT
  private slots:
    void probe();
};

void TestTyping::probe() {
    Started s;
    s.store().exec(
        Db::Main,
        "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, 商品区分) "
        "VALUES ('A01', 'りんご', '個', 100, 5, '果物'), ('B01', '牛乳', '本', 200, 2, '乳製品')");
    s.click("cmdクリア");
    s.put(0, ColName, "りんご");
    TwoPaneGrid* g = s.w->sheetTab()->grid();
    g->setCurrent(0, 0, ColName);
    qDebug() << "focus" << QApplication::focusWidget();
    user::ime("牛乳");
    qDebug() << "focus after ime" << QApplication::focusWidget()
             << QApplication::focusWidget()->parentWidget();
    if (auto* le = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        qDebug() << "text" << le->text();
    qDebug() << "active" << QApplication::activeWindow()
             << QApplication::activeWindow()->isVisible() << QApplication::activePopupWidget()
             << QApplication::focusWidget()->hasFocus();
    user::key(Qt::Key_Return);
    qDebug() << "after enter name=" << s.cell(0, ColName) << "unit" << s.cell(0, ColUnit) << "cur"
             << g->currentIndex();
    // completion
    g->setCurrent(0, 1, ColName);
    user::ime("りん");
    {
        auto* c = qobject_cast<QComboBox*>(QApplication::focusWidget());
        qDebug() << "popup" << QApplication::activePopupWidget()
                 << c->completer()->popup()->isVisible() << c->completer()->completionCount()
                 << c->currentText();
    }
    user::key(Qt::Key_Return);
    qDebug() << "after enter name=" << s.cell(1, ColName) << "cur" << g->currentIndex()
             << QApplication::focusWidget();
    user::keys("5");
    user::key(Qt::Key_Return);
    qDebug() << "qty" << s.cell(1, ColQty) << s.cell(1, ColName);
}

STOLVA_WINDOW_TEST_MAIN(TestTyping)
#include "tst_typing.moc"
