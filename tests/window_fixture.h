#pragma once

#include "app/FrmStolva.h"
#include "tests/fixtures.h"
#include "tests/messages.h"

#include <QApplication>
#include <QPushButton>
#include <functional>

class WorkTableModel;

// A started main window over its own data folder, answering dialogs from a script.
struct Started {
    QTemporaryDir dir;
    std::unique_ptr<FrmStolva> w;
    ScriptedMessages msgs;
    explicit Started(QSize size = QSize(),
                     const std::optional<server::Address>& server = std::nullopt);
    Store& store() { return w->store(); }
    template <typename T> T* find(const QString& name) { return w->findChild<T*>(name); }
    void click(const QString& button);
    WorkTableModel* sheet();
    // Prepares a sheet cell as stored data (not as typing).
    void put(int row, int col, const QVariant& v);
    QString cell(int row, int col);
    int count(Db which, const QString& table, const QString& where = "1");
};

// The user at the keyboard and mouse: every event goes to whatever holds the
// focus, as it would under a window manager, which also gives activation back
// to the main window when a popup closes.
namespace user {
// Key presses; ASCII text as typed characters.
void key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier);
void keys(const QString& ascii);
// An input method's composition: growing pre-edit text, then one commit.
void ime(const QString& text);
// A mouse click on a widget (at its centre) or at a point of it.
void click(QWidget* w, QPoint at = QPoint(-1, -1));
// Lets queued events (popups opening and closing) run.
void settle();
// Acts on the window named `name` once it is shown and running (a modal
// dialog's own loop), with the focus in it as a window manager gives it.
void whenShown(const QString& name, std::function<void(QWidget*)> act);
} // namespace user

// Sets up the application as the program does and runs a test object.
#define STOLVA_WINDOW_TEST_MAIN(TestClass)                                                         \
    int main(int argc, char** argv) {                                                              \
        QApplication app(argc, argv);                                                              \
        setupApplication(app);                                                                     \
        TestClass t;                                                                               \
        return QTest::qExec(&t, argc, argv);                                                       \
    }
