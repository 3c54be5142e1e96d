#include "sheet/SheetHeading.h"

#include "store/Columns.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SheetHeading::SheetHeading(QWidget* parent) : QWidget(parent) {
    m_date = new DateBox(this);
    m_date->setObjectName("dt日付");
    m_date->setFixedWidth(twips(this, 2000) + 24);
    m_category = new QComboBox(this);
    m_category->setObjectName("cmb商品区分在庫");
    m_category->setEditable(true);
    m_category->lineEdit()->setMaxLength(columns::MaxTextLength);
    m_category->setInsertPolicy(QComboBox::NoInsert);
    m_category->setMinimumWidth(twips(this, 1800));
    m_total = new NumberBox("#,###,###,###", this);
    m_total->setObjectName("num合計");
    m_total->setReadOnly(true);
    m_total->setFixedWidth(twips(this, 1700));
    m_total->setFocusPolicy(Qt::NoFocus);

    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    rows->addLayout(top);
    top->addWidget(makeLabel(this, "Label1", "実  施  日"));
    top->addWidget(m_date);
    top->addSpacing(8);
    top->addWidget(makeLabel(this, "Label2", "商品区分"));
    top->addWidget(m_category);
    m_closed = makeLabel(this, "lbl確定", "確定済み");
    m_closed->setStyleSheet("QLabel { color: #a00000; font-weight: bold; }");
    m_closed->setToolTip(QStringLiteral("この日の在庫表は確定済みです。登録・削除はできません"));
    // The mark keeps its room while hidden: the buttons beside it stay where the pointer is.
    QSizePolicy keepRoom = m_closed->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_closed->setSizePolicy(keepRoom);
    m_closed->hide();
    top->addWidget(m_closed);
    top->addSpacing(4); // the mark's room already parts the buttons from the category
    QPushButton* saved = makeButton(this, "cmd一覧", "一覧");
    saved->setToolTip(QStringLiteral("保存済みの在庫表の一覧"));
    QPushButton* summary = makeButton(this, "cmd集計", "集計");
    summary->setToolTip(QStringLiteral("実施日の在庫金額を商品区分ごとに集計します（棚卸集計）"));
    QPushButton* books = makeButton(this, "cmd棚卸表", "棚卸表");
    books->setToolTip(
        QStringLiteral("申告・決算用の棚卸表（品名・数量・単価・金額と合計）と会計ソフトへの仕訳"));
    QPushButton* compare = makeButton(this, "cmd比較", "比較");
    compare->setToolTip(QStringLiteral("二つの日の在庫を比べます"));
    for (QPushButton* b : {saved, summary, books, compare})
        top->addWidget(b);
    // Closing a count belongs to the date, beside the saved sheets.
    QPushButton* closeCount = makeButton(this, "cmd確定", "確定");
    closeCount->setToolTip(QStringLiteral("実施日の在庫表を確定し、変更できないようにします"));
    QPushButton* reopenCount = makeButton(this, "cmd確定解除", "確定解除");
    reopenCount->setToolTip(QStringLiteral("確定を解除し、実施日の在庫表を変更できるようにします"));
    // One of the two at a time, as the date is closed or not.
    reopenCount->hide();
    top->addSpacing(4);
    top->addWidget(closeCount);
    top->addWidget(reopenCount);
    // Short captions get buttons as wide as their text: the row fits 1024 pixels.
    for (QPushButton* b : {saved, summary, books, compare, closeCount, reopenCount})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(b->text()) + 28);
    // 確定 and 確定解除 take turns in one place of one width.
    closeCount->setFixedWidth(reopenCount->width());
    connect(saved, &QPushButton::clicked, this, &SheetHeading::savedSheetsRequested);
    connect(summary, &QPushButton::clicked, this, &SheetHeading::summaryRequested);
    connect(compare, &QPushButton::clicked, this, &SheetHeading::comparisonRequested);
    connect(books, &QPushButton::clicked, this, &SheetHeading::inventoryRequested);
    connect(closeCount, &QPushButton::clicked, this, &SheetHeading::closeRequested);
    connect(reopenCount, &QPushButton::clicked, this, &SheetHeading::reopenRequested);
    m_close = closeCount;
    m_reopen = reopenCount;
    top->addStretch(1);
    top->addWidget(makeLabel(this, "Label3", "合 計"));
    top->addWidget(m_total);

    m_counter = new QComboBox(this);
    m_counter->setObjectName("cmb担当");
    m_counter->setEditable(true);
    m_counter->setInsertPolicy(QComboBox::NoInsert);
    m_counter->lineEdit()->setMaxLength(columns::MaxTextLength);
    m_counter->setMinimumWidth(twips(this, 2000));
    m_counter->setToolTip(QStringLiteral("数えている人の名前。この PC で覚えます"));
    m_keepDate = new QCheckBox(QStringLiteral("実施日を固定"), this);
    m_keepDate->setObjectName("chk実施日固定");
    m_keepDate->setToolTip(
        QStringLiteral("登録・クリアの後も実施日を今日に戻さず、そのままにします"));
    m_hideProper = new QCheckBox(QStringLiteral("適正数を隠す"), this);
    m_hideProper->setObjectName("chk適正数を隠す");
    m_hideProper->setToolTip(QStringLiteral("数える人に適正数と増減を見せません"));
    auto* second = new QHBoxLayout;
    second->addWidget(makeLabel(this, "Label担当", "担      当"));
    second->addWidget(m_counter);
    second->addSpacing(16);
    second->addWidget(m_keepDate);
    second->addSpacing(16);
    second->addWidget(m_hideProper);
    second->addSpacing(16);
    QPushButton* progress = makeButton(this, "cmd棚卸状況", "進み具合");
    progress->setToolTip(QStringLiteral("棚番・商品区分ごとの棚卸済みと未棚卸の商品"));
    QPushButton* history = makeButton(this, "cmd変更履歴", "履歴");
    history->setToolTip(QStringLiteral("実施日の記録（だれが、どの PC で、いつ）と取消"));
    QPushButton* phones = makeButton(this, "cmdスマホ棚卸", "スマホで数える");
    phones->setToolTip(QStringLiteral("お店の Wi-Fi でスマホから数えます（受付と登録）"));
    connect(phones, &QPushButton::clicked, this, &SheetHeading::phonesRequested);
    for (QPushButton* b : {progress, history, phones}) {
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(b->text()) + 28);
        second->addWidget(b);
    }
    connect(progress, &QPushButton::clicked, this, &SheetHeading::progressRequested);
    connect(history, &QPushButton::clicked, this, &SheetHeading::historyRequested);
    // Another counter recorded into the saved count shown under unsaved edits.
    auto* elsewhere = new QWidget(this);
    auto* er = new QHBoxLayout(elsewhere);
    er->setContentsMargins(0, 0, 0, 0);
    QLabel* said = makeLabel(elsewhere, "lbl他の記録", "他の担当が記録しました");
    said->setStyleSheet("QLabel { color: #a05000; font-weight: bold; }");
    QPushButton* reread = makeButton(elsewhere, "cmd読み直し", "読み直す");
    reread->setToolTip(
        QStringLiteral("保存済みの在庫表を読み直します（入力中の変更は確認します）"));
    er->addWidget(said);
    er->addWidget(reread);
    connect(reread, &QPushButton::clicked, this, &SheetHeading::rereadRequested);
    elsewhere->hide();
    m_elsewhere = elsewhere;
    second->addSpacing(16);
    second->addWidget(elsewhere);
    second->addStretch(1);
    rows->addLayout(second);
}

void SheetHeading::showRecordedElsewhere(bool shown) {
    m_elsewhere->setVisible(shown);
}

bool SheetHeading::recordedElsewhereShown() const {
    return !m_elsewhere->isHidden();
}

void SheetHeading::showClosed(bool closed) {
    m_closed->setVisible(closed);
    m_close->setVisible(!closed);
    m_reopen->setVisible(closed);
}
