#pragma once

#include "history/HistoryDialogs.h"
#include "sheet/CountProgress.h"

#include <QDialog>
#include <QTimer>

class CountNotices;
class DateBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableView;
class QTableWidget;
class RowsModel;

// The windows of a count in progress: how far it has come, and its entries
// with undo. They stay open beside the sheet and follow new entries.
namespace history {

// Who is counting, asked when an entry is written.
using CounterName = std::function<QString()>;

class ProgressDialog : public QDialog {
    Q_OBJECT
  public:
    ProgressDialog(Store& store, CountNotices* notices, const QDate& date, const QString& category,
                   CounterName counter, Printer printer, QWidget* parent = nullptr);
    void refresh();

  private:
    void recordZero();
    Store& m_store;
    CountNotices* m_notices;
    CounterName m_counter;
    Printer m_printer;
    DateBox* m_date;
    QComboBox* m_category;
    QTableWidget* m_shelves;
    QTableWidget* m_categories;
    QLabel* m_total;
    QTableView* m_list;
    RowsModel* m_listModel;
    Rows m_uncounted;
    QTimer m_follow;
};

class EntriesDialog : public QDialog {
    Q_OBJECT
  public:
    EntriesDialog(Store& store, CountNotices* notices, const QDate& date, CounterName counter,
                  QWidget* parent = nullptr);
    void refresh();

  private:
    void showEntries(); // the read entries through the filters
    void undo();
    Store& m_store;
    CountNotices* m_notices;
    CounterName m_counter;
    DateBox* m_date;
    QLineEdit* m_product;
    QComboBox* m_who;
    QComboBox* m_kind;
    QTableView* m_grid;
    RowsModel* m_model;
    QLabel* m_said;
    QVector<sheet::CountEntry> m_entries, m_shown;
    QTimer m_follow;
};

} // namespace history
