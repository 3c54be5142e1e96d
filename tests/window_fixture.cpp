#include "tests/window_fixture.h"

#include "sheet/SheetTab.h"
#include "work/WorkTableModel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QInputMethodEvent>
#include <QTimer>

Started::Started(QSize size, const std::optional<server::Address>& server) {
    w = std::make_unique<FrmStolva>();
    w->store().setBusyTimeout(QuickBusyTimeoutMs);
    const Status s = w->Form_Load(dir.path(), server);
    if (!s)
        qFatal("start failed: %s", qPrintable(s.error));
    // The offscreen screen is small (800×600): the tests work at the size the
    // window opens at on a desktop, unless they ask for another.
    w->resize(size.isValid() ? size : QSize(1180, 760));
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
QWidget* focused() {
    QWidget* f = QApplication::focusWidget();
    if (!f)
        qFatal("no widget has the focus");
    return f;
}
// Where a key goes: as Qt delivers it, an open popup's focus widget (a
// drop-down's list) or the popup itself, else the focus widget.
QWidget* target() {
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->focusWidget() ? popup->focusWidget() : popup;
    return focused();
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
    QTest::keyClick(target(), Qt::Key(k), mods);
    settle();
}

void keys(const QString& ascii) {
    for (QChar c : ascii) {
        QTest::keyClicks(target(), QString(c));
        settle();
    }
}

void ime(const QString& text) {
    for (int i = 1; i <= text.size(); ++i) {
        QList<QInputMethodEvent::Attribute> attrs{{QInputMethodEvent::Cursor, i, 1, QVariant()}};
        QInputMethodEvent pre(text.left(i), attrs);
        QApplication::sendEvent(focused(), &pre);
        settle();
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(focused(), &commit);
    settle();
}

namespace {
class ShowWatcher : public QObject {
  public:
    ShowWatcher(QString name, std::function<void(QWidget*)> act)
        : m_name(std::move(name)), m_act(std::move(act)) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* w = qobject_cast<QWidget*>(o);
        if (e->type() == QEvent::Show && w && w->isWindow() && w->objectName() == m_name) {
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, w, [w, act = m_act] {
                QApplication::setActiveWindow(w);
                settle();
                act(w);
            });
            deleteLater();
        }
        return false;
    }

  private:
    QString m_name;
    std::function<void(QWidget*)> m_act;
};
} // namespace

void whenShown(const QString& name, std::function<void(QWidget*)> act) {
    qApp->installEventFilter(new ShowWatcher(name, std::move(act)));
}

void click(QWidget* w, QPoint at) {
    settle(); // a box just shown is laid out before the user can aim at it
    if (at.x() < 0)
        at = w->rect().center();
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    settle();
}
} // namespace user
