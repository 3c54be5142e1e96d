#include "history/HistoryDialogs.h"

#include "exchange/CsvDialogs.h"
#include "history/HistoryReport.h"
#include "msg/Msg.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDateTimeAxis>
#include <QDialogButtonBox>
#include <QDir>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScatterSeries>
#include <QTableWidget>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

namespace history {

namespace {

QString yen(const Currency& c) {
    return QLocale().toString(qint64(std::llround(c.toDouble())));
}
QString number(qint64 v) {
    return QLocale().toString(v);
}

// Fills a read-only table; the last row (the totals) in bold.
void fill(QTableWidget* t, const QStringList& headers, const QVector<QStringList>& rows,
          int leftColumns, int stretch) {
    t->clear();
    t->setColumnCount(int(headers.size()));
    t->setHorizontalHeaderLabels(headers);
    t->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < headers.size(); ++c) {
            auto* item = new QTableWidgetItem(rows[r].value(c));
            item->setTextAlignment(Qt::Alignment(c < leftColumns ? Qt::AlignLeft : Qt::AlignRight) |
                                   Qt::AlignVCenter);
            if (r == rows.size() - 1) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            t->setItem(r, c, item);
        }
    // Figures as wide as they need; the name takes what is left.
    for (int c = 0; c < headers.size(); ++c)
        t->horizontalHeader()->setSectionResizeMode(
            c, c == stretch ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
}

QTableWidget* table(QWidget* parent, const char* name) {
    auto* t = new QTableWidget(parent);
    t->setObjectName(name);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->hide();
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
    t->horizontalHeader()->setStretchLastSection(false);
    return t;
}

QChartView* chartView(QWidget* parent, const char* name) {
    auto* v = new QChartView(parent);
    v->setObjectName(name);
    v->setRenderHint(QPainter::Antialiasing);
    v->setMinimumSize(360, 260);
    return v;
}

} // namespace

QImage chartImage(QChartView* view, double printedWidthPt, double* smallestPt) {
    QChart* chart = view->chart();
    const QSizeF shown = chart->size();
    const QSizeF paper(900, 600);
    // Labels and title sized for the page: at least 8 pt once the chart is
    // scaled to the printed width.
    const double ptPerPixel = printedWidthPt / paper.width();
    const auto pixels = [&](double pt) { return int(std::ceil(pt / ptPerPixel)); };
    QList<QPair<QAbstractAxis*, QFont>> kept;
    const QFont title = chart->titleFont();
    QFont big = title;
    big.setPixelSize(pixels(11));
    chart->setTitleFont(big);
    int smallest = big.pixelSize();
    for (QAbstractAxis* axis : chart->axes()) {
        kept.append({axis, axis->labelsFont()});
        QFont f = axis->labelsFont();
        f.setPixelSize(pixels(8.5));
        axis->setLabelsFont(f);
        smallest = std::min(smallest, f.pixelSize());
    }
    if (smallestPt)
        *smallestPt = smallest * ptPerPixel;
    chart->resize(paper);
    QImage img((paper * 2).toSize(), QImage::Format_ARGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    view->scene()->render(&p, QRectF(QPointF(0, 0), paper * 2), chart->sceneBoundingRect());
    p.end();
    chart->resize(shown);
    chart->setTitleFont(title);
    for (const auto& [axis, font] : kept)
        axis->setLabelsFont(font);
    return img;
}

namespace {

QChart* newChart(const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    // Figures with thousands separators, as the tables show them.
    chart->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    chart->setLocalizeNumbers(true);
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(4, 4, 4, 4));
    return chart;
}

QValueAxis* yenAxis() {
    auto* axis = new QValueAxis;
    axis->setLabelFormat("%.0f円");
    return axis;
}

void setChart(QChartView* view, QChart* chart) {
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

QVector<QDate> datesOf(Store& store) {
    return savedDates(store).value;
}

} // namespace

void writeCsv(QWidget* parent, QLabel* said, const QStringList& nameParts,
              const exchange::Records& records) {
    const QString path = exchange::exportRecords(parent, nameParts, records);
    if (!path.isEmpty())
        said->setText(QStringLiteral("%1 に書き出しました").arg(QDir::toNativeSeparators(path)));
}

// 印刷, CSV出力, what the last export did, 閉じる.
QHBoxLayout* buttonRow(QDialog* parent, const QString& prefix, QLabel* said,
                       const std::function<void()>& print, const std::function<void()>& csv) {
    auto* row = new QHBoxLayout;
    QPushButton* p = makeButton(parent, prefix + "印刷", "印刷");
    QPushButton* c = makeButton(parent, prefix + "CSV出力", "CSV出力");
    QPushButton* close = makeButton(parent, prefix + "閉じる", "閉じる");
    row->addWidget(p);
    row->addWidget(c);
    row->addWidget(said, 1);
    row->addWidget(close);
    QObject::connect(p, &QPushButton::clicked, parent, print);
    QObject::connect(c, &QPushButton::clicked, parent, csv);
    QObject::connect(close, &QPushButton::clicked, parent, &QDialog::reject);
    return row;
}

double pictureWidthPt(const report::Definition& def) {
    return (def.paperWidth - def.marginLeft - def.marginRight) * 3 / 4 / 20.0; // twips → pt
}

void appendPicture(QVector<report::Page>& pages, const report::Definition& def,
                   const QImage& picture) {
    const int width = (def.paperWidth - def.marginLeft - def.marginRight) * 3 / 4;
    const int height = width * 2 / 3;
    const int bottom = def.paperHeight - def.marginBottom - def.pageFooter.height;
    int top = def.marginTop;
    for (const report::Placed& p : pages.last().items)
        top = std::max(top, p.rect.bottom());
    top += 300;
    if (top + height > bottom) {
        report::Page page;
        page.number = int(pages.size()) + 1;
        pages << page;
        top = def.marginTop;
    }
    report::Placed p{"Chart",
                     report::ItemKind::Picture,
                     QRect(def.marginLeft + 200, top, width, height),
                     QString(),
                     Qt::AlignLeft,
                     10,
                     false,
                     picture};
    pages.last().items << p;
}

std::optional<QPair<QDate, QString>> chooseSavedSheet(QWidget* parent, Store& store) {
    const Result<QVector<SavedSheet>> sheets = savedSheets(store);
    if (!sheets) {
        ShowError(QStringLiteral("在庫表の一覧を読めませんでした。"), sheets.error());
        return std::nullopt;
    }
    QDialog dlg(parent);
    dlg.setObjectName("dlg在庫表一覧");
    dlg.setWindowTitle(QStringLiteral("保存済みの在庫表"));
    auto* list = new QTreeWidget(&dlg);
    list->setObjectName("lst在庫表一覧");
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels({QStringLiteral("日付"), QStringLiteral("商品区分"),
                           QStringLiteral("行数"), QStringLiteral("合計金額"),
                           QStringLiteral("確定")});
    for (const SavedSheet& s : sheets.value) {
        // A date's row loads every category of it, as 読込 without a category does.
        auto* item = new QTreeWidgetItem(
            list, {s.wholeDate ? dateText(s.date) : QString(),
                   s.wholeDate ? QStringLiteral("（全区分）") : s.category, number(s.lines),
                   yen(s.total), s.wholeDate && s.closed ? QStringLiteral("確定済み") : QString()});
        item->setData(0, Qt::UserRole, s.date);
        item->setData(1, Qt::UserRole, s.category);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        if (s.wholeDate) {
            QFont bold = item->font(0);
            bold.setBold(true);
            for (int c = 0; c < 5; ++c)
                item->setFont(c, bold);
        }
    }
    for (int c = 0; c < 5; ++c)
        list->resizeColumnToContents(c);
    // Years of the saved sheets, newest first: the list shows one year or all.
    auto* year = new QComboBox(&dlg);
    year->setObjectName("cmb一覧年");
    year->addItem(QStringLiteral("（すべての年）"), 0);
    for (const SavedSheet& s : sheets.value)
        if (year->findData(s.date.year()) < 0)
            year->addItem(QStringLiteral("%1年").arg(s.date.year()), s.date.year());
    QObject::connect(year, &QComboBox::currentIndexChanged, &dlg, [list, year] {
        const int y = year->currentData().toInt();
        QTreeWidgetItem* first = nullptr;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list->topLevelItem(i);
            const bool shown = y == 0 || item->data(0, Qt::UserRole).toDate().year() == y;
            item->setHidden(!shown);
            if (shown && !first)
                first = item;
        }
        list->setCurrentItem(first);
    });
    if (list->topLevelItemCount())
        list->setCurrentItem(list->topLevelItem(0));
    auto* buttons = new QDialogButtonBox(&dlg);
    QPushButton* load = buttons->addButton(QStringLiteral("読込"), QDialogButtonBox::AcceptRole);
    load->setObjectName("cmd一覧読込");
    load->setEnabled(list->topLevelItemCount() > 0);
    buttons->addButton(QStringLiteral("閉じる"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    QObject::connect(list, &QTreeWidget::itemActivated, &dlg, &QDialog::accept);
    auto* v = new QVBoxLayout(&dlg);
    auto* head = new QHBoxLayout;
    head->addWidget(new QLabel(QStringLiteral("新しい順"), &dlg));
    head->addStretch(1);
    head->addWidget(makeLabel(&dlg, "Label一覧年", "年"));
    head->addWidget(year);
    v->addLayout(head);
    v->addWidget(list, 1);
    v->addWidget(buttons);
    dlg.resize(620, 520);
    list->setFocus();
    if (dlg.exec() != QDialog::Accepted || !list->currentItem())
        return std::nullopt;
    return QPair<QDate, QString>{list->currentItem()->data(0, Qt::UserRole).toDate(),
                                 list->currentItem()->data(1, Qt::UserRole).toString()};
}

SummaryDialog::SummaryDialog(Store& store, const QDate& date, Printer printer, QWidget* parent)
    : QDialog(parent), m_store(store), m_printer(std::move(printer)) {
    setObjectName("dlg棚卸集計");
    setWindowTitle(QStringLiteral("棚卸集計"));
    m_date = new DateBox(this);
    m_date->setObjectName("dt集計日付");
    m_date->setMarkedDates(datesOf(store));
    m_date->setValue(date);
    m_grid = table(this, "Grid棚卸集計");
    m_chart = chartView(this, "chart棚卸集計");
    auto* top = new QHBoxLayout;
    top->addWidget(makeLabel(this, "Label集計日付", "実施日"));
    top->addWidget(m_date);
    top->addStretch(1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_grid, 1);
    middle->addWidget(m_chart, 1);
    auto* said = new QLabel(this);
    const auto print = [this] {
        const report::Definition def = summaryReport(m_date->value());
        QVector<report::Page> pages = report::layout(def, summaryRows(m_summary));
        appendPicture(pages, def, chartImage(m_chart, pictureWidthPt(def)));
        m_printer(pages, QStringLiteral("棚卸集計表"));
    };
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addLayout(middle, 1);
    v->addLayout(buttonRow(this, "cmd集計", said, print, [this, said] {
        writeCsv(this, said, {QStringLiteral("棚卸集計"), m_date->value().toString(Qt::ISODate)},
                 summaryRecords(m_summary));
    }));
    connect(m_date, &QDateEdit::dateChanged, this, &SummaryDialog::refresh);
    fitToScreen(this, QSize(1000, 560));
    refresh();
}

void SummaryDialog::refresh() {
    const Result<Summary> s =
        m_date->isNull() ? Result<Summary>{} : summary(m_store, m_date->value());
    if (!s) {
        ShowError(QStringLiteral("集計できませんでした。"), s.error());
        return;
    }
    m_summary = s.value;
    QVector<QStringList> rows;
    for (const CategoryTotal& c : m_summary.categories)
        rows << QStringList{categoryName(c.category), number(c.lines), number(c.quantity),
                            yen(c.amount)};
    rows << QStringList{QStringLiteral("合計"), number(m_summary.total.lines),
                        number(m_summary.total.quantity), yen(m_summary.total.amount)};
    fill(m_grid,
         {QStringLiteral("商品区分"), QStringLiteral("行数"), QStringLiteral("数量"),
          QStringLiteral("金額")},
         rows, 1, 0);
    if (m_summary.categories.isEmpty()) {
        setChart(m_chart, newChart(QStringLiteral("この日の在庫表はありません")));
        return;
    }
    QChart* chart = newChart(QStringLiteral("商品区分別の在庫金額"));
    auto* set = new QBarSet(QStringLiteral("金額"));
    set->setColor(QColor(0x1f, 0x6f, 0x6b));
    QStringList names;
    // Bars across, the first category at the top, so that every name fits.
    for (auto c = m_summary.categories.crbegin(); c != m_summary.categories.crend(); ++c) {
        *set << c->amount.toDouble();
        names << categoryName(c->category);
    }
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    series->setBarWidth(0.7);
    chart->addSeries(series);
    auto* categories = new QBarCategoryAxis;
    categories->append(names);
    categories->setTruncateLabels(false);
    QFont small = categories->labelsFont();
    small.setPointSizeF(8);
    categories->setLabelsFont(small);
    chart->addAxis(categories, Qt::AlignLeft);
    series->attachAxis(categories);
    QValueAxis* amount = yenAxis();
    chart->addAxis(amount, Qt::AlignBottom);
    series->attachAxis(amount);
    amount->applyNiceNumbers();
    setChart(m_chart, chart);
}

CompareDialog::CompareDialog(Store& store, const QStringList& categories, const QDate& first,
                             const QDate& second, Printer printer, QWidget* parent)
    : QDialog(parent), m_store(store), m_printer(std::move(printer)) {
    setObjectName("dlg在庫比較");
    setWindowTitle(QStringLiteral("在庫比較"));
    m_category = new QComboBox(this);
    m_category->setObjectName("cmb比較区分");
    m_category->addItem(QStringLiteral("（すべて）"), QString());
    for (const QString& c : categories)
        m_category->addItem(c, c);
    const QVector<QDate> dates = datesOf(store);
    auto* top = new QHBoxLayout;
    top->addWidget(makeLabel(this, "Label比較区分", "商品区分"));
    top->addWidget(m_category);
    top->addSpacing(16);
    top->addWidget(makeLabel(this, "Label比較日付", "比べる日"));
    for (int i = 0; i < 2; ++i) {
        m_dates[i] = new DateBox(this);
        m_dates[i]->setObjectName(i == 0 ? "dt比較1" : "dt比較2");
        m_dates[i]->setMarkedDates(dates);
        m_dates[i]->setValue(i == 0 ? first : second);
        top->addWidget(m_dates[i]);
        if (i == 0)
            top->addWidget(new QLabel(QStringLiteral("と"), this));
        connect(m_dates[i], &QDateEdit::dateChanged, this, &CompareDialog::refresh);
    }
    top->addStretch(1);
    m_grid = table(this, "Grid在庫比較");
    m_chart = chartView(this, "chart在庫推移");
    m_chart->setMinimumHeight(220);
    auto* said = new QLabel(this);
    const auto print = [this] {
        const report::Definition def = compareReport(m_category->currentData().toString(),
                                                     m_dates[0]->value(), m_dates[1]->value());
        QVector<report::Page> pages = report::layout(def, compareRows(m_comparison));
        appendPicture(pages, def, chartImage(m_chart, pictureWidthPt(def)));
        m_printer(pages, QStringLiteral("在庫比較表"));
    };
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addWidget(m_grid, 3);
    v->addWidget(m_chart, 2);
    v->addLayout(buttonRow(this, "cmd比較", said, print, [this, said] {
        writeCsv(this, said,
                 {QStringLiteral("在庫比較"), m_dates[0]->value().toString(Qt::ISODate),
                  m_dates[1]->value().toString(Qt::ISODate), m_category->currentData().toString()},
                 compareRecords(m_comparison, m_dates[0]->value(), m_dates[1]->value()));
    }));
    connect(m_category, &QComboBox::currentIndexChanged, this, &CompareDialog::refresh);
    fitToScreen(this, QSize(1100, 720));
    refresh();
}

void CompareDialog::refresh() {
    const QString category = m_category->currentData().toString();
    const Result<Comparison> c =
        compare(m_store, category, m_dates[0]->value(), m_dates[1]->value());
    const auto points = history::valueOverTime(m_store, category);
    if (!c || !points) {
        ShowError(QStringLiteral("比較できませんでした。"), (!c ? c.status : points.status).error);
        return;
    }
    m_comparison = c.value;
    const auto q = [](const std::optional<qint64>& v) { return v ? number(*v) : QString(); };
    const auto m = [](const std::optional<Currency>& v) { return v ? yen(*v) : QString(); };
    QVector<QStringList> rows;
    for (const Compared& p : m_comparison.products)
        rows << QStringList{p.code,
                            p.name,
                            q(p.quantity[0]),
                            q(p.quantity[1]),
                            number(p.quantityChange()),
                            m(p.amount[0]),
                            m(p.amount[1]),
                            yen(p.amountChange())};
    rows << QStringList{QString(),
                        QStringLiteral("合計"),
                        number(m_comparison.quantity[0]),
                        number(m_comparison.quantity[1]),
                        number(m_comparison.quantity[1] - m_comparison.quantity[0]),
                        yen(m_comparison.amount[0]),
                        yen(m_comparison.amount[1]),
                        yen(m_comparison.amount[1] - m_comparison.amount[0])};
    const QString a = m_dates[0]->value().toString("MM/dd"),
                  b = m_dates[1]->value().toString("MM/dd");
    fill(m_grid,
         {QStringLiteral("コード"), QStringLiteral("品名"), "数量 " + a, "数量 " + b,
          QStringLiteral("数量差"), "金額 " + a, "金額 " + b, QStringLiteral("差額")},
         rows, 2, 1);
    if (points.value.isEmpty()) {
        setChart(m_chart, newChart(QStringLiteral("保存済みの在庫表はありません")));
        return;
    }
    // The stock value of every saved date, each a point, the two compared ones marked.
    QChart* chart = newChart(QStringLiteral("在庫金額の推移（%1）")
                                 .arg(category.isEmpty() ? QStringLiteral("全区分") : category));
    auto* line = new QLineSeries;
    line->setColor(QColor(0x1f, 0x6f, 0x6b));
    line->setPointsVisible(true);
    // A point tells its date and value when the mouse rests on it.
    connect(line, &QLineSeries::hovered, this, [](const QPointF& p, bool on) {
        if (on)
            QToolTip::showText(
                QCursor::pos(),
                QStringLiteral("%1  %2円")
                    .arg(QDateTime::fromMSecsSinceEpoch(qint64(p.x())).toString("yyyy/MM/dd"))
                    .arg(QLocale().toString(qint64(std::llround(p.y())))));
        else
            QToolTip::hideText();
    });
    auto* marks = new QScatterSeries;
    marks->setColor(QColor(0xd8, 0x94, 0x34));
    marks->setMarkerSize(10);
    for (const auto& [date, value] : points.value) {
        const qreal x = QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
        line->append(x, value.toDouble());
        if (date == m_dates[0]->value() || date == m_dates[1]->value())
            marks->append(x, value.toDouble());
    }
    chart->addSeries(line);
    chart->addSeries(marks);
    auto* x = new QDateTimeAxis;
    x->setFormat("yyyy/MM/dd");
    chart->addAxis(x, Qt::AlignBottom);
    QValueAxis* y = yenAxis();
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s :
         {static_cast<QAbstractSeries*>(line), static_cast<QAbstractSeries*>(marks)}) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
    y->applyNiceNumbers();
    setChart(m_chart, chart);
}

} // namespace history
