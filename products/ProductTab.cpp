#include "products/ProductTab.h"

#include "codes/CodeOps.h"
#include "exchange/CsvDialogs.h"
#include "exchange/Export.h"
#include "msg/Msg.h"
#include "widgets/Controls.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"
#include "work/WorkResets.h"
#include "work/WorkRows.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

using namespace products;

ProductTab::ProductTab(Store& store, const RefModels& refs, QWidget* parent)
    : QWidget(parent), m_store(store), m_refs(refs) {
    setObjectName("商品情報タブ");
    m_model = new WorkTableModel(store, "w商品マスタ", "seq", Columns, this);
    m_model->setObjectName("dat商品情報");

    m_selector = new QComboBox(this);
    m_selector->setObjectName("cmb商品区分選択");
    m_selector->setEditable(false);
    // Chosen from the list only: typed characters are swallowed, arrows work.
    m_selector->installEventFilter(this);
    m_selector->setMinimumWidth(twips(this, 2500));

    m_grid = new GridView(this);
    m_grid->setObjectName("Grid商品情報");
    m_grid->setModel(m_model);
    setupGrid(m_grid);
    for (int c = 0; c < ColumnCount; ++c)
        m_grid->setColumnWidth(c, twips(this, Columns[c].twips));
    m_grid->setItemDelegateForColumn(ColUnit, new ComboDelegate(refs.units, 0, {}, this));
    m_grid->setItemDelegateForColumn(ColCategory, new ComboDelegate(refs.categories, 0, {}, this));

    QPushButton* read = makeButton(this, "cmd商品読込", "読込");
    QPushButton* save = makeButton(this, "cmd商品登録", "登録");
    QPushButton* lineDel = makeButton(this, "cmd商品行削除", "行削除");
    QPushButton* clear = makeButton(this, "cmd商品クリア", "クリア");
    QPushButton* detail = makeButton(this, "cmd商品詳細", "詳細");
    QPushButton* printBtn = makeButton(this, "cmd商品印刷", "印刷");
    QPushButton* csvOut = makeButton(this, "cmd商品CSV出力", "CSV出力");
    csvOut->setToolTip(QStringLiteral("一覧の商品を Excel で開ける CSV ファイルに書き出します"));
    QPushButton* csvIn = makeButton(this, "cmd商品CSV取込", "CSV取込");
    csvIn->setToolTip(QStringLiteral("CSV ファイルの商品を商品情報に取り込みます"));
    QPushButton* hint = makeHintButton(this, "cmdHint2");
    connect(hint, &QPushButton::clicked, this, [this] { emit hintRequested("cmdHint2"); });

    auto* top = new QHBoxLayout;
    top->addWidget(makeLabel(this, "Label4", "商品区分"));
    top->addWidget(m_selector);
    top->addStretch(1);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {read, save, lineDel, clear, detail, printBtn, csvOut, csvIn})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(hint);

    auto* left = new QVBoxLayout;
    left->addLayout(top);
    left->addWidget(m_grid, 1);
    left->addLayout(buttons);

    auto* h = new QHBoxLayout(this);
    h->addLayout(left, 1);
    h->addWidget(buildDetailPanel());

    connect(read, &QPushButton::clicked, this, [this] {
        if (confirmDiscard())
            Read商品情報();
    });
    connect(save, &QPushButton::clicked, this, &ProductTab::Entry商品情報);
    connect(lineDel, &QPushButton::clicked, this, &ProductTab::LineDelete商品情報);
    connect(clear, &QPushButton::clicked, this, [this] {
        if (confirmDiscard())
            Clear商品情報();
    });
    connect(detail, &QPushButton::clicked, this, &ProductTab::openDetail);
    connect(printBtn, &QPushButton::clicked, this, &ProductTab::print);
    connect(csvOut, &QPushButton::clicked, this, &ProductTab::exportCsv);
    connect(csvIn, &QPushButton::clicked, this, &ProductTab::importCsv);
    connect(m_model, &WorkTableModel::cellEdited, this, [this] { m_dirty = true; });
    connect(m_model, &WorkTableModel::valueRefused, this,
            [this](int row, int column, const QString& typed) {
                refuseNumber(m_model, row, column, typed,
                             QString::fromUtf8(m_model->column(column).field),
                             [this](int row, int column) {
                                 m_grid->setCurrentIndex(m_model->index(row, column));
                                 m_grid->setFocus();
                                 return static_cast<QAbstractItemView*>(m_grid);
                             });
            });
    connect(m_model, &WorkTableModel::writeFailed, this, [](const QString& e) {
        ShowError(QStringLiteral("入力した値を保存できませんでした。"), e);
    });
    m_grid->imeColumns = [](int c) { return c == ColName || c == ColUnit || c == ColCategory; };
}

void ProductTab::refreshGrid() {
    if (!m_model->refresh())
        ShowError(QStringLiteral("商品情報を表示できませんでした。"), m_model->lastError());
}

bool ProductTab::confirmDiscard() {
    return !m_dirty || ShowMsg(MsgKind::その他, MsgCase::破棄確認, QString()) == True;
}

void ProductTab::Read商品情報() {
    if (Status s = read商品情報(m_store, m_selector->currentText()); !s) {
        ShowError(QStringLiteral("商品情報を読み込めませんでした。"), s.error);
        return;
    }
    m_dirty = false;
    refreshGrid();
    emit statusMessage(QStringLiteral("商品情報を読み込みました（%1件）").arg(m_model->rowCount()));
}

void ProductTab::Entry商品情報() {
    if (ShowMsg(MsgKind::登録, MsgCase::確認, "商品情報") != True)
        return;
    Registered total;
    for (;;) {
        const Result<ListSaved> saved = entry商品情報(m_store);
        if (!saved) {
            ShowError(QStringLiteral(
                          "商品情報を登録できませんでした。入力した内容はそのまま残っています。"),
                      saved.error());
            refreshGrid();
            return;
        }
        total.added += saved.value.added;
        total.updated += saved.value.updated;
        // Only the rows written changed: a list of a hundred thousand is not re-read.
        for (qint64 seq : saved.value.written)
            m_model->refreshRow(m_model->rowOfKey(seq));
        if (saved.value.added + saved.value.updated > 0)
            emit productsChanged();
        if (saved.value.conflicts.isEmpty())
            break;
        // Someone else changed these products after the list was read: the
        // user decides whose contents stay, nothing is overwritten unasked.
        const QVector<Conflict>& conflicts = saved.value.conflicts;
        QStringList named;
        for (const Conflict& c : conflicts)
            named << QStringLiteral("%1: %2").arg(c.mine, c.difference);
        const int answer = AskChoice(
            QStringLiteral("他で変更された商品"),
            QStringLiteral("次の %1 件の商品は、一覧を読み込んだ後に他で変更されています。"
                           "登録していません。")
                .arg(conflicts.size()),
            {QStringLiteral("自分の内容で上書き"), QStringLiteral("相手の内容を読み込む"),
             QStringLiteral("キャンセル")},
            2, named.mid(0, 5).join("\n") + (named.size() > 5 ? QStringLiteral("\n…") : QString()),
            QStringLiteral("（自分の内容 → 相手の内容）\n") + named.join("\n"));
        if (answer == 0) {
            if (Status s = keepMine(m_store, conflicts); !s) {
                ShowError(QStringLiteral("商品情報を登録できませんでした。"), s.error);
                return;
            }
            continue; // written again over what is stored now
        }
        if (answer == 1) {
            if (Status s = takeTheirs(m_store, conflicts); !s)
                ShowError(QStringLiteral("商品情報を読み込めませんでした。"), s.error);
            refreshGrid();
        }
        emit statusMessage(QStringLiteral("商品情報を登録しました（新規 %1・更新 %2）。"
                                          "他で変更された %3 件は登録していません")
                               .arg(total.added)
                               .arg(total.updated)
                               .arg(conflicts.size()));
        return;
    }
    m_dirty = false;
    emit statusMessage(QStringLiteral("商品情報を登録しました（新規 %1・更新 %2）")
                           .arg(total.added)
                           .arg(total.updated));
}

void ProductTab::exportCsv() {
    const Result<exchange::Records> records = exchange::productRecords(m_store);
    if (!records) {
        ShowError(QStringLiteral("書き出せませんでした。"), records.error());
        return;
    }
    if (records.value.rows.size() < 2) {
        emit statusMessage(
            QStringLiteral("書き出す商品がありません（読込で一覧を表示してください）"));
        return;
    }
    const QString path = exchange::exportRecords(this,
                                                 {QStringLiteral("商品情報"),
                                                  QDate::currentDate().toString(Qt::ISODate),
                                                  m_selector->currentText()},
                                                 records.value);
    if (path.isEmpty())
        return;
    emit statusMessage(QStringLiteral("商品情報を %1 に書き出しました（%2件）")
                           .arg(QDir::toNativeSeparators(path))
                           .arg(records.value.rows.size() - 1));
}

void ProductTab::importCsv() {
    // The list is read again afterwards: unsaved edits would be lost.
    if (!confirmDiscard())
        return;
    QString path;
    std::optional<exchange::ProductPreview> preview =
        exchange::previewFile<exchange::ProductPreview>(
            this, &path,
            [this](const exchange::Table& t, const exchange::Progress& p) {
                return exchange::previewProducts(m_store, t, p);
            },
            [this, &path](const exchange::Table& t, Result<exchange::ProductPreview>& p,
                          exchange::Choice* c) {
                return exchange::confirmProducts(this, path, t, p, c);
            });
    if (!preview)
        return;
    exchange::WorkProgress writing(this, QStringLiteral("商品を取り込んでいます…"));
    const Status imported = exchange::importProducts(m_store, *preview, writing.callback());
    writing.finish();
    if (Status s = imported; !s) {
        ShowError(QStringLiteral("取り込めませんでした。商品情報は取り込む前のままです。"),
                  s.error);
        return;
    }
    const exchange::ProductPreview& done = *preview;
    emit productsChanged();
    Read商品情報();
    emit statusMessage(
        QStringLiteral("%1 から商品を取り込みました（追加 %2・更新 %3・変更なし %4・エラー %5）")
            .arg(QFileInfo(path).fileName())
            .arg(done.count(exchange::RowAction::New))
            .arg(done.count(exchange::RowAction::Update))
            .arg(done.count(exchange::RowAction::Unchanged))
            .arg(done.count(exchange::RowAction::Error)));
}

void ProductTab::Clear商品情報() {
    m_selector->setCurrentIndex(-1);
    if (Status s = resets::clear商品情報(m_store); !s) {
        ShowError(QStringLiteral("商品情報をクリアできませんでした。"), s.error);
        return;
    }
    m_dirty = false;
    refreshGrid();
}

void ProductTab::LineDelete商品情報() {
    const QModelIndex cur = m_grid->currentIndex();
    if (!cur.isValid())
        return;
    if (ShowMsg(MsgKind::削除, MsgCase::確認, "指定された行") != True)
        return;
    const QString product = m_model->value(cur.row(), ColCode).toString() + " " +
                            m_model->value(cur.row(), ColName).toString();
    if (Status s = lineDelete商品情報(m_store, m_model->keyAt(cur.row())); !s) {
        ShowError(QStringLiteral("指定された行の商品を削除できませんでした。"), s.error);
        return;
    }
    refreshGrid();
    emit productsChanged();
    emit statusMessage(QStringLiteral("商品 %1 を削除しました").arg(product.trimmed()));
}

void ProductTab::setNameLists(const resets::CombLists& lists, bool keepChoices) {
    fillNames(m_cat, lists.categories, keepChoices);
    fillNames(m_selector, lists.categories, keepChoices);
    fillNames(m_unit, lists.units, true);
}

void ProductTab::print() {
    const auto fail = [](const QString& e) {
        ShowError(QStringLiteral("商品情報を印刷できませんでした。"), e);
    };
    if (Status s = products::fillProductPrint(m_store); !s)
        return fail(s.error);
    PrintCategory = m_cat->currentText();
    const report::Definition def = products::productReport(PrintCategory, QDate::currentDate());
    // The report reads the list itself; the print copy holds the same rows.
    const auto rows = work::readFields(m_store, "w商品マスタ", report::boundFields(def));
    if (!rows)
        return fail(rows.error());
    emit printoutReady({QStringLiteral("商品情報"), report::layout(def, rows.value), {}, {}});
}
