#pragma once

#include "books/BooksReport.h"

#include <QDialog>
#include <QGroupBox>
#include <functional>

class DateBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The windows of the books: the settings on the settings tab, and the 棚卸表
// of a date with its exports and the journal.
namespace books {

// grp帳簿: the company the lists are made out to, the valuation method, how
// the books and the prices hold tax, the rounding of line amounts.
class BooksPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit BooksPanel(Store& store, QWidget* parent = nullptr);
    // Shows what is stored (and makes the ledger's rounding follow it).
    void refresh();

  signals:
    void statusMessage(const QString& text);

  private:
    void saveSettings(QComboBox* changed);
    void saveCompany();
    void explainMethod();
    Store& m_store;
    QLineEdit *m_company, *m_address;
    QComboBox *m_method, *m_accounting, *m_priceTax, *m_rounding;
    QLabel* m_methodNote;
    Settings m_shown;
};

// Shows laid-out pages in the print preview (the main window's).
using Printer = std::function<void(const report::Printout&)>;

// dlg棚卸表: the 棚卸表 of a date, printed, written as CSV or workbook, and its
// closing-stock journal for the accounting program.
class InventoryDialog : public QDialog {
    Q_OBJECT
  public:
    InventoryDialog(Store& store, const QDate& date, Printer printer, QWidget* parent = nullptr);

  signals:
    // The saved amounts of a date were computed again.
    void recomputed(const QDate& date);

  private:
    void refresh();
    void writeJournal();
    void recomputeDate();
    Store& m_store;
    Printer m_printer;
    DateBox* m_date;
    QLabel* m_state;
    QTableWidget* m_grid;
    QComboBox* m_program;
    QCheckBox* m_reverse;
    QPushButton *m_journal, *m_recompute;
    QLabel* m_said;
    Inventory m_inventory;
};

} // namespace books
