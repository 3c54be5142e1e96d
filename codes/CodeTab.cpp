#include "codes/CodeTab.h"

#include "codes/CodeOps.h"
#include "msg/Msg.h"
#include "store/Columns.h"
#include "widgets/Controls.h"
#include "widgets/Grids.h"
#include "work/WorkTableModel.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLinearGradient>
#include <QPainter>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

namespace {
// The banner of the information tab, drawn rather than shipped as a file.
QPixmap banner(const QFont& base) {
    QPixmap pm(420, 96);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, pm.width(), pm.height());
    g.setColorAt(0, QColor(32, 84, 140));
    g.setColorAt(1, QColor(86, 160, 196));
    p.fillRect(pm.rect(), g);
    p.setPen(QColor(255, 255, 255, 60));
    for (int i = 0; i < 6; ++i)
        p.drawRect(300 + i * 14, 18 + i * 6, 60, 40);
    QFont f = base;
    f.setPointSize(26);
    f.setBold(true);
    p.setPen(Qt::white);
    p.setFont(f);
    p.drawText(QRect(20, 8, 300, 50), Qt::AlignLeft | Qt::AlignVCenter, "Stolva");
    f.setPointSize(11);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRect(22, 56, 380, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("在庫表・商品情報の管理"));
    return pm;
}
} // namespace

CodeTab::CodeTab(Store& store, QWidget* parent) : QWidget(parent), m_store(store) {
    setObjectName("設定・情報タブ");
    m_model = new WorkTableModel(store, "wコードマスタ", "行番号", codes::CodeColumns, this);
    m_model->setObjectName("datコード");
    m_grid = new GridView(this);
    m_grid->setObjectName("Gridコード");
    m_grid->setModel(m_model);
    setupGrid(m_grid);
    for (int c = 0; c < codes::CodeColumnCount; ++c)
        m_grid->setColumnHidden(c, codes::CodeColumns[c].twips == 0);
    const int width = twips(this, codes::CodeColumns[codes::ColName].twips);
    m_grid->setColumnWidth(codes::ColName, width);
    m_grid->setFixedWidth(width + 60);

    m_optCategory = new QRadioButton(this);
    m_optCategory->setObjectName("Opt商品区分");
    m_optUnit = new QRadioButton(this);
    m_optUnit->setObjectName("Opt単位");
    QLabel* l7 = makeLabel(this, "Label7", "商品区分");
    QLabel* l11 = makeLabel(this, "Label11", "単位");
    l7->setBuddy(m_optCategory);
    l11->setBuddy(m_optUnit);
    // The two kinds are one choice of their own, apart from any other options
    // on the tab: one of them is always chosen.
    auto* kinds = new QButtonGroup(this);
    kinds->setExclusive(true);
    kinds->addButton(m_optCategory);
    kinds->addButton(m_optUnit);

    QPushButton* read = makeButton(this, "cmdコード読込", "読込");
    QPushButton* save = makeButton(this, "cmdコード登録", "登録");
    QPushButton* clear = makeButton(this, "cmdコードクリア", "クリア");
    QPushButton* hint = makeHintButton(this, "cmdHint3");
    connect(hint, &QPushButton::clicked, this, [this] { emit hintRequested("cmdHint3"); });
    QPushButton* erase = makeButton(this, "cmd一括削除", "実行");
    connect(erase, &QPushButton::clicked, this, &CodeTab::eraseRequested);

    auto* options = new QGridLayout;
    options->addWidget(m_optCategory, 0, 0);
    options->addWidget(l7, 0, 1);
    options->addWidget(m_optUnit, 1, 0);
    options->addWidget(l11, 1, 1);
    options->setColumnStretch(2, 1);

    auto* codeButtons = new QHBoxLayout;
    codeButtons->addWidget(read);
    codeButtons->addWidget(save);
    codeButtons->addWidget(clear);
    codeButtons->addStretch(1);
    codeButtons->addWidget(hint);

    auto* left = m_left = new QVBoxLayout;
    left->addLayout(options);
    left->addWidget(m_grid, 1);
    left->addLayout(codeButtons);

    auto* image = new QLabel(this);
    image->setObjectName("Image2");
    image->setPixmap(banner(font()));
    m_info = makeLabel(this, "lblInfo", QString());
    m_info->setWordWrap(true);
    m_info->setFrameShape(QFrame::StyledPanel);
    m_info->setMargin(8);
    m_support = makeLabel(this, "lblSupport", QString());
    m_support->setWordWrap(true);
    m_support->setMargin(8);

    QPushButton* guide = makeButton(this, "cmdヘルプ", "ヘルプ（使い方）");
    guide->setToolTip(QStringLiteral("使い方のページを開きます（F1）"));
    connect(guide, &QPushButton::clicked, this, &CodeTab::guideRequested);
    auto* eraseRow = new QHBoxLayout;
    eraseRow->addWidget(makeLabel(this, "Label8", "すべてのデータを削除し初期状態に戻す"));
    eraseRow->addWidget(erase);
    eraseRow->addStretch(1);

    auto* right = m_right = new QVBoxLayout;
    right->addWidget(image);
    right->addWidget(m_info);
    // The guide beside the support line: the tab fits a small screen.
    auto* supportRow = new QHBoxLayout;
    supportRow->addWidget(m_support, 1);
    supportRow->addWidget(guide, 0, Qt::AlignVCenter);
    right->addLayout(supportRow);
    right->addStretch(1);
    right->addLayout(eraseRow);

    auto* h = new QHBoxLayout(this);
    h->addLayout(left);
    h->addSpacing(24);
    h->addLayout(right, 1);

    connect(read, &QPushButton::clicked, this, &CodeTab::Readコード表);
    // Choosing a kind shows its slots as stored, so that 登録 starts from them.
    connect(m_optUnit, &QRadioButton::toggled, this, [this] { Readコード表(); });
    connect(save, &QPushButton::clicked, this, &CodeTab::Entryコード);
    connect(clear, &QPushButton::clicked, this, &CodeTab::Clearコード表);
    connect(m_model, &WorkTableModel::writeFailed, this, [](const QString& e) {
        ShowError(QStringLiteral("入力した値を保存できませんでした。"), e);
    });
}

void CodeTab::addSectionBelowSlots(QWidget* section) {
    m_left->addWidget(section);
}

void CodeTab::addSection(QWidget* section) {
    // Before the stretch and the erase row, which stay at the bottom.
    m_right->insertWidget(m_right->count() - 2, section, 10);
}

QString CodeTab::kind() const {
    return m_optCategory->isChecked() ? codes::kindCategory() : codes::kindUnit();
}

void CodeTab::setProgramInfo(const QString& info, const QString& support) {
    m_info->setText(info);
    m_support->setText(support);
}

void CodeTab::refreshGrid() {
    if (!m_model->refresh())
        ShowError(QStringLiteral("コード表を表示できませんでした。"), m_model->lastError());
}

void CodeTab::Clearコード表() {
    const QSignalBlocker block(m_optUnit);
    m_optCategory->setChecked(true);
    m_optUnit->setChecked(false);
    m_read.reset();
    if (Status s = codes::clearCodeTable(m_store); !s)
        ShowError(QStringLiteral("コード表をクリアできませんでした。"), s.error);
    refreshGrid();
}

void CodeTab::Readコード表() {
    const Result<codes::SlotNames> read = codes::readCodeTable(m_store, kind());
    if (!read) {
        ShowError(QStringLiteral("%1を読み込めませんでした。").arg(kind()), read.error());
        return;
    }
    m_read = {kind(), read.value};
    refreshGrid();
}

void CodeTab::Entryコード() {
    const QString k = kind();
    const Result<int> removed = codes::namesRemovedBy(m_store, k);
    if (!removed) {
        ShowError(QStringLiteral("%1を登録できませんでした。").arg(k), removed.error());
        return;
    }
    // Emptying named slots is asked about first, with No as the answer to Enter.
    if (removed.value > 0 &&
        ShowMsg(
            MsgKind::削除, MsgCase::その他確認,
            QStringLiteral("登録すると%1の名称 %2 件が削除されます。").arg(k).arg(removed.value)) !=
            True)
        return;
    if (ShowMsg(MsgKind::登録, MsgCase::確認, k) != True)
        return;
    // Compared with what the editor read, so that a name registered
    // meanwhile (on another PC, or by a save) is not undone unseen.
    const Result<int> named = codes::entryCodes(
        m_store, k, m_read && m_read->first == k ? std::optional(m_read->second) : std::nullopt);
    if (!named) {
        ShowError(
            QStringLiteral("%1を登録できませんでした。入力した内容はそのまま残っています。").arg(k),
            named.error());
        return;
    }
    // What is stored now is what the editor holds.
    if (const Result<codes::SlotNames> now = codes::readCodeTable(m_store, k); now)
        m_read = {k, now.value};
    refreshGrid();
    emit namesChanged();
    emit statusMessage(QStringLiteral("%1を登録しました（%2件）").arg(k).arg(named.value));
}
