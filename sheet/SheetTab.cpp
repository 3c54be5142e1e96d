#include "sheet/SheetTab.h"

#include "msg/Msg.h"
#include "sheet/CountLedger.h"
#include "sheet/Scan.h"
#include "sheet/ScanPanel.h"
#include "sheet/SheetHeading.h"
#include "store/Notices.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"
#include "work/WorkResets.h"

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

using namespace sheet;

SheetTab::SheetTab(Store& store, const RefModels& refs, QWidget* parent)
    : QWidget(parent), m_store(store), m_refs(refs) {
    setObjectName("在庫表タブ");
    m_model = new WorkTableModel(store, "w在庫表", "seq", Columns, this);
    m_model->setObjectName("dat在庫表");

    m_heading = new SheetHeading(this);
    m_date = m_heading->date();
    m_category = m_heading->category();
    m_total = m_heading->total();
    setUpCounting();
    connect(m_heading, &SheetHeading::savedSheetsRequested, this, &SheetTab::savedSheetsRequested);
    // The summary of the sheet's date when it has saved sheets, else of the newest one.
    connect(m_heading, &SheetHeading::summaryRequested, this, [this] {
        const QVector<QDate> dates = savedDates(m_store).value;
        emit summaryRequested(dates.contains(m_date->value()) || dates.isEmpty() ? m_date->value()
                                                                                 : dates.last());
    });
    connect(m_heading, &SheetHeading::inventoryRequested, this, [this] {
        const QVector<QDate> dates = savedDates(m_store).value;
        emit inventoryRequested(dates.contains(m_date->value()) || dates.isEmpty() ? m_date->value()
                                                                                   : dates.last());
    });
    // The two newest saved dates, the sheet's categories.
    connect(m_heading, &SheetHeading::comparisonRequested, this, [this] {
        const QVector<QDate> dates = savedDates(m_store).value;
        const QDate second = dates.isEmpty() ? QDate::currentDate() : dates.last();
        const QDate first = dates.size() > 1 ? dates[dates.size() - 2] : second;
        QStringList categories;
        for (int i = 0; i < m_category->count(); ++i)
            if (!m_category->itemText(i).isEmpty())
                categories << m_category->itemText(i);
        emit comparisonRequested(first, second, categories);
    });
    connect(m_heading, &SheetHeading::progressRequested, this,
            [this] { emit progressRequested(m_date->value(), m_category->currentText()); });
    connect(m_heading, &SheetHeading::historyRequested, this,
            [this] { emit historyRequested(m_date->value()); });
    connect(m_heading, &SheetHeading::phonesRequested, this,
            [this] { emit phonesRequested(m_date->value(), m_category->currentText()); });
    connect(m_heading, &SheetHeading::rereadRequested, this,
            [this] { loadSaved(m_date->value(), m_category->currentText()); });
    connect(m_heading, &SheetHeading::closeRequested, this, &SheetTab::close在庫表);
    connect(m_heading, &SheetHeading::reopenRequested, this, &SheetTab::reopen在庫表);

    m_grid = new TwoPaneGrid(m_model, {ColCode, ColName}, {ColCheck}, this);
    m_grid->setObjectName("Grid在庫表");
    m_grid->pane(0)->setObjectName("Grid在庫表_0");
    m_grid->pane(1)->setObjectName("Grid在庫表_1");
    for (int c = 0; c < ColumnCount; ++c)
        m_grid->setColumnWidth(c, twips(this, Columns[c].twips));
    m_grid->fitLeftPane();
    showProper();
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
    v->addWidget(m_heading);
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
    connect(printBtn, &QPushButton::clicked, this, &SheetTab::print);
    connect(csvOut, &QPushButton::clicked, this, &SheetTab::exportCsv);
    connect(csvIn, &QPushButton::clicked, this, &SheetTab::importCsv);
    connect(m_date, &QDateEdit::dateChanged, this, &SheetTab::showClosed);
    connect(close, &QPushButton::clicked, this, [this] { window()->close(); });
    connect(m_model, &WorkTableModel::cellEdited, this, &SheetTab::afterEdit);
    // A count or a name is written with what follows from it in one statement.
    m_model->writeCell = [this](int row, int column,
                                const QVariant& stored) -> std::optional<Result<Row>> {
        auto w = writeCell(m_store, m_model->keyAt(row), column, stored, m_model->rowValues(row));
        if (!w)
            return std::nullopt;
        Result<Row> r;
        r.status = w->status;
        if (*w) {
            r.value = w->value.line;
            // The total moves by what this line's amount moved.
            const auto amount = [](const QVariant& v) {
                return Currency::fromVariant(v).value_or(Currency());
            };
            m_sum = m_sum - amount(m_model->value(row, ColAmount)) + amount(r.value[ColAmount]);
            m_written = std::move(w->value);
        }
        return r;
    };
    // The category a line is stored under follows the sheet's.
    connect(m_category, &QComboBox::currentTextChanged, this,
            [this] { m_grid->pane(1)->viewport()->update(); });
    connect(m_model, &WorkTableModel::valueRefused, this,
            [this](int row, int column, const QString& typed) {
                refuseNumber(m_model, row, column, typed,
                             QString::fromUtf8(m_model->column(column).field),
                             [this](int row, int column) {
                                 const int pane = column == ColCode || column == ColName ? 0 : 1;
                                 m_grid->setCurrent(pane, row, column);
                                 return m_grid->pane(pane);
                             });
            });
    // A name no product has yet is marked: the save will add it to the master.
    // On a sheet of one category a line shows the category it is stored under;
    // a product of another is marked, and keeps its own.
    m_model->decorate = [this](int row, int column, int role) -> QVariant {
        if (column == ColCategory)
            return otherCategory(row, role);
        if (column == ColName && pendingLookUp(row)) {
            if (role == Qt::BackgroundRole)
                return QColor(255, 214, 153);
            if (role == Qt::ToolTipRole)
                return QStringLiteral(
                    "サーバーに接続できなかったため、商品マスタから読めていません。"
                    "登録の前に読み直します");
            return QVariant();
        }
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
    if (m_scanPanel->direct())
        return countDirect(code, count);
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
    showCounted(r.value.seq, code, r.value.name, r.value.quantity, QString());
    return true;
}

bool SheetTab::countDirect(const QString& code, qint64 count) {
    if (!requireDate())
        return false;
    const QDate date = m_date->value();
    const Result<ScanRecorded> r =
        recordScan(m_store, date, m_category->currentText(), code, count, counter());
    if (!r) {
        QApplication::beep();
        if (r.status.kind == ErrorKind::Closed)
            ShowMsg(MsgKind::その他, MsgCase::メッセージ, r.error());
        else
            ShowError(r.status.kind == ErrorKind::Unsure
                          ? QStringLiteral("コード %1 を記録できたかどうか分かりません。"
                                           "履歴で確かめてください。")
                                .arg(code)
                          : QStringLiteral("コード %1 を記録できませんでした。").arg(code),
                      r.error());
        return false;
    }
    const ScanRecorded& s = r.value;
    if (!s.known) {
        QApplication::beep();
        m_scanPanel->wait(code, count);
        emit statusMessage(QStringLiteral("未登録のコード: %1").arg(code));
        return false;
    }
    if (s.belowZero) {
        QApplication::beep();
        ShowMsg(MsgKind::その他, MsgCase::メッセージ,
                QStringLiteral("%1 の保存済みの数量は %2 です。%3 を引くと 0 より少なくなるため、"
                               "記録しませんでした。")
                    .arg(s.name)
                    .arg(s.quantity)
                    .arg(-count));
        return false;
    }
    // The screen follows the saved count: its version moves with this
    // scan when the screen held the one before it.
    const bool held =
        m_loaded.date == date && m_loaded.versions.value(s.category) == s.versionBefore;
    const bool first = s.versionBefore == 0 && (!m_loaded.date.isValid() || m_loaded.date == date);
    if (!held && !first && !hasUnsavedWork()) {
        loadSheet(date, m_category->currentText());
    } else {
        if (held || first) {
            m_loaded.date = date;
            m_loaded.versions[s.category] = s.version;
        } else {
            m_heading->showRecordedElsewhere(true);
        }
        const Result<Scanned> shown = showStored(m_store, code, s.product, s.quantity, s.lineId);
        if (!shown) {
            ShowError(QStringLiteral("記録した数量を表示できませんでした。"), shown.error());
            return true;
        }
        if (shown.value.newLine)
            refreshGrid();
    }
    announce(); // after the screen took the new version: not read again for it
    const QVariant seq = m_store.scalar(
        Db::Work, "SELECT seq FROM w在庫表 WHERE code = ? ORDER BY seq LIMIT 1", {code});
    showCounted(seq.toLongLong(), code, s.name, s.quantity, QStringLiteral("（記録しました）"));
    return true;
}

void SheetTab::showCounted(qint64 seq, const QString& code, const QString& name, qint64 quantity,
                           const QString& said) {
    int row = m_model->rowOfKey(seq);
    if (row >= 0) {
        m_model->refreshRow(row);
    } else { // a line added past the last one
        refreshGrid();
        row = m_model->rowOfKey(seq);
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
    emit statusMessage(QStringLiteral("%1 %2 数量 %3%4").arg(code, name).arg(quantity).arg(said));
}

void SheetTab::setNotices(CountNotices* notices) {
    m_notices = notices;
    connect(notices, &CountNotices::recorded, this, &SheetTab::recorded);
}

void SheetTab::announce() {
    if (m_notices && !m_date->isNull())
        m_notices->announce(dateKey(m_date->value()));
}

void SheetTab::recorded(const QString& day) {
    // Only a saved count on screen can be out of date.
    if (m_date->isNull() || m_loaded.date != m_date->value() ||
        (!day.isEmpty() && day != dateKey(m_loaded.date)))
        return;
    const Result<Versions> now = savedVersions(m_store, m_loaded.date, m_category->currentText());
    if (!now || now.value == m_loaded.versions)
        return;
    if (hasUnsavedWork()) {
        // Typed counts are never overwritten: the user chooses when to read again.
        m_heading->showRecordedElsewhere(true);
        return;
    }
    rereadQuietly();
    emit statusMessage(QStringLiteral("他の担当が記録しました。在庫表を読み直しました"));
}

void SheetTab::rereadQuietly() {
    QWidget* focused = QApplication::focusWidget();
    const int pane = m_grid->pane(0)->hasFocus() ? 0 : 1;
    const QModelIndex at = m_grid->pane(pane)->currentIndex();
    const int top = m_grid->pane(1)->verticalScrollBar()->value();
    loadSheet(m_loaded.date, m_category->currentText());
    if (at.isValid() && at.row() < m_model->rowCount())
        m_grid->pane(pane)->setCurrentIndex(m_model->index(at.row(), at.column()));
    m_grid->pane(1)->verticalScrollBar()->setValue(top);
    if (focused && focused->isVisible())
        focused->setFocus(Qt::OtherFocusReason);
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

void SheetTab::setUpCounting() {
    // Who counts: remembered on this PC, the system user's name the first time.
    QComboBox* counter = m_heading->counter();
    counter->addItems(rememberedValue("sheet/counters").toStringList());
    QString name = rememberedValue("sheet/counter").toString();
    if (name.isEmpty())
        for (const char* v : {"USER", "USERNAME", "LOGNAME"})
            if (name.isEmpty())
                name = qEnvironmentVariable(v);
    counter->setEditText(name);
    connect(counter->lineEdit(), &QLineEdit::editingFinished, this, &SheetTab::keepCounter);
    connect(counter, &QComboBox::textActivated, this, &SheetTab::keepCounter);
    QCheckBox* keepDate = m_heading->keepDate();
    keepDate->setChecked(rememberedOption("keepDate", false));
    connect(keepDate, &QCheckBox::toggled, this, [](bool on) { keepOption("keepDate", on); });
    QCheckBox* hide = m_heading->hideProper();
    hide->setChecked(rememberedOption("hideProper", false));
    connect(hide, &QCheckBox::toggled, this, [this](bool on) {
        keepOption("hideProper", on);
        showProper();
    });
}

QString SheetTab::counter() const {
    return m_heading->counter()->currentText().trimmed();
}

void SheetTab::keepCounter() {
    const QString name = counter();
    QComboBox* box = m_heading->counter();
    if (!name.isEmpty() && box->findText(name) < 0)
        box->insertItem(0, name);
    box->setEditText(name);
    QStringList known;
    for (int i = 0; i < box->count() && i < 10; ++i)
        known << box->itemText(i);
    keepValue("sheet/counter", name);
    keepValue("sheet/counters", known);
    emit counterChanged(name);
}

// A blind count: the counter sees neither the proper quantity nor the change.
void SheetTab::showProper() {
    const bool hidden = m_heading->hideProper()->isChecked();
    for (int c : {ColProper, ColChange})
        m_grid->pane(1)->setColumnHidden(c, hidden);
}

Status SheetTab::resetSheet() {
    const Result<resets::CombLists> lists = resets::clear在庫表(m_store);
    if (!lists)
        return lists.status; // the date, lines and lists stay as they were
    // A fixed date stays for the next sheet (a count past midnight goes on
    // into its day); otherwise the next sheet is today's.
    if (!m_heading->keepDate()->isChecked() || m_date->isNull())
        m_date->setValue(QDate::currentDate());
    m_total->setValue(0);
    m_dirty = false;
    m_loaded = {};
    m_imported.clear();
    m_heading->showRecordedElsewhere(false);
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

void SheetTab::Calc明細() {
    const Result<Currency> total = calc明細(m_store);
    if (!total) {
        qWarning("Calc明細: %s", qPrintable(total.error()));
        return;
    }
    m_sum = total.value;
    showTotal();
}

void SheetTab::showTotal() {
    m_total->setValue(qlonglong(m_sum.units() / Currency::Scale));
}

QStringList SheetTab::fileNameParts() const {
    const QDate date = m_date->isNull() ? QDate::currentDate() : m_date->value();
    return {QStringLiteral("在庫表"), date.toString(Qt::ISODate), m_category->currentText()};
}

sheet::PrintHeading SheetTab::printHeading() const {
    return {m_date->isNull() ? QString() : m_date->value().toString("yyyy年MM月dd日"),
            m_category->currentText(),
            m_total->text().isEmpty() ? QString() : formatNumber(m_total->value(), "#,###")};
}

QVariant SheetTab::otherCategory(int row, int role) const {
    if (role != Qt::DisplayRole && role != Qt::BackgroundRole && role != Qt::ToolTipRole)
        return QVariant();
    const QString sheetCategory = m_category->currentText();
    const QVariant own = m_model->value(row, ColCategory);
    if (sheetCategory.isEmpty() || isEmptyValue(own) || own.toString() == sheetCategory ||
        isEmptyValue(m_model->value(row, ColName)))
        return QVariant();
    if (role == Qt::DisplayRole)
        return sheetCategory;
    if (role == Qt::BackgroundRole)
        return QColor(255, 226, 226);
    return QStringLiteral("この商品の商品区分は %1 です。この在庫表では %2 として保存されます"
                          "（商品の区分は変わりません）")
        .arg(own.toString(), sheetCategory);
}

bool SheetTab::pendingLookUp(int row) const {
    const auto p = m_pendingLookUps.constFind(m_model->keyAt(row));
    return p != m_pendingLookUps.constEnd() &&
           m_model->value(row, p->first).toString() == p->second;
}

// The lines whose look-up the server missed are looked up now, before they
// are saved: a line is never stored with blanks for want of its product.
bool SheetTab::lookUpPending() {
    for (auto p = m_pendingLookUps.begin(); p != m_pendingLookUps.end();) {
        const int row = m_model->rowOfKey(p.key());
        if (row < 0 || m_model->value(row, p->first).toString() != p->second) {
            p = m_pendingLookUps.erase(p);
            continue;
        }
        // The count typed meanwhile gets its amount and change from the product.
        Result<EditOutcome> outcome = afterCellEdit(m_store, p.key(), p->first);
        if (outcome)
            outcome = afterCellEdit(m_store, p.key(), ColQty);
        if (!outcome) {
            ShowError(QStringLiteral("在庫表を登録できませんでした。入力した内容はそのまま残って"
                                     "います。"),
                      outcome.error());
            return false;
        }
        m_model->refreshRow(row);
        p = m_pendingLookUps.erase(p);
    }
    Calc明細();
    return true;
}

void SheetTab::afterEdit(int row, int column) {
    const qint64 seq = m_model->keyAt(row);
    if (const std::optional<CellWritten> w = std::exchange(m_written, std::nullopt)) {
        const QString name = m_model->value(row, ColName).toString();
        if (!w->lookUp && w->lookUp.kind == ErrorKind::Io)
            m_pendingLookUps.insert(seq, {column, name});
        else if (!w->lookUp)
            ShowError(QStringLiteral("行の計算ができませんでした。"), w->lookUp.error);
        else if (column == ColName)
            m_pendingLookUps.remove(seq);
        if (!name.isEmpty() && w->products == 0)
            m_newNames.insert(name);
        else if (w->products > 0)
            m_newNames.remove(name);
        m_dirty = true;
        // A count typed over an imported one is the counter's own.
        if (column == ColQty && !m_imported.isEmpty()) {
            m_imported.remove(m_model->value(row, ColCode).toString());
            m_imported.remove(name);
        }
        if (w->outcome.ambiguous)
            emit statusMessage(
                QStringLiteral("「%1」という商品は複数あります。コードで指定してください")
                    .arg(name));
        showTotal();
        return;
    }
    const Result<EditOutcome> outcome = afterCellEdit(m_store, seq, column);
    if (!outcome && outcome.status.kind == ErrorKind::Io &&
        (column == ColName || column == ColCode)) {
        // The server is away: the status bar says so; the line keeps what was
        // typed, is marked, and is looked up again before it is saved.
        m_pendingLookUps.insert(seq, {column, m_model->value(row, column).toString()});
    } else if (!outcome) {
        ShowError(QStringLiteral("行の計算ができませんでした。"), outcome.error());
    } else if (column == ColName || column == ColCode) {
        m_pendingLookUps.remove(seq);
    }
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
