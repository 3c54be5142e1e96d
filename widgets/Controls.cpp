#include "widgets/Controls.h"

#include "msg/Msg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTimer>
#include <algorithm>

void refuseNumber(QAbstractItemModel* model, int row, int column, const QString& typed,
                  const QString& field,
                  const std::function<QAbstractItemView*(int row, int column)>& showCell) {
    ShowMsg(MsgKind::入力, MsgCase::数字のみ, field);
    // After the key that ended the edit has moved the cursor on.
    QTimer::singleShot(0, model, [model, showCell, row, column, typed] {
        QAbstractItemView* view = showCell(row, column);
        const QModelIndex at = model->index(row, column);
        if (!view || !at.isValid())
            return;
        view->edit(at);
        if (auto* e = qobject_cast<QLineEdit*>(view->indexWidget(at))) {
            e->setText(typed);
            e->selectAll();
        }
    });
}

namespace {
bool remembering = false;

// Keeps a window's size under its name when it is hidden.
class SizeKeeper : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Hide && remembering)
            if (auto* w = qobject_cast<QWidget*>(o); w && !w->isMaximized())
                QSettings().setValue("window/" + w->objectName(), w->size());
        return false;
    }
};
} // namespace

void rememberWindowSizes(bool on) {
    remembering = on;
}

bool rememberedOption(const QString& key, bool fallback) {
    return remembering ? QSettings().value("option/" + key, fallback).toBool() : fallback;
}

void keepOption(const QString& key, bool on) {
    if (remembering)
        QSettings().setValue("option/" + key, on);
}

QVariant rememberedValue(const QString& key) {
    return remembering ? QSettings().value(key) : QVariant();
}

void keepValue(const QString& key, const QVariant& value) {
    if (remembering)
        QSettings().setValue(key, value);
}

QSize fittedSize(QSize wanted, QSize minimum, const QRect& available) {
    const QSize room = available.size();
    return QSize(
        std::clamp(wanted.width(), std::min(minimum.width(), room.width()), room.width()),
        std::clamp(wanted.height(), std::min(minimum.height(), room.height()), room.height()));
}

void fitToScreen(QWidget* w, QSize preferred) {
    QSize wanted = preferred;
    if (remembering) {
        const QSize kept = QSettings().value("window/" + w->objectName()).toSize();
        if (kept.isValid())
            wanted = kept;
    }
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // The frame a window manager adds stays on the screen too.
        const QRect room = screen->availableGeometry().adjusted(0, 0, -16, -40);
        wanted = fittedSize(wanted, w->minimumSizeHint(), room);
    }
    w->resize(wanted);
    w->installEventFilter(new SizeKeeper(w));
}

QPushButton* makeHintButton(QWidget* parent, const QString& name) {
    QPushButton* b = makeButton(parent, name, QString());
    b->setIcon(b->style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    b->setToolTip(QStringLiteral("ヒント"));
    b->setFixedWidth(b->sizeHint().height() + 8);
    return b;
}

void fillNames(QComboBox* box, const QStringList& names, bool keepChoice) {
    const QString chosen = box->currentText();
    box->clear();
    box->addItems(names);
    box->setCurrentIndex(keepChoice ? box->findText(chosen) : -1);
    if (keepChoice && box->isEditable())
        box->setEditText(chosen);
}
