#include "history/CountDialogs.h"

#include "history/HistoryReport.h"
#include "msg/Msg.h"
#include "sheet/CountLedger.h"
#include "store/Notices.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/RowsModel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace history {

namespace {
const QString AllCategories = QStringLiteral("（すべて）");
const QString Everyone = QStringLiteral("（全員）");

QString shownTime(const QString& iso) {
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODate);
    return t.isValid() ? t.toString("MM/dd hh:mm:ss") : QString();
}

QString count(int n) {
    return QLocale(QLocale::Japanese).toString(n);
}

void fillGroups(QTableWidget* t, const QVector<sheet::ProgressRow>& rows, const QString& none) {
    t->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        const sheet::ProgressRow& r = rows[i];
        const QStringList cells{r.group.isEmpty() ? none : r.group,
                                count(r.products),
                                count(r.counted),
                                count(r.uncounted()),
                                r.counters.join("、"),
                                shownTime(r.lastEntry)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment((c >= 1 && c <= 3 ? Qt::AlignRight : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
            // A group with nothing left to count is done.
            if (r.uncounted() == 0 && r.products > 0)
                item->setForeground(QColor(0, 110, 0));
            t->setItem(i, c, item);
        }
    }
}

QTableWidget* groupTable(QWidget* parent, const QString& name, const QString& first) {
    auto* t = new QTableWidget(0, 6, parent);
    t->setObjectName(name);
    t->setHorizontalHeaderLabels({first, "商品", "棚卸済", "未棚卸", "担当", "最終記録"});
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

// Bursts of entries (a scanner, a phone) are shown once they pause.
void follow(QObject* owner, CountNotices* notices, QTimer& timer, DateBox* date) {
    timer.setSingleShot(true);
    timer.setInterval(250);
    if (!notices)
        return;
    QObject::connect(notices, &CountNotices::recorded, owner, [&timer, date](const QString& day) {
        if (day.isEmpty() || day == dateKey(date->value()))
            timer.start();
    });
}
} // namespace

ProgressDialog::ProgressDialog(Store& store, CountNotices* notices, const QDate& date,
                               const QString& category, CounterName counter, Printer printer,
                               QWidget* parent)
    : QDialog(parent), m_store(store), m_notices(notices), m_counter(std::move(counter)),
      m_printer(std::move(printer)) {
    setObjectName("dlg棚卸状況");
    setWindowTitle(QStringLiteral("棚卸の進み具合"));
    m_date = new DateBox(this);
    m_date->setObjectName("dt棚卸状況");
    m_date->setValue(date.isValid() ? date : QDate::currentDate());
    m_category = new QComboBox(this);
    m_category->setObjectName("cmb棚卸状況区分");
    m_category->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_category->addItem(AllCategories);
    if (const auto all = sheet::progressOf(store, m_date->value(), QString()))
        for (const sheet::ProgressRow& r : all.value.categories)
            if (!r.group.isEmpty())
                m_category->addItem(r.group);
    m_category->setCurrentIndex(std::max(0, m_category->findText(category)));
    auto* top = new QHBoxLayout;
    top->addWidget(makeLabel(this, "Label棚卸状況日付", "実施日"));
    top->addWidget(m_date);
    top->addSpacing(12);
    top->addWidget(makeLabel(this, "Label棚卸状況区分", "商品区分"));
    top->addWidget(m_category);
    top->addStretch(1);
    m_total = makeLabel(this, "lbl棚卸状況合計", QString());
    m_total->setStyleSheet("QLabel { font-weight: bold; }");
    top->addWidget(m_total);

    m_shelves = groupTable(this, "grd棚番", QStringLiteral("棚番"));
    m_categories = groupTable(this, "grd区分", QStringLiteral("商品区分"));
    auto* tabs = new QTabWidget(this);
    tabs->addTab(m_shelves, QStringLiteral("棚番ごと"));
    tabs->addTab(m_categories, QStringLiteral("商品区分ごと"));
    m_listModel =
        new RowsModel({"棚番", "コード", "品名", "商品区分"},
                      {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignLeft, Qt::AlignLeft}, this);
    m_list = rowsView(this, "lst未棚卸", m_listModel, {1000, 1700, 4500, 1800}, 2);
    QPushButton* zero = makeButton(this, "cmd未棚卸ゼロ", "未棚卸を 0 として記録");
    zero->setToolTip(QStringLiteral("まだ数えていない商品を、数量 0 と数えたことにします"));
    connect(zero, &QPushButton::clicked, this, &ProgressDialog::recordZero);
    auto* listHead = new QHBoxLayout;
    listHead->addWidget(makeLabel(this, "Label未棚卸", "未棚卸の商品（棚番順）"));
    listHead->addStretch(1);
    listHead->addWidget(zero);

    auto* said = makeLabel(this, "lbl棚卸状況出力", QString());
    const auto print = [this] {
        m_printer(report::layout(uncountedReport(m_date->value(), m_category->currentIndex() > 0
                                                                      ? m_category->currentText()
                                                                      : QString()),
                                 uncountedRows(m_uncounted)),
                  QStringLiteral("未棚卸一覧"));
    };
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addWidget(tabs, 2);
    v->addLayout(listHead);
    v->addWidget(m_list, 3);
    v->addLayout(buttonRow(this, "cmd棚卸状況", said, print, [this, said] {
        writeCsv(this, said, {QStringLiteral("未棚卸"), m_date->value().toString(Qt::ISODate)},
                 uncountedRecords(m_uncounted));
    }));
    resize(twips(this, 12000), twips(this, 9000));
    connect(m_date, &QDateEdit::dateChanged, this, &ProgressDialog::refresh);
    connect(m_category, &QComboBox::currentIndexChanged, this, &ProgressDialog::refresh);
    follow(this, notices, m_follow, m_date);
    connect(&m_follow, &QTimer::timeout, this, &ProgressDialog::refresh);
    refresh();
}

void ProgressDialog::refresh() {
    const QString category = m_category->currentIndex() > 0 ? m_category->currentText() : QString();
    const Result<sheet::CountProgress> p = sheet::progressOf(m_store, m_date->value(), category);
    const Result<Rows> list = sheet::uncountedProducts(m_store, m_date->value(), category);
    if (!p || !list) {
        m_total->setText(QStringLiteral("読めませんでした: ") + (p ? list.error() : p.error()));
        return;
    }
    fillGroups(m_shelves, p.value.shelves, QStringLiteral("棚番なし"));
    fillGroups(m_categories, p.value.categories, QStringLiteral("（区分なし）"));
    const sheet::ProgressRow& t = p.value.total;
    m_total->setText(QStringLiteral("%1 品中 %2 品 棚卸済（未棚卸 %3 品）")
                         .arg(count(t.products), count(t.counted), count(t.uncounted())));
    m_uncounted = list.value;
    QVector<QStringList> rows;
    rows.reserve(m_uncounted.size());
    for (const Row& r : m_uncounted)
        rows << QStringList{r[1].toString(), r[2].toString(), r[3].toString(), r[4].toString()};
    m_listModel->setRows(std::move(rows));
}

void ProgressDialog::recordZero() {
    if (m_uncounted.isEmpty()) {
        ShowMsg(MsgKind::その他, MsgCase::メッセージ, "未棚卸の商品はありません。");
        return;
    }
    const QString category = m_category->currentIndex() > 0 ? m_category->currentText() : QString();
    const QString what = QStringLiteral("%1 の未棚卸の商品 %2 品")
                             .arg(m_date->shownText(), count(int(m_uncounted.size())));
    if (ShowMsg(MsgKind::その他, MsgCase::未棚卸ゼロ確認, what) != True)
        return;
    const Result<int> n =
        sheet::recordUncountedZero(m_store, m_date->value(), category, m_counter());
    if (!n) {
        ShowError(QStringLiteral("未棚卸の商品を記録できませんでした。"), n.error());
        return;
    }
    if (m_notices)
        m_notices->announce(dateKey(m_date->value()));
    refresh();
}

EntriesDialog::EntriesDialog(Store& store, CountNotices* notices, const QDate& date,
                             CounterName counter, QWidget* parent)
    : QDialog(parent), m_store(store), m_notices(notices), m_counter(std::move(counter)) {
    setObjectName("dlg変更履歴");
    setWindowTitle(QStringLiteral("棚卸の記録"));
    m_date = new DateBox(this);
    m_date->setObjectName("dt変更履歴");
    m_date->setValue(date.isValid() ? date : QDate::currentDate());
    m_product = new QLineEdit(this);
    m_product->setObjectName("txt履歴品名");
    m_product->setPlaceholderText(QStringLiteral("品名・コード"));
    m_product->setClearButtonEnabled(true);
    m_who = new QComboBox(this);
    m_who->setObjectName("cmb履歴担当");
    m_who->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_who->setMinimumContentsLength(6);
    m_kind = new QComboBox(this);
    m_kind->setObjectName("cmb履歴種類");
    m_kind->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_kind->addItem(AllCategories);
    for (const QString& k :
         {sheet::entryKind::Typed, sheet::entryKind::Added, sheet::entryKind::Scanned,
          sheet::entryKind::Imported, sheet::entryKind::LineDeleted,
          sheet::entryKind::UncountedZero, sheet::entryKind::Undone})
        m_kind->addItem(k);
    auto* top = new QHBoxLayout;
    top->addWidget(makeLabel(this, "Label履歴日付", "実施日"));
    top->addWidget(m_date);
    top->addSpacing(12);
    top->addWidget(makeLabel(this, "Label履歴品名", "商品"));
    top->addWidget(m_product, 1);
    top->addWidget(makeLabel(this, "Label履歴担当", "担当"));
    top->addWidget(m_who);
    top->addWidget(makeLabel(this, "Label履歴種類", "種類"));
    top->addWidget(m_kind);
    m_model = new RowsModel({"日時", "担当", "端末", "種類", "棚番", "品名", "前 → 後"},
                            {Qt::AlignLeft, Qt::AlignLeft, Qt::AlignLeft, Qt::AlignLeft,
                             Qt::AlignLeft, Qt::AlignLeft, Qt::AlignRight},
                            this);
    m_grid = rowsView(this, "grd変更履歴", m_model, {1500, 1200, 1200, 1500, 900, 4000, 1300}, 5);
    QPushButton* undo = makeButton(this, "cmd記録取消", "この記録を取り消す");
    undo->setToolTip(
        QStringLiteral("選んだ記録の数量の変化を元に戻します（取消も記録に残ります）"));
    QPushButton* close = makeButton(this, "cmd変更履歴閉じる", "閉じる");
    m_said = makeLabel(this, "lbl変更履歴", QString());
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(undo);
    buttons->addWidget(m_said, 1);
    buttons->addWidget(close);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addWidget(m_grid, 1);
    v->addLayout(buttons);
    resize(twips(this, 13000), twips(this, 8000));
    connect(undo, &QPushButton::clicked, this, &EntriesDialog::undo);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_date, &QDateEdit::dateChanged, this, &EntriesDialog::refresh);
    connect(m_product, &QLineEdit::textChanged, this, &EntriesDialog::showEntries);
    connect(m_who, &QComboBox::currentIndexChanged, this, &EntriesDialog::showEntries);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &EntriesDialog::showEntries);
    follow(this, notices, m_follow, m_date);
    connect(&m_follow, &QTimer::timeout, this, &EntriesDialog::refresh);
    refresh();
}

void EntriesDialog::refresh() {
    const Result<QVector<sheet::CountEntry>> read = sheet::entriesOf(m_store, m_date->value());
    if (!read) {
        m_said->setText(QStringLiteral("読めませんでした: ") + read.error());
        return;
    }
    m_entries = read.value;
    // The counters of the date, the chosen one kept.
    const QString chosen = m_who->currentIndex() > 0 ? m_who->currentText() : QString();
    QStringList who;
    for (const sheet::CountEntry& e : m_entries)
        if (!e.counter.isEmpty() && !who.contains(e.counter))
            who << e.counter;
    who.sort();
    const QSignalBlocker quiet(m_who);
    m_who->clear();
    m_who->addItem(Everyone);
    m_who->addItems(who);
    m_who->setCurrentIndex(std::max(0, m_who->findText(chosen)));
    showEntries();
}

void EntriesDialog::showEntries() {
    const qint64 current =
        m_grid->currentIndex().isValid() ? m_shown.value(m_grid->currentIndex().row()).id : 0;
    sheet::EntryFilter f{m_product->text().trimmed(),
                         m_who->currentIndex() > 0 ? m_who->currentText() : QString(),
                         m_kind->currentIndex() > 0 ? m_kind->currentText() : QString()};
    m_shown.clear();
    QVector<QStringList> rows;
    QVector<bool> grey;
    const auto quantity = [](const QVariant& q) {
        return q.isNull() ? QStringLiteral("—")
                          : QLocale(QLocale::Japanese).toString(q.toLongLong());
    };
    int at = -1;
    for (const sheet::CountEntry& e : m_entries) {
        if (!f.matches(e))
            continue;
        if (e.id == current)
            at = int(m_shown.size());
        m_shown << e;
        rows << QStringList{shownTime(e.when),
                            e.counter,
                            e.terminal,
                            e.undone ? e.kind + QStringLiteral("（取消済）") : e.kind,
                            e.shelf,
                            e.name.isEmpty() ? e.code : e.name,
                            quantity(e.before) + QStringLiteral(" → ") + quantity(e.after)};
        grey << (e.undone || e.kind == sheet::entryKind::Undone);
    }
    m_model->setRows(std::move(rows), std::move(grey));
    if (at >= 0)
        m_grid->setCurrentIndex(m_model->index(at, 0));
    m_said->setText(QStringLiteral("%1 件").arg(count(int(m_shown.size()))));
}

void EntriesDialog::undo() {
    const QModelIndex i = m_grid->currentIndex();
    if (!i.isValid() || i.row() >= m_shown.size()) {
        ShowMsg(MsgKind::その他, MsgCase::メッセージ, "取り消す記録を選んでください。");
        return;
    }
    const sheet::CountEntry e = m_shown[i.row()];
    const auto q = [](const QVariant& v) {
        return v.isNull() ? QStringLiteral("—") : QString::number(v.toLongLong());
    };
    const QString what =
        QStringLiteral("%1 %2 の記録（%3 → %4）")
            .arg(shownTime(e.when), e.name.isEmpty() ? e.code : e.name, q(e.before), q(e.after));
    if (ShowMsg(MsgKind::その他, MsgCase::取消確認, what) != True)
        return;
    const Result<qint64> undone = sheet::undoEntry(m_store, e.id, m_counter());
    if (!undone) {
        ShowMsg(MsgKind::その他, MsgCase::メッセージ,
                QStringLiteral("記録を取り消せませんでした。") + undone.error());
        return;
    }
    if (m_notices)
        m_notices->announce(dateKey(m_date->value()));
    refresh();
    m_said->setText(QStringLiteral("%1 を取り消しました").arg(what));
}

} // namespace history
