#include "app/FrmStolva.h"

#include "app/HelpWindow.h"

#include "base/Version.h"

#include "app/ConnectionPanel.h"
#include "backup/BackupPanel.h"
#include "backup/Erase.h"
#include "books/BooksDialogs.h"
#include "codes/CodeOps.h"
#include "codes/CodeTab.h"
#include "exchange/CsvDialogs.h"
#include "history/CountDialogs.h"
#include "history/HistoryDialogs.h"
#include "msg/Msg.h"
#include "phones/PhoneDialog.h"
#include "products/ProductTab.h"
#include "sheet/SheetTab.h"
#include "store/Notices.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"
#include "widgets/NumberBox.h"
#include "work/WorkResets.h"

#include "base/Values.h"
#include "report/Paint.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <utility>

FrmStolva::FrmStolva() {
    setObjectName("FrmStolva");
    m_refs = RefModels::create(m_store, this);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("SSTab1");
    m_sheet = new SheetTab(m_store, m_refs, m_tabs);
    m_notices = new CountNotices(m_store, this);
    m_sheet->setNotices(m_notices);
    m_products = new ProductTab(m_store, m_refs, m_tabs);
    m_codes = new CodeTab(m_store, m_tabs);
    m_tabs->addTab(m_sheet, QStringLiteral("在庫表"));
    m_tabs->addTab(m_products, QStringLiteral("商品情報"));
    m_tabs->addTab(m_codes, QStringLiteral("設定・情報"));
    m_backups = new BackupPanel(m_store, m_codes);
    m_codes->addSection(m_backups);
    m_books = new books::BooksPanel(m_store, m_codes);
    m_codes->addSectionBelowSlots(m_books);
    connect(m_books, &books::BooksPanel::statusMessage, this, &FrmStolva::showStatus);
    m_connection = new ConnectionPanel(m_store, m_codes);
    m_codes->addSectionBelowSlots(m_connection);
    connect(m_connection, &ConnectionPanel::statusMessage, this, &FrmStolva::showStatus);
    // Options of the counting: kept between runs.
    auto* options = new QGroupBox(QStringLiteral("入力"), m_codes);
    options->setObjectName("grp入力");
    auto* byLine = new QCheckBox(
        QStringLiteral("数量の次は次の行の品名へ（品名・Enter・数量・Enter で一行）"), options);
    byLine->setObjectName("chk数量の次は次の行");
    byLine->setChecked(rememberedOption("countByLine", false));
    m_sheet->setCountByLine(byLine->isChecked());
    connect(byLine, &QCheckBox::toggled, this, [this](bool on) {
        m_sheet->setCountByLine(on);
        keepOption("countByLine", on);
    });
    auto* optionRow = new QHBoxLayout(options);
    optionRow->addWidget(byLine);
    optionRow->addStretch(1);
    m_codes->addSection(options);
    // The guide: F1 anywhere, or ヘルプ on the settings tab.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &FrmStolva::showGuide);
    connect(m_codes, &CodeTab::guideRequested, this, &FrmStolva::showGuide);
    setCentralWidget(m_tabs);
    fitToScreen(this, QSize(1180, 760));

    statusBar()->setObjectName("statusBar");
    connect(m_sheet, &SheetTab::namesRead, this,
            [this](const resets::CombLists& l) { showComb(l); });
    // Whatever changes a master refreshes every list that shows its names.
    connect(m_sheet, &SheetTab::namesChanged, this, [this] { refreshNames(); });
    connect(m_codes, &CodeTab::namesChanged, this, [this] { refreshNames(); });
    connect(m_products, &ProductTab::namesChanged, this, [this] { refreshNames(); });
    connect(m_products, &ProductTab::productsChanged, this, [this] {
        refreshNames();
        m_sheet->countRegistered();
    });
    connect(m_sheet, &SheetTab::registerCodeRequested, this, [this](const QString& code) {
        m_tabs->setCurrentWidget(m_products);
        m_products->openDetailForCode(code);
    });
    connect(m_sheet, &SheetTab::statusMessage, this, &FrmStolva::showStatus);
    connect(m_products, &ProductTab::statusMessage, this, &FrmStolva::showStatus);
    connect(m_codes, &CodeTab::statusMessage, this, &FrmStolva::showStatus);
    connect(m_backups, &BackupPanel::statusMessage, this, &FrmStolva::showStatus);
    connect(m_backups, &BackupPanel::restoreRequested, this, &FrmStolva::restoreBackup);
    connect(m_sheet, &SheetTab::printoutReady, this, &FrmStolva::showPreview);
    connect(m_products, &ProductTab::printoutReady, this, &FrmStolva::showPreview);
    // The stock over time, asked for on the sheet tab.
    const auto preview = [this](const QVector<report::Page>& pages, const QString& title) {
        showPreview({title, pages, {}, {}});
    };
    connect(m_sheet, &SheetTab::savedSheetsRequested, this, [this] {
        if (const auto chosen = history::chooseSavedSheet(m_sheet, m_store))
            m_sheet->loadSaved(chosen->first, chosen->second);
    });
    connect(m_sheet, &SheetTab::summaryRequested, this, [this, preview](const QDate& date) {
        history::SummaryDialog dlg(m_store, date, preview, m_sheet);
        dlg.exec();
    });
    connect(m_sheet, &SheetTab::inventoryRequested, this, [this](const QDate& date) {
        books::InventoryDialog dlg(
            m_store, date, [this](const report::Printout& p) { showPreview(p); }, m_sheet);
        // The sheet on screen reads the amounts computed again when it holds that
        // date, as when another PC records into it.
        connect(&dlg, &books::InventoryDialog::recomputed, this,
                [this](const QDate& d) { m_notices->announce(dateKey(d)); });
        dlg.exec();
    });
    connect(
        m_sheet, &SheetTab::comparisonRequested, this,
        [this, preview](const QDate& first, const QDate& second, const QStringList& categories) {
            history::CompareDialog dlg(m_store, categories, first, second, preview, m_sheet);
            dlg.exec();
        });
    // The count in progress stays in view beside the sheet, one window of each.
    const auto counter = [this] { return m_sheet->counter(); };
    connect(m_sheet, &SheetTab::progressRequested, this,
            [this, preview, counter](const QDate& date, const QString& category) {
                auto* old = findChild<history::ProgressDialog*>();
                delete old;
                auto* dlg = new history::ProgressDialog(m_store, m_notices, date, category, counter,
                                                        preview, this);
                dlg->setAttribute(Qt::WA_DeleteOnClose);
                dlg->show();
            });
    connect(m_sheet, &SheetTab::phonesRequested, this,
            [this](const QDate& date, const QString& category) {
                if (!m_phones) {
                    // The phones reach the ledger as another PC would, with a work file of their
                    // own.
                    m_phones = new phones::PhoneServer(m_store.dataPath(), m_store.serverAddress(),
                                                       m_store.dataPath() + "phones/work", this);
                    connect(m_phones, &phones::PhoneServer::recorded, m_notices,
                            &CountNotices::announce);
                }
                // The count the sheet shows is the one the phones are offered.
                m_phones->setCount(date, category);
                delete findChild<phones::PhoneDialog*>();
                auto* dlg = new phones::PhoneDialog(m_store, *m_phones, this);
                dlg->setAttribute(Qt::WA_DeleteOnClose);
                dlg->show();
            });
    connect(m_sheet, &SheetTab::historyRequested, this, [this, counter](const QDate& date) {
        delete findChild<history::EntriesDialog*>();
        auto* dlg = new history::EntriesDialog(m_store, m_notices, date, counter, this);
        dlg->setAttribute(Qt::WA_DeleteOnClose);
        dlg->show();
    });
    // Opening the settings tab shows the slots as stored.
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int i) {
        if (m_tabs->widget(i) == m_codes) {
            m_codes->Readコード表();
            m_backups->refresh();
            m_books->refresh();
        }
    });
    connect(m_sheet, &SheetTab::hintRequested, this, &FrmStolva::showHint);
    connect(m_products, &ProductTab::hintRequested, this, &FrmStolva::showHint);
    connect(m_codes, &CodeTab::hintRequested, this, &FrmStolva::showHint);
    connect(m_codes, &CodeTab::eraseRequested, this, [this] {
        // On a server every PC's data goes: the question names it.
        if (ShowMsg(MsgKind::削除, MsgCase::確認,
                    (m_store.onServer()
                         ? QStringLiteral("サーバー %1 のすべてのデータ").arg(m_store.serverName())
                         : QStringLiteral("すべてのデータ")) +
                        closedCountsNote()) == True)
            AllDelete();
    });
}

FrmStolva::~FrmStolva() {
    m_store.setReachabilityWatcher({});
    if (m_hint)
        delete m_hint.data();
    // The tabs go before the store they work on: a focus change while they are
    // torn down may still reach a handler.
    delete takeCentralWidget();
}

Status FrmStolva::Form_Load(const QString& dataPath, const std::optional<server::Address>& server) {
    m_store.setServer(server);
    if (Status s = m_store.open(dataPath); !s)
        return s;
    // A ledger on a server says so wherever the user looks.
    // Named as the server says it was connected, not as the address asked.
    // Who counts on this PC, always in sight.
    auto* counter = new QLabel(this);
    counter->setObjectName("lbl担当");
    const auto showCounter = [counter](const QString& name) {
        counter->setText(name.isEmpty() ? QString() : QStringLiteral("担当: ") + name);
    };
    showCounter(m_sheet->counter());
    connect(m_sheet, &SheetTab::counterChanged, counter, showCounter);
    statusBar()->addPermanentWidget(counter);
    const QString connected = m_store.connectedAs();
    setWindowTitle(server ? caption() + QStringLiteral(" - サーバー ") + connected : caption());
    if (server) {
        auto* where = new QLabel(QStringLiteral("サーバー: ") + connected, this);
        where->setObjectName("lbl接続先");
        statusBar()->addPermanentWidget(where);
        // A server that went away is said at once, whatever found it out (a
        // look-up while typing too), and stays marked until it answers again.
        auto* lost = new QLabel(QStringLiteral("接続できません"), this);
        lost->setObjectName("lbl接続断");
        lost->setStyleSheet(QStringLiteral("QLabel { color: white; background: #c0392b; "
                                           "padding: 0 6px; }"));
        lost->hide();
        statusBar()->addPermanentWidget(lost);
        const QString name = server->shown();
        m_store.setReachabilityWatcher([this, lost, name](bool reachable) {
            lost->setVisible(!reachable);
            if (!reachable)
                showStatus(QStringLiteral("サーバー %1 に接続できません。入力した内容はこの PC "
                                          "に残っています")
                               .arg(name));
            else if (statusBar()->currentMessage().startsWith(QStringLiteral("サーバー ")))
                showStatus(QStringLiteral("サーバー %1 に接続しました").arg(name));
        });
        m_connection->show(*server);
    }
    m_notices->listen();
    // The books' rounding of line amounts, before the first line is computed.
    m_books->refresh();
    FormInit();
    Clear商品情報();
    Clearコード表();
    Clear在庫表();
    m_dailyCopyDue = true;
    return Status{};
}

bool FrmStolva::event(QEvent* e) {
    const bool handled = QMainWindow::event(e);
    // A copy a day, made once the window's first frame is painted and sent
    // to the screen: on a server it reads the whole ledger, and the window is
    // up meanwhile.
    if (e->type() == QEvent::UpdateRequest && std::exchange(m_dailyCopyDue, false))
        makeDailyCopy();
    return handled;
}

void FrmStolva::makeDailyCopy() {
    // One that fails never stops the start, and the next start tries again.
    const Result<QString> daily = backup::dailyCopy(m_store, QDateTime::currentDateTime());
    if (!daily)
        showStatus(
            QStringLiteral("自動バックアップを作成できませんでした（次の起動で作り直します）: ") +
            daily.error());
    if (m_tabs->currentWidget() == m_codes)
        m_backups->refresh();
}

void FrmStolva::FormInit() {
    m_codes->setProgramInfo(
        QStringLiteral("Stolva Ver ") + version() + QStringLiteral(" LastUpdate") +
            QStringLiteral(STOLVA_RELEASE_DATE) +
            QStringLiteral("\n在庫表の作成・商品情報の管理のためのプログラムです。") +
            (m_store.onServer()
                 ? QStringLiteral("データはサーバー %1 に保存されます（作業中の内容は %2）。"
                                  "バックアップは毎日この PC に作られます。")
                       .arg(m_store.serverName(), QDir::toNativeSeparators(m_store.dataPath()))
                 : QStringLiteral("データは %1 の Stolva.mdb に保存されます。"
                                  "大切なデータは定期的にコピーして保管してください。")
                       .arg(QDir::toNativeSeparators(m_store.dataPath()))),
        QStringLiteral("ご質問・ご要望は、導入をお手伝いした担当者またはお店のシステム担当者に"
                       "お問い合わせください。"));
}

void FrmStolva::showStatus(const QString& text) {
    statusBar()->showMessage(text);
}

void FrmStolva::refreshNames() {
    const Result<resets::CombLists> lists = resets::readNameLists(m_store);
    if (!lists) {
        qWarning("refreshing the name lists failed: %s", qPrintable(lists.error()));
        return;
    }
    showNames(lists.value, true);
    m_refs.categories->refresh();
    m_refs.units->refresh();
}

void FrmStolva::showComb(const resets::CombLists& lists) {
    showNames(lists, false);
    m_refs.categories->refresh();
    m_refs.units->refresh();
}

void FrmStolva::showNames(const resets::CombLists& lists, bool keepChoices) {
    m_sheet->setNameLists(lists, keepChoices);
    // The sheet's reset starts the sheet's selector afresh, never the boxes of
    // the product tab: what they show is what they register.
    m_products->setNameLists(lists, true);
}

void FrmStolva::Clear在庫表() {
    m_sheet->Clear在庫表();
}
void FrmStolva::Clear商品情報() {
    m_products->Clear商品情報();
}
void FrmStolva::Clearコード表() {
    m_codes->Clearコード表();
}

void FrmStolva::AllDelete() {
    const Result<QString> backup = allDelete(m_store);
    if (!backup) {
        ShowError(QStringLiteral("データを削除できませんでした。データは元のままです。"),
                  backup.error());
        return;
    }
    Clear在庫表();
    Clear商品情報();
    Clearコード表();
    m_backups->refresh();
    showStatus(QStringLiteral("すべてのデータを削除しました（バックアップ: %1）")
                   .arg(QDir::toNativeSeparators(backup.value)));
}

QString FrmStolva::closedCountsNote() {
    // The counts the books rely on: the question names what would go.
    const Result<QVector<QDate>> closed = books::closedCounts(m_store, QDate::currentDate());
    if (!closed || closed.value.isEmpty())
        return QString();
    return QStringLiteral(
               "（確定済みの棚卸 %1 を含みます。確定時のコピーは backup フォルダに残ります）")
        .arg(books::namedDates(closed.value));
}

void FrmStolva::restoreBackup(const QString& path) {
    const QString when =
        QFileInfo(path).fileName() +
        (m_store.onServer()
             ? QStringLiteral("（サーバー %1 のデータを置き換えます）").arg(m_store.serverName())
             : QString()) +
        closedCountsNote();
    if (!m_sheet->confirmDiscard() || !m_products->confirmDiscard() ||
        ShowMsg(MsgKind::その他, MsgCase::復元確認, when) != True)
        return;
    // The restored data must also show: otherwise the previous data goes back.
    const auto reset = [this]() -> Status {
        if (const Result<resets::CombLists> lists = resets::clear在庫表(m_store); !lists)
            return lists.status;
        if (Status s = resets::clear商品情報(m_store); !s)
            return s;
        return codes::clearCodeTable(m_store);
    };
    const Result<QString> aside =
        backup::restore(m_store, path, QDateTime::currentDateTime(), reset);
    if (!m_store.isOpen()) {
        ShowError(QStringLiteral("データを開けません。Stolva を終了します。"), aside.error());
        close();
        return;
    }
    if (!aside) {
        ShowError(QStringLiteral("復元できませんでした。"), aside.error());
        return;
    }
    m_notices->listen();
    // The phones' service had the replaced data open: it starts again when asked.
    if (m_phones)
        m_phones->stop();
    Clear在庫表();
    Clear商品情報();
    Clearコード表();
    refreshNames();
    m_backups->refresh();
    showStatus(QStringLiteral("%1 から復元しました（それまでのデータ: %2）")
                   .arg(when, QDir::toNativeSeparators(aside.value)));
}

void FrmStolva::showGuide() {
    if (!m_guide)
        m_guide = new HelpWindow(this);
    m_guide->show();
    m_guide->raise();
    m_guide->activateWindow();
}

void FrmStolva::showHint(const QString& ctlName) {
    m_hintContext = HintContext{objectName(), ctlName, windowTitle()};
    const bool created = !m_hint;
    if (created)
        m_hint = new HintWindow(m_store, m_hintContext);
    m_hint->show();
    m_hint->raise();
    m_hint->activateWindow();
    if (created)
        m_hint->findChild<QWidget*>("txtContents")->setFocus();
}

void FrmStolva::closeEvent(QCloseEvent* e) {
    // Unsaved lines of the sheet or the product list are not thrown away unasked.
    if (m_store.isOpen() && (!m_sheet->confirmDiscard() || !m_products->confirmDiscard())) {
        e->ignore();
        return;
    }
    if (m_hint)
        m_hint->close();
    // Serving ends with Stolva: nothing listens once it is closed.
    if (m_phones)
        m_phones->stop();
    m_store.close();
    e->accept();
}

void FrmStolva::showPreview(const report::Printout& printout) {
    const QString& title = printout.title;
    if (previewPages) {
        previewPages(printout.pages, title);
        return;
    }
    QVector<report::Page> pages = printout.pages;
    const auto& forms = printout.forms;
    const QStringList& fileName = printout.fileName;
    if (!m_printer) {
        // One printer for the session, so page settings carry over.
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_printer->setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    }
    m_printer->setDocName(title);
    QPrintPreviewDialog dlg(m_printer.get(), this);
    dlg.setWindowTitle(title + QStringLiteral(" - 印刷プレビュー"));
    connect(&dlg, &QPrintPreviewDialog::paintRequested, this, [&](QPrinter* printer) {
        if (!report::paintAll(pages, *printer))
            ShowError(QStringLiteral("%1を印刷できませんでした。").arg(title),
                      QStringLiteral("プリンターを使用できません。"));
    });
    dlg.setObjectName("dlg印刷プレビュー");
    // Our choices stand in a row of their own below Qt's long toolbar, where
    // they never fold away behind its ».
    auto* bar = new QToolBar(&dlg);
    bar->setObjectName("bar印刷");
    if (auto* box = qobject_cast<QBoxLayout*>(dlg.layout()))
        box->insertWidget(1, bar);
    {
        if (!forms.isEmpty()) {
            bar->addWidget(new QLabel(QStringLiteral("印刷様式 "), bar));
            bar->addSeparator();
            auto* choice = new QComboBox(bar);
            choice->setObjectName("cmb印刷様式");
            for (const auto& f : forms)
                choice->addItem(f.first);
            bar->addWidget(choice);
            bar->addSeparator();
            connect(choice, &QComboBox::currentIndexChanged, &dlg, [&](int i) {
                pages = forms[i].second();
                if (auto* view = dlg.findChild<QPrintPreviewWidget*>())
                    view->updatePreview();
            });
        }
        QAction* pdf = bar->addAction(QStringLiteral("PDFに保存"));
        pdf->setObjectName("pdfSave");
        connect(pdf, &QAction::triggered, &dlg, [&] {
            const QString path =
                exchange::choosePdfFile(&dlg, fileName.isEmpty() ? QStringList{title} : fileName);
            QString error;
            if (!path.isEmpty() && !report::writePdf(pages, path, title, &error))
                ShowError(QStringLiteral("PDF を保存できませんでした。"), error);
        });
    }
    // The page fitted in a window as tall as the screen allows.
    fitToScreen(&dlg, QSize(900, 1000));
    if (auto* view = dlg.findChild<QPrintPreviewWidget*>())
        view->setZoomMode(QPrintPreviewWidget::FitInView);
    dlg.exec();
}
