#include "tests/window_fixture.h"

#include "sheet/SheetTab.h"
#include "work/WorkTableModel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QInputMethodEvent>

Started::Started(QSize size) {
    w = std::make_unique<FrmStolva>();
    w->store().setBusyTimeout(QuickBusyTimeoutMs);
    const Status s = w->Form_Load(dir.path());
    if (!s)
        qFatal("start failed: %s", qPrintable(s.error));
    if (size.isValid())
        w->resize(size);
    w->show();
    QApplication::setActiveWindow(w.get());
    user::settle();
}

void Started::click(const QString& button) {
    auto* b = find<QPushButton>(button);
    if (!b)
        qFatal("no button %s", qPrintable(button));
    b->click();
}

WorkTableModel* Started::sheet() {
    return w->sheetTab()->model();
}

void Started::put(int row, int col, const QVariant& v) {
    sheet()->setData(sheet()->index(row, col), v);
}

QString Started::cell(int row, int col) {
    return sheet()->index(row, col).data().toString();
}

int Started::count(Db which, const QString& table, const QString& where) {
    return store().scalar(which, "SELECT count(*) FROM " + table + " WHERE " + where).toInt();
}

namespace user {
namespace {
QWidget* target() {
    QWidget* f = QApplication::focusWidget();
    if (!f)
        qFatal("no widget has the focus");
    return f;
}
// Without a window manager nothing re-activates the main window when a popup
// closes; do what the window manager would.
void reactivate() {
    QWidget* active = QApplication::activeWindow();
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget() ||
        (active && active->isVisible()))
        return;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->inherits("QMainWindow"))
            QApplication::setActiveWindow(top);
}
} // namespace

void settle() {
    QCoreApplication::processEvents();
    reactivate();
}

void key(int k, Qt::KeyboardModifiers mods) {
    QWidget* t = QApplication::activePopupWidget() ? QApplication::activePopupWidget() : target();
    QTest::keyClick(t, Qt::Key(k), mods);
    settle();
}

void keys(const QString& ascii) {
    for (QChar c : ascii) {
        QWidget* t =
            QApplication::activePopupWidget() ? QApplication::activePopupWidget() : target();
        QTest::keyClicks(t, QString(c));
        settle();
    }
}

void ime(const QString& text) {
    for (int i = 1; i <= text.size(); ++i) {
        QList<QInputMethodEvent::Attribute> attrs{{QInputMethodEvent::Cursor, i, 1, QVariant()}};
        QInputMethodEvent pre(text.left(i), attrs);
        QApplication::sendEvent(target(), &pre);
        settle();
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(target(), &commit);
    settle();
}

void click(QWidget* w, QPoint at) {
    settle(); // a box just shown is laid out before the user can aim at it
    if (at.x() < 0)
        at = w->rect().center();
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    settle();
}
} // namespace user
