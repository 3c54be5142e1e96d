#include "sheet/ScanPanel.h"

#include "widgets/Controls.h"
#include "widgets/Grids.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QShortcut>

using sheet::ScanSession;

ScanPanel::ScanPanel(Store& store, QWidget* parent) : QWidget(parent), m_store(store) {
    m_box = new QLineEdit(this);
    m_box->setObjectName("txtスキャン");
    m_box->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_box->setMinimumWidth(twips(this, 3600));
    m_box->setToolTip(QStringLiteral("バーコードを読み取ると数量が 1 増えます。"
                                     "「12*コード」で 12 個、「-1*コード」で 1 個取り消し（F8）"));
    m_box->setPlaceholderText(QStringLiteral("コードを読み取る"));
    auto* label = makeLabel(this, "Labelスキャン", "スキャン");
    label->setBuddy(m_box);
    // F8 reaches the box from anywhere in the tab (F2 and F4 belong to the grid).
    auto* key = new QShortcut(QKeySequence(Qt::Key_F8), parent);
    connect(key, &QShortcut::activated, this, [this] {
        m_box->setFocus(Qt::ShortcutFocusReason);
        m_box->selectAll();
    });
    connect(m_box, &QLineEdit::returnPressed, this, &ScanPanel::entered);
    m_waiting = new QListWidget(this);
    m_waiting->setObjectName("lst未登録");
    m_waiting->setToolTip(
        QStringLiteral("未登録のコード：Enter またはダブルクリックで商品を登録します"));
    m_waiting->setFlow(QListView::LeftToRight);
    m_waiting->setFixedHeight(m_box->sizeHint().height() + 6);
    m_waiting->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_waiting->hide();
    connect(m_waiting, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (item)
            emit registerCodeRequested(item->data(Qt::UserRole).toString());
    });
    // Misreads refused by the check digit, counted for the session.
    m_misreads = makeLabel(this, "lblチェックデジット", QString());
    m_misreads->setToolTip(QStringLiteral("チェックデジットが違うため数えなかった読み取りの数"));
    m_misreads->hide();
    m_direct = new QCheckBox(QStringLiteral("スキャンをすぐ記録"), this);
    m_direct->setObjectName("chk直接記録");
    m_direct->setToolTip(QStringLiteral("読み取るたびに保存済みの在庫表に数えます（登録は不要）。"
                                        "ほかの PC やスマホと同じ在庫表を数えられます"));
    m_direct->setChecked(rememberedOption("directScan", false));
    connect(m_direct, &QCheckBox::toggled, this, [](bool on) { keepOption("directScan", on); });
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(label);
    row->addWidget(m_box);
    row->addWidget(m_direct);
    row->addWidget(m_misreads);
    row->addWidget(m_waiting, 1);
    row->addStretch(0);
}

void ScanPanel::entered() {
    const QString raw = m_box->text();
    m_box->clear();
    const ScanSession::Step step = m_session.enter(raw, [this](const QString& code) {
        const Result<bool> known = sheet::isProductCode(m_store, code);
        return !known || known.value; // a failed look-up never turns a code into a count
    });
    switch (step.outcome) {
    case ScanSession::Outcome::Nothing:
        return;
    case ScanSession::Outcome::NextCount:
        emit statusMessage(QStringLiteral("次のスキャンの数量: %1").arg(step.count));
        return;
    case ScanSession::Outcome::Misread:
        QApplication::beep();
        m_misreads->setText(QStringLiteral("読み違い %1 件").arg(m_session.misreads()));
        m_misreads->show();
        emit statusMessage(QStringLiteral("チェックデジットが違います: %1").arg(step.code));
        return;
    case ScanSession::Outcome::Count:
        emit countRequested(step.code, step.count);
        return;
    }
}

void ScanPanel::wait(const QString& code, qint64 count) {
    m_session.wait(code, count);
    showWaiting();
}

QVector<QPair<QString, qint64>> ScanPanel::takeKnown() {
    const auto known = m_session.takeKnown([this](const QString& code) {
        const Result<bool> r = sheet::isProductCode(m_store, code);
        return r && r.value;
    });
    showWaiting();
    return known;
}

void ScanPanel::forget() {
    m_session.forget();
    showWaiting();
}

void ScanPanel::showWaiting() {
    m_waiting->clear();
    for (const QString& code : m_session.waiting()) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1 ×%2").arg(code).arg(m_session.waitingCount(code)), m_waiting);
        item->setData(Qt::UserRole, code);
    }
    m_waiting->setVisible(!m_session.waiting().isEmpty());
}

bool ScanPanel::direct() const {
    return m_direct->isChecked();
}
