#pragma once

#include "store/Store.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The application-wide texts that carry a hint button's context to the window.
struct HintContext {
    QString formName;
    QString ctlName;
    QString formTitle;
};

// The modeless window "ヒント": the note kept for one hint button.
class HintWindow : public QWidget {
    Q_OBJECT
  public:
    // Labels are taken from ctx once, when the window is created.
    HintWindow(Store& store, const HintContext& ctx, QWidget* parent = nullptr);

    void ReadHint();
    void EntryHint();
    void Deleteヒント();

    static QColor grayColor() { return QColor(209, 209, 205); }
    static QColor pinkColor() { return QColor(255, 128, 128); }

  private:
    void toggleEdit();
    void setButtonColor(const QColor& c);

    Store& m_store;
    QLabel* m_formName;
    QLabel* m_ctlName;
    QLabel* m_formTitle;
    QPlainTextEdit* m_contents;
    QPushButton* m_edit;
    bool m_editing = false; // the note may be edited (cmd編集 pressed once)
};
