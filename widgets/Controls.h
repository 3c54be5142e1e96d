#pragma once

#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <functional>

// Controls carry their system name as object name, so tests and readers find
// them by the name they know.
inline QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

inline QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

class QAbstractItemModel;
class QAbstractItemView;

// Tells the user that a number cell (of `field`) was given text that is not a
// number, then puts the cursor back on that cell with the typed text selected,
// whatever key ended the edit: the retyped value lands where it was meant to.
// `showCell` makes (row, column) current and gives the view that shows it.
void refuseNumber(QAbstractItemModel* model, int row, int column, const QString& typed,
                  const QString& field,
                  const std::function<QAbstractItemView*(int row, int column)>& showCell);

class QComboBox;
// Refills a selector with names; with keepChoice it keeps what it shows,
// otherwise nothing is chosen.
void fillNames(QComboBox* box, const QStringList& names, bool keepChoice);

// The size a window opens at: the wanted one, never larger than the screen's
// available area, never smaller than what the window needs (unless the
// screen itself is smaller).
QSize fittedSize(QSize wanted, QSize minimum, const QRect& available);
// Sizes a window (known by its object name) to fit the screen when it opens:
// the size it last had when sizes are remembered, else `preferred`; and keeps
// its size when it closes.
void fitToScreen(QWidget* w, QSize preferred);
// The program remembers window sizes and options between runs (tests do not).
void rememberWindowSizes(bool on);
// An option of the user's, as last set (or `fallback`), and keeping it.
bool rememberedOption(const QString& key, bool fallback);
void keepOption(const QString& key, bool on);
// A remembered value (invalid when none), and keeping one.
QVariant rememberedValue(const QString& key);
void keepValue(const QString& key, const QVariant& value);

// The caption-less hint button of a tab.
QPushButton* makeHintButton(QWidget* parent, const QString& name);
