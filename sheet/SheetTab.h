#pragma once

#include "sheet/Scan.h"
#include "sheet/SheetOps.h"
#include "sheet/SheetReport.h"
#include "work/RefModels.h"
#include "work/WorkResets.h"

#include <QHash>
#include <QSet>
#include <QWidget>
#include <functional>

class CountNotices;
class QComboBox;
class QHBoxLayout;
class QLineEdit;
class QLabel;
class QProgressBar;
class ScanPanel;
class SheetHeading;
class QPushButton;
class DateBox;
class NumberBox;
class TwoPaneGrid;
class WorkTableModel;

// The tab "在庫表": one dated inventory sheet being counted.
class SheetTab : public QWidget {
    Q_OBJECT
  public:
    SheetTab(Store& store, const RefModels& refs, QWidget* parent = nullptr);

    // Resets the tab to a blank sheet dated today; a failure is reported and
    // leaves the tab as it was.
    void Clear在庫表();
    // True when there are no unsaved edits or the user agrees to lose them.
    bool confirmDiscard();
    // The sheet as its heading names it: the date and, when chosen, the category.
    QString sheetHeading() const;
    void Read在庫表();
    void Entry在庫表();
    void Delete在庫表();
    void LineDelete在庫表();
    // Closes the saved count of the date against change, and reopens it.
    void close在庫表();
    void reopen在庫表();
    void Read商品マスタto在庫表();
    void Calc明細();
    // The sheet's named lines to a CSV file the user names.
    void exportCsv();
    // The sheet report in its three forms, headed as the sheet shows.
    void print();
    // Quantities from a CSV file set on the sheet, after a preview.
    void importCsv();
    // Loads the saved sheet of a date and category (asking first when the
    // sheet on screen has unsaved edits).
    void loadSaved(const QDate& date, const QString& category);

    // The category names to offer; with keepChoice the chosen one stays.
    void setNameLists(const resets::CombLists& lists, bool keepChoice);
    // The heading of the sheet report: date, category and total as shown.
    sheet::PrintHeading printHeading() const;
    // What a file of this sheet is named by: 在庫表, the date (today without one), the category.
    QStringList fileNameParts() const;
    WorkTableModel* model() const { return m_model; }
    // The counter's name as cmb担当 shows it.
    QString counter() const;
    // Heading texts of the last sheet report.
    QString PrintDate, PrintCategory, PrintTotal;
    // Adds the scans of codes that were unknown and now have a product.
    void countRegistered();
    // Changes to saved counts as they happen (this PC's and, on a server, others').
    void setNotices(CountNotices* notices);
    // Enter after a quantity goes on to the next line's name: a line in three keys.
    void setCountByLine(bool on) { m_countByLine = on; }

  signals:
    // A reset read the category and unit names for the selectors.
    void namesRead(const resets::CombLists& lists);
    // A name entered the code master: every list of names is out of date.
    void namesChanged();
    // The sheet report laid out, to show in the print preview.
    void printoutReady(const report::Printout& printout);
    void hintRequested(const QString& ctlName);
    // The user asked to register a scanned code that no product has.
    void registerCodeRequested(const QString& code);
    // One line on what an action did, for the status bar.
    void statusMessage(const QString& text);
    // The counter's name was chosen or typed.
    void counterChanged(const QString& name);
    // The saved sheets at a glance (the chosen one is loaded with loadSaved),
    // the valuation summary of a date, the comparison of two dates in the
    // sheet's categories: windows of the stock over time.
    void savedSheetsRequested();
    void summaryRequested(const QDate& date);
    // The 棚卸表 of a date, for the books.
    void inventoryRequested(const QDate& date);
    void comparisonRequested(const QDate& first, const QDate& second,
                             const QStringList& categories);
    // The progress and the entries of the sheet's date.
    void progressRequested(const QDate& date, const QString& category);
    void historyRequested(const QDate& date);
    void phonesRequested(const QDate& date, const QString& category);

  private:
    void setUpCounting();
    void keepCounter();
    void showProper();
    bool countScan(const QString& code, qint64 count);
    // A scan counted straight into the saved count, then shown.
    bool countDirect(const QString& code, qint64 count);
    void showCounted(qint64 seq, const QString& code, const QString& name, qint64 quantity,
                     const QString& said);
    // The saved count of day changed (here or on another PC).
    void recorded(const QString& day);
    // Reads the saved count again where the user is, when nothing unsaved is lost.
    void rereadQuietly();
    void announce();
    Status resetSheet();
    void clearClicked();
    void afterEdit(int row, int column);
    QVariant otherCategory(int row, int role) const;
    bool enterKey(const QModelIndex& index);
    bool requireDate();
    void toFirstLine();
    void refreshGrid();
    void setProgress(int value);
    void markSavedDates();
    // Reads the saved sheet of a date and category, without asking; the date
    // and category boxes change only when it was read.
    void loadSheet(const QDate& date, const QString& category);
    // Refuses a change of a closed date with a message naming it.
    bool refuseClosed();
    void showClosed();
    // Re-reads which names on the sheet no product has.
    void findNewNames();
    // The question before a save; false when the user declined.
    bool hasUnsavedWork() const;

    Store& m_store;
    RefModels m_refs;
    WorkTableModel* m_model;
    TwoPaneGrid* m_grid;
    DateBox* m_date;
    QComboBox* m_category;
    NumberBox* m_total;
    QProgressBar* m_bar;
    bool m_dirty = false;       // a cell was committed since the last load, save, fill or reset
    sheet::LoadedFrom m_loaded; // the saved sheets on screen; none for a new sheet
    QSet<QString> m_newNames;   // names on the sheet that no product has yet
    // Lines whose look-up could not reach the server: line -> the column
    // typed and its text then (a line retyped or rebuilt since is no longer one).
    QHash<qint64, QPair<int, QString>> m_pendingLookUps;
    bool pendingLookUp(int row) const;
    // The cell the grid just wrote through writeCell, for afterEdit, and the
    // sheet's total kept as a running figure (read whole on load and reset).
    std::optional<sheet::CellWritten> m_written;
    Currency m_sum;
    void showTotal();
    bool lookUpPending();
    SheetHeading* m_heading;
    ScanPanel* m_scanPanel;
    bool m_countByLine = false;
    CountNotices* m_notices = nullptr;
    // Codes and names a count import set since the sheet was read or saved:
    // their entries are 取込 until a count is typed over them.
    QSet<QString> m_imported;
};
