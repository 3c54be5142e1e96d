#include "sheet/SheetTab.h"

#include "exchange/CsvDialogs.h"
#include "exchange/Export.h"
#include "history/HistoryDialogs.h"
#include "msg/Msg.h"
#include "sheet/Scan.h"
#include "sheet/ScanPanel.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"
#include "work/WorkResets.h"

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

using namespace sheet;

SheetTab::SheetTab(Store& store, const RefModels& refs, QWidget* parent)
    : QWidget(parent), m_store(store), m_refs(refs) {
    setObjectName("在庫表タブ");
    m_model = new WorkTableModel(store, "w在庫表", "seq", Columns, this);
    m_model->setObjectName("dat在庫表");

    m_date = new DateBox(this);
    m_date->setObjectName("dt日付");
    m_date->setFixedWidth(twips(this, 2000) + 24);
    m_category = new QComboBox(this);
    m_category->setObjectName("cmb商品区分在庫");
    m_category->setEditable(true);
    m_category->lineEdit()->setMaxLength(columns::MaxTextLength);
    m_category->setInsertPolicy(QComboBox::NoInsert);
    m_category->setMinimumWidth(twips(this, 2500));
    m_total = new NumberBox("#,###,###,###", this);
    m_total->setObjectName("num合計");
    m_total->setReadOnly(true);
    m_total->setFixedWidth(twips(this, 2000));
    m_total->setFocusPolicy(Qt::NoFocus);

    m_grid = new TwoPaneGrid(m_model, {ColCode, ColName}, {ColCheck}, this);
    m_grid->setObjectName("Grid在庫表");
    m_grid->pane(0)->setObjectName("Grid在庫表_0");
    m_grid->pane(1)->setObjectName("Grid在庫表_1");
    for (int c = 0; c < ColumnCount; ++c)
        m_grid->setColumnWidth(c, twips(this, Columns[c].twips));
    m_grid->fitLeftPane();
    QVector<int> productTwips;
    for (const columns::Column& c : products::RefColumns)
        productTwips << c.twips;
    m_grid->setColumnDelegate(ColName, ComboDelegate::factory(refs.products, 1, productTwips));
    m_grid->setColumnDelegate(ColUnit, ComboDelegate::factory(refs.units, 0));
    m_grid->setColumnDelegate(ColCategory, ComboDelegate::factory(refs.categories, 0));
    m_grid->onEnter = [this](const QModelIndex& i) { return enterKey(i); };

    m_bar = new QProgressBar(this);
    m_bar->setObjectName("Pbar");
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(false);
    m_bar->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(makeLabel(this, "Label1", "実  施  日"));
    top->addWidget(m_date);
    top->addSpacing(16);
    top->addWidget(makeLabel(this, "Label2", "商品区分"));
    top->addWidget(m_category);
    m_closed = makeLabel(this, "lbl確定", "確定済み");
    m_closed->setStyleSheet("QLabel { color: #a00000; font-weight: bold; }");
    m_closed->setToolTip(QStringLiteral("この日の在庫表は確定済みです。登録・削除はできません"));
    m_closed->hide();
    top->addWidget(m_closed);
    top->addSpacing(16);
    QPushButton* saved = makeButton(this, "cmd一覧", "一覧");
    saved->setToolTip(QStringLiteral("保存済みの在庫表の一覧"));
    QPushButton* summary = makeButton(this, "cmd集計", "集計");
    summary->setToolTip(QStringLiteral("実施日の在庫金額を商品区分ごとに集計します（棚卸集計）"));
    QPushButton* compare = makeButton(this, "cmd比較", "比較");
    compare->setToolTip(QStringLiteral("二つの日の在庫を比べます"));
    for (QPushButton* b : {saved, summary, compare})
        top->addWidget(b);
    // Closing a count belongs to the date, beside the saved sheets.
    QPushButton* closeCount = makeButton(this, "cmd確定", "確定");
    closeCount->setToolTip(QStringLiteral("実施日の在庫表を確定し、変更できないようにします"));
    QPushButton* reopenCount = makeButton(this, "cmd確定解除", "確定解除");
    reopenCount->setToolTip(QStringLiteral("確定を解除し、実施日の在庫表を変更できるようにします"));
    // One of the two at a time, as the date is closed or not.
    reopenCount->hide();
    top->addSpacing(8);
    top->addWidget(closeCount);
    top->addWidget(reopenCount);
    // Short captions get buttons as wide as their text: the row fits 1024 pixels.
    for (QPushButton* b : {saved, summary, compare, closeCount, reopenCount})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(b->text()) + 28);
    connect(saved, &QPushButton::clicked, this, &SheetTab::showSavedSheets);
    connect(summary, &QPushButton::clicked, this, &SheetTab::showSummary);
    connect(compare, &QPushButton::clicked, this, &SheetTab::showComparison);
    top->addStretch(1);
    top->addWidget(makeLabel(this, "Label3", "合 計"));
    top->addWidget(m_total);

    auto* buttons = new QHBoxLayout;
    QPushButton* read = makeButton(this, "cmd読込", "読込");
    QPushButton* save = makeButton(this, "cmd登録", "登録");
    QPushButton* del = makeButton(this, "cmd削除", "削除");
    QPushButton* lineDel = makeButton(this, "cmd行削除", "行削除");
    QPushButton* clear = makeButton(this, "cmdクリア", "クリア");
    QPushButton* fill = makeButton(this, "cmdマスタ読込", "マスタ読込");
    QPushButton* printBtn = makeButton(this, "Cmd印刷", "印刷");
    QPushButton* csvOut = makeButton(this, "cmdCSV出力", "CSV出力");
    csvOut->setToolTip(QStringLiteral("在庫表を Excel で開ける CSV ファイルに書き出します"));
    QPushButton* csvIn = makeButton(this, "cmdCSV取込", "CSV取込");
    csvIn->setToolTip(QStringLiteral("CSV ファイルの数量を在庫表に取り込みます"));
    QPushButton* close = makeButton(this, "cmd履歴閉じる", "閉じる");
    QPushButton* hint = makeHintButton(this, "cmdHint");
    connect(hint, &QPushButton::clicked, this, [this] { emit hintRequested("cmdHint"); });
    for (QPushButton* b : {read, save, del, lineDel, clear, fill, printBtn, csvOut, csvIn})
        buttons->addWidget(b);
    buttons->addSpacing(12);
    buttons->addWidget(m_bar, 1);
    buttons->addSpacing(12);
    buttons->addWidget(hint);
    buttons->addWidget(close);

    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    m_scanPanel = new ScanPanel(store, this);
    connect(m_scanPanel, &ScanPanel::countRequested, this, &SheetTab::countScan);
    connect(m_scanPanel, &ScanPanel::registerCodeRequested, this, &SheetTab::registerCodeRequested);
    connect(m_scanPanel, &ScanPanel::statusMessage, this, &SheetTab::statusMessage);
    v->addWidget(m_scanPanel);
    v->addWidget(m_grid, 1);
    v->addLayout(buttons);

    connect(read, &QPushButton::clicked, this, &SheetTab::Read在庫表);
    connect(save, &QPushButton::clicked, this, &SheetTab::Entry在庫表);
    connect(del, &QPushButton::clicked, this, &SheetTab::Delete在庫表);
    connect(lineDel, &QPushButton::clicked, this, &SheetTab::LineDelete在庫表);
    connect(clear, &QPushButton::clicked, this, &SheetTab::clearClicked);
    connect(fill, &QPushButton::clicked, this, &SheetTab::Read商品マスタto在庫表);
    connect(printBtn, &QPushButton::clicked, this, &SheetTab::printRequested);
    connect(csvOut, &QPushButton::clicked, this, &SheetTab::exportCsv);
    connect(csvIn, &QPushButton::clicked, this, &SheetTab::importCsv);
    connect(closeCount, &QPushButton::clicked, this, &SheetTab::close在庫表);
    connect(reopenCount, &QPushButton::clicked, this, &SheetTab::reopen在庫表);
    connect(m_date, &QDateEdit::dateChanged, this, &SheetTab::showClosed);
    connect(close, &QPushButton::clicked, this, [this] { window()->close(); });
    connect(m_model, &WorkTableModel::cellEdited, this, &SheetTab::afterEdit);
    reportRefusedNumbers(m_model, [this](int row, int column) {
        m_grid->setCurrent(column == ColCode || column == ColName ? 0 : 1, row, column);
        return m_grid->pane(column == ColCode || column == ColName ? 0 : 1);
    });
    // A name no product has yet is marked: the save will add it to the master.
    m_model->decorate = [this](int row, int column, int role) -> QVariant {
        if (column != ColName || m_newNames.isEmpty())
            return QVariant();
        const QVariant name = m_model->value(row, ColName);
        if (isEmptyValue(name) || !m_newNames.contains(name.toString()))
            return QVariant();
        if (role == Qt::BackgroundRole)
            return QColor(255, 243, 205);
        if (role == Qt::ToolTipRole)
            return QStringLiteral("新しい商品です。登録すると商品マスタに追加されます");
        return QVariant();
    };
    connect(m_model, &WorkTableModel::writeFailed, this, [](const QString& e) {
        ShowError(QStringLiteral("入力した値を保存できませんでした。"), e);
    });
    // The input method opens in the name, unit and category columns only.
    for (int p = 0; p < 2; ++p)
        m_grid->pane(p)->imeColumns = [](int c) {
            return c == ColName || c == ColUnit || c == ColCategory;
        };
}

bool SheetTab::countScan(const QString& code, qint64 count) {
    const Result<Scanned> r = sheet::scan(m_store, code, count);
    if (!r) {
        ShowError(QStringLiteral("コード %1 を数えられませんでした。").arg(code), r.error());
        return false;
    }
    if (r.value.belowZero) {
        QApplication::beep();
        ShowMsg(MsgKind::その他, MsgCase::メッセージ,
                QStringLiteral("%1行目 %2 の数量は %3 です。%4 を引くと 0 より少なくなるため、"
                               "数えませんでした。")
                    .arg(r.value.lineNo)
                    .arg(r.value.name)
                    .arg(r.value.quantity)
                    .arg(-count));
        return false;
    }
    if (!r.value.known) {
        // No dialog: the next scan goes on while the code waits in the list.
        QApplication::beep();
        m_scanPanel->wait(code, count);
        emit statusMessage(QStringLiteral("未登録のコード: %1").arg(code));
        return false;
    }
    m_dirty = true;
    int row = m_model->rowOfKey(r.value.seq);
    if (row >= 0) {
        m_model->refreshRow(row);
    } else { // a line added past the last one
        refreshGrid();
        row = m_model->rowOfKey(r.value.seq);
    }
    Calc明細();
    // The counted line is current, in view and briefly highlighted; the focus
    // stays in the box for the next scan.
    const QModelIndex at = m_model->index(row, ColQty);
    m_grid->pane(1)->selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
    m_grid->pane(1)->selectionModel()->select(at, QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
    m_grid->pane(1)->scrollTo(at);
    QTimer::singleShot(700, this, [this, at] {
        if (m_grid->pane(1)->selectionModel()->isRowSelected(at.row(), QModelIndex()))
            m_grid->pane(1)->selectionModel()->clearSelection();
    });
    emit statusMessage(
        QStringLiteral("%1 %2 数量 %3").arg(code, r.value.name).arg(r.value.quantity));
    return true;
}

void SheetTab::countRegistered() {
    for (const auto& [code, count] : m_scanPanel->takeKnown())
        countScan(code, count);
}

void SheetTab::refreshGrid() {
    findNewNames();
    if (!m_model->refresh())
        ShowError(QStringLiteral("在庫表を表示できませんでした。"), m_model->lastError());
}

void SheetTab::findNewNames() {
    const Result<QSet<QString>> names = unknownNames(m_store);
    if (names)
        m_newNames = names.value;
    else
        qWarning("unknownNames: %s", qPrintable(names.error()));
}

void SheetTab::setProgress(int value) {
    m_bar->setValue(value);
    m_bar->repaint();
}

bool SheetTab::requireDate() {
    if (!m_date->isNull())
        return true;
    ShowMsg(MsgKind::その他, MsgCase::メッセージ, "日付を記入してください。");
    m_date->setFocus();
    return false;
}

Status SheetTab::resetSheet() {
    const Result<resets::CombLists> lists = resets::clear在庫表(m_store);
    if (!lists)
        return lists.status; // the date, lines and lists stay as they were
    m_date->setValue(QDate::currentDate());
    m_total->setValue(0);
    m_dirty = false;
    m_loaded = {};
    m_scanPanel->forget();
    markSavedDates();
    showClosed();
    emit namesRead(lists.value);
    refreshGrid();
    toFirstLine();
    return Status{};
}

void SheetTab::Clear在庫表() {
    if (Status s = resetSheet(); !s)
        ShowError(QStringLiteral("在庫表をクリアできませんでした。"), s.error);
}

void SheetTab::clearClicked() {
    if (!confirmDiscard())
        return;
    if (Status s = resetSheet(); !s) {
        ShowError(QStringLiteral("在庫表をクリアできませんでした。"), s.error);
        return;
    }
    emit statusMessage(QStringLiteral("在庫表をクリアしました"));
}

bool SheetTab::hasUnsavedWork() const {
    // Scans waiting for a product are work too: they are in no table.
    return m_dirty || m_scanPanel->waiting() > 0;
}

bool SheetTab::confirmDiscard() {
    return !hasUnsavedWork() || ShowMsg(MsgKind::その他, MsgCase::破棄確認, QString()) == True;
}

void SheetTab::setNameLists(const resets::CombLists& lists, bool keepChoice) {
    fillNames(m_category, lists.categories, keepChoice);
}

void SheetTab::toFirstLine() {
    m_grid->setCurrent(0, 0, ColCode);
}

QString SheetTab::sheetHeading() const {
    const QString category = m_category->currentText();
    return m_date->shownText() + (category.isEmpty() ? QString() : " " + category);
}

void SheetTab::Read在庫表() {
    if (!requireDate() || !confirmDiscard())
        return;
    loadSheet(m_date->value(), m_category->currentText());
}

void SheetTab::loadSheet(const QDate& date, const QString& category) {
    m_bar->show();
    setProgress(10);
    sheet::LoadedFrom from;
    const Result<int> loaded = sheet::read在庫表(
        m_store, date, category, [this](int v) { setProgress(v); }, &from);
    if (!loaded) {
        m_bar->hide();
        ShowError(QStringLiteral("在庫表を読み込めませんでした。"), loaded.error());
        return;
    }
    // The heading names the sheet only once it is on screen.
    m_date->setValue(date);
    if (m_category->currentText() != category) {
        m_category->setCurrentIndex(m_category->findText(category));
        m_category->setEditText(category);
    }
    m_loaded = from;
    m_dirty = false;
    m_scanPanel->forget();
    refreshGrid();
    toFirstLine();
    Calc明細();
    setProgress(100);
    m_bar->hide();
    emit statusMessage(QStringLiteral("%1 の在庫表を読み込みました（%2行）")
                           .arg(sheetHeading())
                           .arg(loaded.value));
}

bool SheetTab::refuseClosed() {
    if (m_date->isNull())
        return false;
    const Result<bool> closed = sheet::isClosed(m_store, m_date->value());
    if (!closed || !closed.value)
        return false;
    ShowMsg(MsgKind::その他, MsgCase::メッセージ, closedMessage(m_date->value()));
    return true;
}

void SheetTab::showClosed() {
    const Result<bool> closed =
        m_date->isNull() ? Result<bool>{} : sheet::isClosed(m_store, m_date->value());
    const bool isClosed = closed && closed.value;
    m_closed->setVisible(isClosed);
    findChild<QPushButton*>("cmd確定")->setVisible(!isClosed);
    findChild<QPushButton*>("cmd確定解除")->setVisible(isClosed);
}

namespace {
QString categoryShown(const QString& category) {
    return category.isEmpty() ? QStringLiteral("（区分なし）") : category;
}
QString linesShown(const Unloaded& u) {
    return u.savedAt.isEmpty() ? QStringLiteral("%1行").arg(u.lines)
                               : QStringLiteral("%1行・%2 保存").arg(u.lines).arg(u.savedAt);
}
} // namespace

bool SheetTab::askSave(sheet::SaveMode* mode) {
    const QDate date = m_date->value();
    const QString category = m_category->currentText();
    const Result<QVector<Unloaded>> unloaded = unloadedSheets(m_store, date, category, m_loaded);
    const Result<MasterEffect> effect = masterEffect(m_store);
    if (!unloaded || !effect) {
        ShowError(QStringLiteral("在庫表を登録できませんでした。"),
                  (unloaded ? effect.status : unloaded.status).error);
        return false;
    }
    // What the save does beyond the sheet, beneath the question.
    QStringList notes, details;
    if (!effect.value.added.isEmpty() || !effect.value.changed.isEmpty()) {
        notes << QStringLiteral("商品マスタ: 追加 %1 件・変更 %2 件")
                     .arg(effect.value.added.size())
                     .arg(effect.value.changed.size());
        if (!effect.value.added.isEmpty())
            details << QStringLiteral("追加:") << effect.value.added;
        if (!effect.value.changed.isEmpty())
            details << QStringLiteral("変更:") << effect.value.changed;
    }
    if (m_scanPanel->waiting() > 0)
        notes << QStringLiteral("未登録のコード %1 件は保存されません").arg(m_scanPanel->waiting());
    mode->expected = m_loaded.date == date ? m_loaded.versions : Versions{};
    if (unloaded.value.isEmpty())
        return ShowMsg(MsgKind::登録, MsgCase::確認, m_date->shownText() + "の在庫表",
                       notes.join('\n'), details.join('\n')) == True;
    QString text;
    if (!category.isEmpty()) {
        text = QStringLiteral("%1・%2 には保存済みの在庫表があります（%3）。")
                   .arg(m_date->shownText(), category, linesShown(unloaded.value.first()));
    } else {
        QStringList each;
        for (const Unloaded& u : unloaded.value)
            each << QStringLiteral("%1（%2）").arg(categoryShown(u.category), linesShown(u));
        text = QStringLiteral("%1 には保存済みの在庫表があります: %2。")
                   .arg(m_date->shownText(), each.join(QStringLiteral("、")));
    }
    notes.prepend(QStringLiteral("置き換えると保存済みの行は消えます。追加すると同じ商品の数量は"
                                 "合計されます。"));
    const int answer = AskChoice(
        QStringLiteral("登録の確認"), text,
        {QStringLiteral("置き換える"), QStringLiteral("追加する"), QStringLiteral("キャンセル")}, 2,
        notes.join('\n'));
    if (answer == 2)
        return false;
    for (const Unloaded& u : unloaded.value)
        (*mode->expected)[u.category] = u.version;
    mode->add = answer == 1;
    return true;
}

void SheetTab::Entry在庫表() {
    if (!requireDate() || refuseClosed())
        return;
    const Result<int> named = namedLineCount(m_store);
    if (!named) {
        ShowError(QStringLiteral("在庫表を登録できませんでした。"), named.error());
        return;
    }
    if (named.value == 0)
        return;
    sheet::SaveMode mode;
    if (!askSave(&mode))
        return;
    const QString heading = sheetHeading();
    m_bar->show();
    setProgress(10);
    const Result<int> saved = sheet::entry在庫表(
        m_store, m_date->value(), m_category->currentText(), [this](int v) { setProgress(v); },
        mode);
    m_bar->hide();
    if (!saved) {
        ShowError(
            QStringLiteral("在庫表を登録できませんでした。入力した内容はそのまま残っています。"),
            saved.error());
        return;
    }
    // The sheet is stored: whatever follows, the user is told so, and the
    // date stays on the saved one until the tab is reset.
    m_dirty = false;
    const QString done =
        QStringLiteral("%1 の在庫表を%2しました（%3行）")
            .arg(heading, mode.add ? QStringLiteral("追加登録") : QStringLiteral("登録"))
            .arg(saved.value);
    emit statusMessage(done);
    if (Status s = resetSheet(); !s)
        ShowError(done + QStringLiteral("。ただし画面をクリアできませんでした。"), s.error);
}

void SheetTab::Delete在庫表() {
    if (!requireDate() || refuseClosed())
        return;
    if (ShowMsg(MsgKind::削除, MsgCase::確認, m_date->shownText()) != True)
        return;
    const Result<sheet::Deleted> deleted = sheet::delete在庫表(m_store, m_date->value());
    if (!deleted) {
        ShowError(QStringLiteral("在庫表を削除できませんでした。"), deleted.error());
        return;
    }
    const QString done = QStringLiteral("%1 の在庫表を削除しました（%2区分・%3行）")
                             .arg(m_date->shownText())
                             .arg(deleted.value.categories)
                             .arg(deleted.value.rows);
    emit statusMessage(done);
    if (Status s = resetSheet(); !s)
        ShowError(done + QStringLiteral("。ただし画面をクリアできませんでした。"), s.error);
}

void SheetTab::LineDelete在庫表() {
    const QModelIndex cur = m_grid->currentIndex();
    if (!cur.isValid() || (isEmptyValue(m_model->value(cur.row(), ColCode)) &&
                           isEmptyValue(m_model->value(cur.row(), ColName)))) {
        ShowMsg(MsgKind::その他, MsgCase::メッセージ, "行を選択してください。");
        return;
    }
    if (refuseClosed())
        return;
    if (ShowMsg(MsgKind::削除, MsgCase::確認, "指定された行") != True)
        return;
    std::optional<QDate> date;
    if (!m_date->isNull())
        date = m_date->value();
    const Result<LineDeleted> removed =
        sheet::lineDelete在庫表(m_store, m_model->keyAt(cur.row()), date);
    if (!removed) {
        ShowError(QStringLiteral("指定された行を削除できませんでした。"), removed.error());
        return;
    }
    // The saved sheet lost the same line: the screen still shows it as saved.
    if (removed.value.saved && m_loaded.date == date)
        m_loaded.versions[removed.value.category] = removed.value.version;
    refreshGrid();
    // The total follows the lines that are left.
    Calc明細();
    emit statusMessage(removed.value.saved
                           ? QStringLiteral("行を削除しました（保存済みの行も削除）")
                           : QStringLiteral("行を削除しました（%1行）").arg(removed.value.lines));
}

void SheetTab::close在庫表() {
    if (!requireDate())
        return;
    if (Status s = sheet::close在庫表(m_store, m_date->value()); !s) {
        ShowError(QStringLiteral("在庫表を確定できませんでした。"), s.error);
        return;
    }
    showClosed();
    emit statusMessage(QStringLiteral("%1 の在庫表を確定しました").arg(m_date->shownText()));
}

void SheetTab::reopen在庫表() {
    if (!requireDate())
        return;
    const Result<bool> closed = sheet::isClosed(m_store, m_date->value());
    if (closed && !closed.value) {
        emit statusMessage(
            QStringLiteral("%1 の在庫表は確定されていません").arg(m_date->shownText()));
        return;
    }
    if (ShowMsg(MsgKind::その他, MsgCase::確定解除確認, m_date->shownText()) != True)
        return;
    if (Status s = sheet::reopen在庫表(m_store, m_date->value()); !s) {
        ShowError(QStringLiteral("確定を解除できませんでした。"), s.error);
        return;
    }
    showClosed();
    emit statusMessage(QStringLiteral("%1 の在庫表の確定を解除しました").arg(m_date->shownText()));
}

void SheetTab::Read商品マスタto在庫表() {
    if (!confirmDiscard())
        return;
    if (ShowMsg(MsgKind::その他, MsgCase::確認, "商品情報を読み込みします。") != True)
        return;
    const Result<int> filled = sheet::read商品マスタto在庫表(m_store);
    if (!filled) {
        ShowError(QStringLiteral("商品情報を読み込めませんでした。"), filled.error());
        return;
    }
    m_dirty = false;
    m_loaded = {};
    refreshGrid();
    Calc明細();
    emit statusMessage(QStringLiteral("商品情報から %1 行を読み込みました").arg(filled.value));
}

void SheetTab::exportCsv() {
    const Result<QVector<QStringList>> records = exchange::sheetRecords(m_store);
    if (!records) {
        ShowError(QStringLiteral("CSV に書き出せませんでした。"), records.error());
        return;
    }
    if (records.value.size() < 2) {
        emit statusMessage(QStringLiteral("書き出す行がありません"));
        return;
    }
    const QDate date = m_date->isNull() ? QDate::currentDate() : m_date->value();
    const QString path = exchange::exportRecords(
        this, {QStringLiteral("在庫表"), date.toString(Qt::ISODate), m_category->currentText()},
        records.value);
    if (path.isEmpty())
        return;
    emit statusMessage(QStringLiteral("在庫表を %1 に書き出しました（%2行）")
                           .arg(QDir::toNativeSeparators(path))
                           .arg(records.value.size() - 1));
}

void SheetTab::importCsv() {
    if (refuseClosed())
        return;
    const QString path = exchange::chooseOpenFile(this);
    if (path.isEmpty())
        return;
    exchange::WorkProgress reading(this, QStringLiteral("CSV を読んでいます…"));
    const Result<exchange::Table> table = exchange::readCsvFile(path);
    const Result<exchange::CountPreview> preview =
        table ? exchange::previewCounts(m_store, table.value, reading.callback())
              : Result<exchange::CountPreview>{};
    if (!table || !preview) {
        ShowError(QStringLiteral("CSV を取り込めませんでした。"),
                  (table ? preview.status : table.status).error);
        return;
    }
    bool addUnknown = false;
    if (!exchange::confirmCounts(this, path, preview.value, &addUnknown))
        return;
    exchange::WorkProgress writing(this, QStringLiteral("数量を取り込んでいます…"));
    const Result<exchange::Counted> done =
        exchange::importCounts(m_store, preview.value, addUnknown, writing.callback());
    if (!done) {
        ShowError(QStringLiteral("CSV を取り込めませんでした。在庫表は取り込む前のままです。"),
                  done.error());
        return;
    }
    m_dirty = true;
    refreshGrid();
    Calc明細();
    emit statusMessage(QStringLiteral("%1 から数量を取り込みました（設定 %2行・追加 %3行・"
                                      "未登録の追加 %4行）")
                           .arg(QFileInfo(path).fileName())
                           .arg(done.value.set)
                           .arg(done.value.filled)
                           .arg(done.value.unknown));
}

void SheetTab::markSavedDates() {
    const Result<QVector<QDate>> dates = history::savedDates(m_store);
    if (dates)
        m_date->setMarkedDates(dates.value);
}

void SheetTab::showSavedSheets() {
    if (const auto chosen = history::chooseSavedSheet(this, m_store))
        loadSaved(chosen->first, chosen->second);
}

void SheetTab::loadSaved(const QDate& date, const QString& category) {
    if (!confirmDiscard())
        return;
    loadSheet(date, category);
}

void SheetTab::showSummary() {
    // The sheet's date when it has saved sheets, else the newest saved date.
    const QVector<QDate> dates = history::savedDates(m_store).value;
    const QDate date =
        dates.contains(m_date->value()) || dates.isEmpty() ? m_date->value() : dates.last();
    history::SummaryDialog dlg(
        m_store, date,
        [this](const QVector<report::Page>& pages, const QString& title) {
            emit pagesToPrint(pages, title);
        },
        this);
    dlg.exec();
}

void SheetTab::showComparison() {
    // The two newest saved dates, the sheet's category.
    const QVector<QDate> dates = history::savedDates(m_store).value;
    const QDate second = dates.isEmpty() ? QDate::currentDate() : dates.last();
    const QDate first = dates.size() > 1 ? dates[dates.size() - 2] : second;
    QStringList categories;
    for (int i = 0; i < m_category->count(); ++i)
        if (!m_category->itemText(i).isEmpty())
            categories << m_category->itemText(i);
    history::CompareDialog dlg(
        m_store, categories, first, second,
        [this](const QVector<report::Page>& pages, const QString& title) {
            emit pagesToPrint(pages, title);
        },
        this);
    dlg.exec();
}

void SheetTab::Calc明細() {
    const Result<Currency> total = calc明細(m_store);
    if (!total) {
        qWarning("Calc明細: %s", qPrintable(total.error()));
        return;
    }
    m_total->setValue(qlonglong(total.value.units() / Currency::Scale));
}

sheet::PrintHeading SheetTab::printHeading() const {
    return {m_date->isNull() ? QString() : m_date->value().toString("yyyy年MM月dd日"),
            m_category->currentText(),
            m_total->text().isEmpty() ? QString() : formatNumber(m_total->value(), "#,###")};
}

void SheetTab::afterEdit(int row, int column) {
    const Result<EditOutcome> outcome = afterCellEdit(m_store, m_model->keyAt(row), column);
    if (!outcome)
        ShowError(QStringLiteral("行の計算ができませんでした。"), outcome.error());
    m_model->refreshRow(row);
    if (column == ColName || column == ColCode) {
        // Only the line's own name can have changed its standing.
        const QString name = m_model->value(row, ColName).toString();
        const Result<NameMatch> match =
            guardedValue<NameMatch>([&] { return matchName(m_store, name); });
        if (!name.isEmpty() && match) {
            if (match.value.products == 0)
                m_newNames.insert(name);
            else
                m_newNames.remove(name);
            m_model->refreshRow(row);
        }
    }
    m_dirty = true;
    if (outcome.value.unitsChanged)
        emit namesChanged();
    if (outcome.value.ambiguous)
        emit statusMessage(
            QStringLiteral("「%1」という商品は複数あります。コードで指定してください")
                .arg(m_model->value(row, ColName).toString()));
    Calc明細();
}

bool SheetTab::enterKey(const QModelIndex& index) {
    if (!index.isValid())
        return false;
    switch (index.column()) {
    case ColName:
        m_grid->setCurrent(1, index.row(), ColQty);
        return true;
    case ColQty:
        if (!m_countByLine)
            return false;
        // On to the next line's name (the last line stays where it is).
        m_grid->setCurrent(0, std::min(index.row() + 1, m_model->rowCount() - 1), ColName);
        return true;
    case ColAmount:
    case ColCategory: {
        // On to the next line's code; the last line stays where it is.
        const int next = std::min(index.row() + 1, m_model->rowCount() - 1);
        m_grid->setCurrent(0, next, ColCode);
        return true;
    }
    default:
        return false;
    }
}
