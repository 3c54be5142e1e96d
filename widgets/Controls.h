#pragma once

#include <QLabel>
#include <QPushButton>

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

class WorkTableModel;

// Tells the user when a number cell was given text that is not a number.
void reportRefusedNumbers(WorkTableModel* model);

class QComboBox;
// Refills a selector with names; with keepChoice it keeps what it shows,
// otherwise nothing is chosen.
void fillNames(QComboBox* box, const QStringList& names, bool keepChoice);

// The caption-less hint button of a tab.
QPushButton* makeHintButton(QWidget* parent, const QString& name);
