#pragma once

#include "base/Version.h"
#include "hints/HintWindow.h"
#include "report/Report.h"
#include "store/Store.h"
#include "work/RefModels.h"
#include "work/WorkResets.h"

#include <QMainWindow>
#include <QPointer>

class HelpWindow;
#include <functional>
#include <memory>

class QTabWidget;
class QPrinter;
class CountNotices;
namespace phones {
class PhoneServer;
}
namespace books {
class BooksPanel;
}
class SheetTab;
class ProductTab;
class CodeTab;
class BackupPanel;
class ConnectionPanel;

// The main window: three tabs over the two databases.
class FrmStolva : public QMainWindow {
    Q_OBJECT
  public:
    static QString version() { return QStringLiteral(STOLVA_VERSION); }
    static QString caption() { return QStringLiteral("Stolva Ver ") + version(); }

    FrmStolva();
    ~FrmStolva() override;

    // The load handler: opens the databases in dataPath (the shared data on
    // `server` when one is given) and rebuilds the work tables. A failure is
    // returned with a message for the user.
    Status Form_Load(const QString& dataPath,
                     const std::optional<server::Address>& server = std::nullopt);

    void FormInit();
    // Fills the combo boxes and refreshes the reference lists' models.
    // After a reset: the selectors get the names with nothing chosen, and the
    // reference lists show their rebuilt tables.
    void showComb(const resets::CombLists& lists);
    // Re-reads every list of names after a master changed (the product
    // drop-down reads the ledger each time it opens).
    void refreshNames();
    void Clear在庫表();
    void Clear商品情報();
    void Clearコード表();
    void AllDelete();
    // Puts a backup in place of the data, after asking; every tab starts afresh.
    void restoreBackup(const QString& path);
    void showHint(const QString& ctlName);
    // The guide in Japanese, in a window beside the ledger.
    void showGuide();

    Store& store() { return m_store; }
    SheetTab* sheetTab() const { return m_sheet; }
    ProductTab* productTab() const { return m_products; }
    CodeTab* codeTab() const { return m_codes; }
    HintWindow* hintWindow() const { return m_hint; }
    const HintContext& hintContext() const { return m_hintContext; }

    // Shows laid-out report pages; the default is the print preview window.
    // Tests replace it.
    std::function<void(const QVector<report::Page>&, const QString& title)> previewPages;

  public slots:
    // One line on what an action did.
    void showStatus(const QString& text);

  protected:
    void closeEvent(QCloseEvent* e) override;
    bool event(QEvent* e) override;

  private:
    // Refills the selectors; with keepChoices each keeps what it shows.
    void showNames(const resets::CombLists& lists, bool keepChoices);
    // The print preview, with the report's other forms in its tool bar.
    void showPreview(const report::Printout& printout);
    // The closed counts of the last seven years, named in the questions
    // before the data is erased or replaced; empty when there are none.
    QString closedCountsNote();
    // Today's copy of the data, once a start has shown its window.
    void makeDailyCopy();
    bool m_dailyCopyDue = false;

    Store m_store;
    CountNotices* m_notices;
    phones::PhoneServer* m_phones = nullptr; // serving the phones' page, while asked to
    RefModels m_refs;
    QTabWidget* m_tabs;
    SheetTab* m_sheet;
    ProductTab* m_products;
    CodeTab* m_codes;
    ConnectionPanel* m_connection = nullptr;
    BackupPanel* m_backups;
    books::BooksPanel* m_books;
    QPointer<HintWindow> m_hint;
    QPointer<HelpWindow> m_guide;
    HintContext m_hintContext;
    std::unique_ptr<QPrinter> m_printer;
};
