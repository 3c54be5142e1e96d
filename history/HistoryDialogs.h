#pragma once

#include "exchange/Workbook.h"
#include "history/HistoryOps.h"
#include "report/Report.h"

#include <QDialog>
#include <QImage>
#include <functional>
#include <optional>

class DateBox;
class QChartView;
class QHBoxLayout;
class QLabel;
class QComboBox;
class QTableWidget;
class QTreeWidget;

// The windows of the stock over time: the saved sheets, the valuation summary
// of a date and the comparison of two counts, with their charts.
namespace history {

// Shows laid-out pages in the print preview (the main window's).
using Printer = std::function<void(const QVector<report::Page>&, const QString& title)>;

// The list of saved sheets; the chosen one's date and category, or nothing.
std::optional<QPair<QDate, QString>> chooseSavedSheet(QWidget* parent, Store& store);

class SummaryDialog : public QDialog {
    Q_OBJECT
  public:
    SummaryDialog(Store& store, const QDate& date, Printer printer, QWidget* parent = nullptr);

  private:
    void refresh();
    Store& m_store;
    Printer m_printer;
    DateBox* m_date;
    QTableWidget* m_grid;
    QChartView* m_chart;
    Summary m_summary;
};

class CompareDialog : public QDialog {
    Q_OBJECT
  public:
    CompareDialog(Store& store, const QStringList& categories, const QDate& first,
                  const QDate& second, Printer printer, QWidget* parent = nullptr);

  private:
    void refresh();
    Store& m_store;
    Printer m_printer;
    QComboBox* m_category;
    DateBox* m_dates[2];
    QTableWidget* m_grid;
    QChartView* m_chart;
    Comparison m_comparison;
};

// Records to a CSV or workbook file the user names; the label says where.
void writeCsv(QWidget* parent, QLabel* said, const QStringList& nameParts,
              const exchange::Records& records);
// 印刷, CSV出力 (object names prefix + 印刷, prefix + CSV出力), what the last
// export did, 閉じる.
QHBoxLayout* buttonRow(QDialog* parent, const QString& prefix, QLabel* said,
                       const std::function<void()>& print, const std::function<void()>& csv);

// A chart as a picture below the last rows of the pages (on a page of its own
// when it does not fit).
void appendPicture(QVector<report::Page>& pages, const report::Definition& def,
                   const QImage& picture);
// How wide appendPicture prints a chart on the report's page, in points.
double pictureWidthPt(const report::Definition& def);
// The chart as a picture for the printed page, laid out for the page's
// proportions (3:2) at twice the resolution, its labels at least 8 pt once
// printed printedWidthPt wide; smallestPt receives the smallest label size.
QImage chartImage(QChartView* view, double printedWidthPt, double* smallestPt = nullptr);

} // namespace history
