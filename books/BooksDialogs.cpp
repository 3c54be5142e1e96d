#include "books/BooksDialogs.h"

#include "base/WholeFile.h"
#include "exchange/CsvDialogs.h"
#include "history/HistoryOps.h"
#include "msg/Msg.h"
#include "sheet/SheetLedger.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace books {

namespace {
QComboBox* choices(QWidget* parent, const char* name, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    box->addItems(items);
    return box;
}

// What 単価 must hold for the books to value the stock by each method:
// Stolva values every line at its 単価.
QString methodNote(const QString& method) {
    static const QHash<QString, QString> notes{
        {QStringLiteral("最終仕入原価法"),
         QStringLiteral("単価＝棚卸日前の最後の仕入単価（届出がないときの方法）")},
        {QStringLiteral("先入先出法"),
         QStringLiteral("単価＝新しい仕入から順に残るとみなした仕入単価（単価ごとに行を分ける）")},
        {QStringLiteral("総平均法"),
         QStringLiteral("単価＝（期首在庫＋期中仕入）の金額 ÷ その数量")},
        {QStringLiteral("移動平均法"),
         QStringLiteral("単価＝仕入のたびに計算し直した平均単価（棚卸日のもの）")},
        {QStringLiteral("個別法"), QStringLiteral("単価＝品物ごとの実際の仕入単価")},
        {QStringLiteral("売価還元法"), QStringLiteral("単価＝売価 × 原価率（種類ごと）")}};
    return notes.value(method);
}
} // namespace

BooksPanel::BooksPanel(Store& store, QWidget* parent)
    : QGroupBox(QStringLiteral("帳簿（決算の棚卸）"), parent), m_store(store) {
    setObjectName("grp帳簿");
    m_company = new QLineEdit(this);
    m_company->setObjectName("txt会社名");
    m_company->setMaxLength(MaxTextLength);
    m_address = new QLineEdit(this);
    m_address->setObjectName("txt住所");
    m_address->setMaxLength(MaxTextLength);
    m_method = choices(this, "cmb評価方法", methods());
    m_accounting = choices(this, "cmb経理方式", accountings());
    m_priceTax = choices(this, "cmb単価の税", {QStringLiteral("税込"), QStringLiteral("税抜")});
    m_priceTax->setToolTip(QStringLiteral("商品の単価が税込か税抜か"));
    m_rounding = choices(this, "cmb端数処理", roundings());
    m_rounding->setToolTip(QStringLiteral("数量 × 単価の 1 円未満"));
    m_methodNote = makeLabel(this, "lbl評価方法の説明", "");
    m_methodNote->setWordWrap(true);

    // Short rows under the slots: the settings tab fits a small screen.
    auto* grid = new QGridLayout(this);
    grid->setVerticalSpacing(4);
    const auto row = [&](int at, const char* name, const char* caption,
                         std::initializer_list<QWidget*> widgets) {
        grid->addWidget(makeLabel(this, name, caption), at, 0);
        auto* line = new QHBoxLayout;
        for (QWidget* w : widgets)
            line->addWidget(w, w == m_methodNote || qobject_cast<QLineEdit*>(w) ? 1 : 0);
        if (at >= 2)
            line->addStretch(1);
        grid->addLayout(line, at, 1);
    };
    row(0, "Label会社名", "会社名・屋号", {m_company});
    row(1, "Label住所", "住所", {m_address});
    row(2, "Label評価方法", "評価方法", {m_method});
    grid->addWidget(m_methodNote, 3, 0, 1, 2);
    row(4, "Label経理方式", "経理方式",
        {m_accounting, makeLabel(this, "Label単価の税", "単価は"), m_priceTax});
    row(5, "Label端数処理", "金額の端数", {m_rounding});
    grid->setColumnStretch(1, 1);

    for (QComboBox* box : {m_method, m_accounting, m_priceTax, m_rounding})
        connect(box, &QComboBox::activated, this, [this, box] { saveSettings(box); });
    for (QLineEdit* edit : {m_company, m_address})
        connect(edit, &QLineEdit::editingFinished, this, &BooksPanel::saveCompany);
    connect(m_method, &QComboBox::currentTextChanged, this, &BooksPanel::explainMethod);
    refresh();
}

void BooksPanel::refresh() {
    if (!m_store.isOpen())
        return;
    const Result<Settings> s = readSettings(m_store);
    const Result<Company> c = readCompany(m_store);
    if (!s || !c) {
        emit statusMessage(QStringLiteral("帳簿の設定を読めませんでした: ") +
                           (s ? c.error() : s.error()));
        return;
    }
    m_shown = s.value;
    m_method->setCurrentText(s.value.method);
    m_accounting->setCurrentText(s.value.accounting);
    m_priceTax->setCurrentText(s.value.priceTax);
    m_rounding->setCurrentText(s.value.rounding);
    m_company->setText(c.value.name);
    m_address->setText(c.value.address);
    explainMethod();
    sheet::setAmountRounding(s.value.rounding);
}

void BooksPanel::explainMethod() {
    m_methodNote->setText(methodNote(m_method->currentText()));
}

void BooksPanel::saveSettings(QComboBox* changed) {
    Settings s;
    s.method = m_method->currentText();
    s.accounting = m_accounting->currentText();
    s.priceTax = m_priceTax->currentText();
    s.rounding = m_rounding->currentText();
    if (s == m_shown)
        return;
    // Saved amounts stay as they were computed; only new ones follow.
    if (changed == m_rounding &&
        ShowMsg(MsgKind::その他, MsgCase::端数処理確認, s.rounding) != True) {
        m_rounding->setCurrentText(m_shown.rounding);
        return;
    }
    if (Status st = writeSettings(m_store, s); !st) {
        ShowError(QStringLiteral("帳簿の設定を保存できませんでした。"), st.error);
        refresh();
        return;
    }
    m_shown = s;
    sheet::setAmountRounding(s.rounding);
    emit statusMessage(QStringLiteral("帳簿の設定を保存しました"));
}

void BooksPanel::saveCompany() {
    const Result<Company> stored = readCompany(m_store);
    const Company c{m_company->text().trimmed(), m_address->text().trimmed()};
    if (stored && stored.value.name == c.name && stored.value.address == c.address)
        return;
    if (Status st = writeCompany(m_store, c); !st) {
        ShowError(QStringLiteral("会社名・住所を保存できませんでした。"), st.error);
        return;
    }
    emit statusMessage(QStringLiteral("会社名・住所を保存しました"));
}

InventoryDialog::InventoryDialog(Store& store, const QDate& date, Printer printer, QWidget* parent)
    : QDialog(parent), m_store(store), m_printer(std::move(printer)) {
    setObjectName("dlg棚卸表");
    setWindowTitle(QStringLiteral("棚卸表"));
    m_date = new DateBox(this);
    m_date->setObjectName("dt棚卸表日付");
    m_date->setMarkedDates(history::savedDates(store).value);
    m_date->setValue(date);
    m_state = makeLabel(this, "lbl棚卸表状態", "");
    m_grid = new QTableWidget(this);
    m_grid->setObjectName("Grid棚卸表");
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->verticalHeader()->hide();
    m_program = new QComboBox(this);
    m_program->setObjectName("cmb会計ソフト");
    m_program->addItem(programName(Program::Yayoi), int(Program::Yayoi));
    m_program->addItem(programName(Program::Freee), int(Program::Freee));
    m_program->setCurrentIndex(rememberedOption("journalFreee", false) ? 1 : 0);
    m_reverse = new QCheckBox(QStringLiteral("翌期首の振り戻しも"), this);
    m_reverse->setObjectName("chk期首振戻");
    m_reverse->setToolTip(
        QStringLiteral("翌日付で 期首商品棚卸高 / 商品 の仕訳も書きます（洗替え）"));
    m_reverse->setChecked(rememberedOption("journalReverse", false));
    m_said = new QLabel(this);
    m_said->setObjectName("lbl棚卸表出力");

    QPushButton* print = makeButton(this, "cmd棚卸表印刷", "印刷・PDF");
    QPushButton* write = makeButton(this, "cmd棚卸表出力", "CSV・Excel 出力");
    m_journal = makeButton(this, "cmd仕訳出力", "仕訳出力");
    m_journal->setToolTip(
        QStringLiteral("確定した棚卸の期末商品棚卸高の仕訳を会計ソフト用に書き出します"));
    m_recompute = makeButton(this, "cmd再計算", "この日付を再計算");
    m_recompute->setToolTip(
        QStringLiteral("この日の保存済みの金額を、いまの端数処理で計算し直します（確定前のみ）"));
    QPushButton* close = makeButton(this, "cmd棚卸表閉じる", "閉じる");

    auto* top = new QHBoxLayout;
    top->addWidget(makeLabel(this, "Label棚卸表日付", "棚卸日"));
    top->addWidget(m_date);
    top->addSpacing(12);
    top->addWidget(m_state, 1);
    top->addWidget(m_recompute);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(print);
    bottom->addWidget(write);
    bottom->addSpacing(16);
    bottom->addWidget(m_program);
    bottom->addWidget(m_reverse);
    bottom->addWidget(m_journal);
    bottom->addWidget(m_said, 1);
    bottom->addWidget(close);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addWidget(m_grid, 1);
    v->addLayout(bottom);

    connect(m_date, &QDateEdit::dateChanged, this, &InventoryDialog::refresh);
    connect(print, &QPushButton::clicked, this, [this] {
        m_printer({QStringLiteral("棚卸表"),
                   inventoryPages(m_inventory),
                   {},
                   {QStringLiteral("棚卸表"), m_date->value().toString(Qt::ISODate)}});
    });
    connect(write, &QPushButton::clicked, this, [this] {
        const QString path = exchange::exportRecords(
            this, {QStringLiteral("棚卸表"), m_date->value().toString(Qt::ISODate)},
            inventoryRecords(m_inventory));
        if (!path.isEmpty())
            m_said->setText(
                QStringLiteral("%1 に書き出しました").arg(QDir::toNativeSeparators(path)));
    });
    connect(m_journal, &QPushButton::clicked, this, &InventoryDialog::writeJournal);
    connect(m_recompute, &QPushButton::clicked, this, &InventoryDialog::recomputeDate);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    fitToScreen(this, QSize(900, 600));
    refresh();
}

void InventoryDialog::refresh() {
    const Result<Inventory> inv =
        m_date->isNull() ? Result<Inventory>{} : inventory(m_store, m_date->value());
    if (!inv) {
        ShowError(QStringLiteral("棚卸表を作れませんでした。"), inv.error());
        return;
    }
    m_inventory = inv.value;
    const QLocale here;
    m_state->setText(
        m_inventory.closed
            ? QStringLiteral("確定済み　合計 %1 円（%2）")
                  .arg(here.toString(m_inventory.total), m_inventory.settings.accounting)
            : QStringLiteral("未確定　合計 %1 円（%2）　仕訳は確定してから書き出せます")
                  .arg(here.toString(m_inventory.total), m_inventory.settings.accounting));
    m_state->setStyleSheet(m_inventory.closed ? QString()
                                              : QStringLiteral("QLabel { color: #a00000; }"));
    m_journal->setEnabled(m_inventory.closed);
    m_recompute->setEnabled(!m_inventory.closed && !m_inventory.groups.isEmpty());
    const exchange::Records records = inventoryRecords(m_inventory);
    m_grid->clear();
    m_grid->setColumnCount(int(records.rows.first().size()));
    m_grid->setHorizontalHeaderLabels(records.rows.first());
    m_grid->setRowCount(int(records.rows.size() - 1));
    for (int r = 1; r < records.rows.size(); ++r) {
        const QStringList& row = records.rows[r];
        const bool sum = row.value(1) == QStringLiteral("小計") || r == records.rows.size() - 1;
        for (int c = 0; c < row.size(); ++c) {
            const bool number = records.kind(c) != exchange::CellKind::Text;
            auto* item = new QTableWidgetItem(
                number && !row[c].isEmpty() ? formatNumber(row[c].toDouble(), "#,##0") : row[c]);
            item->setTextAlignment(Qt::Alignment(number ? Qt::AlignRight : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
            if (sum) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            m_grid->setItem(r - 1, c, item);
        }
    }
    m_grid->resizeColumnsToContents();
    m_grid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
}

void InventoryDialog::writeJournal() {
    const auto program = Program(m_program->currentData().toInt());
    keepOption("journalFreee", program == Program::Freee);
    keepOption("journalReverse", m_reverse->isChecked());
    const Result<QByteArray> bytes = journal(m_inventory, program, m_reverse->isChecked());
    if (!bytes) {
        ShowError(QStringLiteral("仕訳を書き出せませんでした。"), bytes.error());
        return;
    }
    const QString suggested = exchange::suggestedName(
        {QStringLiteral("仕訳"),
         program == Program::Yayoi ? QStringLiteral("弥生") : QStringLiteral("freee"),
         m_date->value().toString(Qt::ISODate)},
        QStringLiteral("csv"));
    const QString path = exchange::chooseFileToWrite(
        this, QStringLiteral("仕訳の保存先（%1）").arg(programName(program)), "dlg仕訳保存",
        QStringLiteral("CSV Shift_JIS (*.csv)"), suggested);
    if (path.isEmpty())
        return;
    if (const wholefile::Outcome o = wholefile::write(path, bytes.value); !o) {
        ShowError(QStringLiteral("仕訳を書き出せませんでした。"), o.error);
        return;
    }
    m_said->setText(QStringLiteral("%1 に書き出しました").arg(QDir::toNativeSeparators(path)));
}

void InventoryDialog::recomputeDate() {
    const QString rounding = sheet::amountRounding();
    if (ShowMsg(MsgKind::その他, MsgCase::再計算確認,
                QStringLiteral("%1（端数は%2）").arg(m_date->shownText(), rounding)) != True)
        return;
    const Result<int> changed = recompute(m_store, m_date->value(), rounding);
    if (!changed) {
        ShowError(QStringLiteral("再計算できませんでした。"), changed.error());
        return;
    }
    m_said->setText(QStringLiteral("%1 行の金額を計算し直しました").arg(changed.value));
    refresh();
    emit recomputed(m_date->value());
}

} // namespace books
