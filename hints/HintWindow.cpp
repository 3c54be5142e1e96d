#include "hints/HintWindow.h"

#include "hints/HintOps.h"
#include "msg/Msg.h"
#include "widgets/Controls.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QVBoxLayout>

HintWindow::HintWindow(Store& store, const HintContext& ctx, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(store) {
    setObjectName("Hint");
    setWindowTitle(QStringLiteral("ヒント        "));
    setAttribute(Qt::WA_DeleteOnClose);
    m_formName = makeLabel(this, "lblFormName", ctx.formName);
    m_ctlName = makeLabel(this, "lblCtlName", ctx.ctlName);
    m_formTitle = makeLabel(this, "lblFormTitle", ctx.formTitle);
    m_contents = new QPlainTextEdit(this);
    m_contents->setObjectName("txtContents");
    m_contents->setPlainText("Contents");
    m_contents->setReadOnly(true);
    m_edit = makeButton(this, "cmd編集", "編集");
    QPushButton* save = makeButton(this, "cmd登録", "登録");
    QPushButton* del = makeButton(this, "cmd削除", "削除");
    QPushButton* clear = makeButton(this, "cmdクリア", "クリア");
    QPushButton* close = makeButton(this, "cmd閉じる", "閉じる");
    m_edit->setAutoFillBackground(true);
    setButtonColor(grayColor());

    auto* labels = new QFormLayout;
    labels->addRow(QStringLiteral("画面"), m_formName);
    labels->addRow(QStringLiteral("項目"), m_ctlName);
    labels->addRow(QStringLiteral("画面名"), m_formTitle);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_edit, save, del, clear})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* v = new QVBoxLayout(this);
    v->addLayout(labels);
    v->addWidget(m_contents, 1);
    v->addLayout(buttons);
    resize(460, 340);

    connect(m_edit, &QPushButton::clicked, this, &HintWindow::toggleEdit);
    connect(save, &QPushButton::clicked, this, [this] {
        if (ShowMsg(MsgKind::登録, MsgCase::確認, "ヒント") != True)
            return;
        EntryHint();
    });
    connect(del, &QPushButton::clicked, this, [this] {
        if (ShowMsg(MsgKind::削除, MsgCase::確認, "ヒント") != True)
            return;
        Deleteヒント();
    });
    connect(clear, &QPushButton::clicked, m_contents, &QPlainTextEdit::clear);
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    ReadHint();
}

void HintWindow::ReadHint() {
    const auto text = hints::readHint(m_store, m_formName->text(), m_ctlName->text());
    if (!text) {
        ShowError(QStringLiteral("ヒントを読み込めませんでした。"), text.error());
        return;
    }
    if (text.value)
        m_contents->setPlainText(*text.value);
}

void HintWindow::EntryHint() {
    const Status s = hints::entryHint(m_store, m_formName->text(), m_ctlName->text(),
                                      m_formTitle->text(), m_contents->toPlainText());
    if (!s) {
        ShowError(QStringLiteral("ヒントを登録できませんでした。"), s.error);
        return;
    }
    ShowMsg(MsgKind::登録, MsgCase::完了, "ヒント");
}

void HintWindow::Deleteヒント() {
    if (Status s = hints::deleteHint(m_store, m_formName->text(), m_ctlName->text()); !s) {
        ShowError(QStringLiteral("ヒントを削除できませんでした。"), s.error);
        return;
    }
    m_contents->clear();
    ShowMsg(MsgKind::削除, MsgCase::完了, "ヒント");
}

void HintWindow::setButtonColor(const QColor& c) {
    QPalette p = m_edit->palette();
    p.setColor(QPalette::Button, c);
    m_edit->setPalette(p);
    m_edit->setStyleSheet(QString("background-color: %1;").arg(c.name()));
}

void HintWindow::toggleEdit() {
    m_editing = !m_editing;
    m_contents->setReadOnly(!m_editing);
    // The button shows the state: pink while the note may be edited.
    setButtonColor(m_editing ? pinkColor() : grayColor());
    m_contents->setFocus();
}
