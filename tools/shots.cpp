// stolva_shots: starts the main window on a sample data folder and saves a
// picture of each tab (used by tools/screenshots.sh under xvfb-run).
#include "app/FrmStolva.h"
#include "app/Startup.h"
#include "bench/generator.h"
#include "codes/CodeTab.h"
#include "exchange/CsvDialogs.h"
#include "msg/Msg.h"
#include "phones/Devices.h"
#include "phones/PhoneDialog.h"
#include "products/ProductTab.h"
#include "report/Paint.h"
#include "sheet/SheetHeading.h"
#include "sheet/SheetTab.h"
#include "widgets/Controls.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"

#include <QMouseEvent>
#include <QScreen>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {
// Acts on the window named `name` once it is shown (a modal dialog's loop running).
class OnShown : public QObject {
  public:
    OnShown(QString name, std::function<void(QWidget*)> act)
        : m_name(std::move(name)), m_act(std::move(act)) {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* w = qobject_cast<QWidget*>(o);
        if (e->type() == QEvent::Show && w && w->isWindow() && w->objectName() == m_name) {
            qApp->removeEventFilter(this);
            QTimer::singleShot(50, w, [w, act = m_act] { act(w); });
        }
        return false;
    }

  private:
    QString m_name;
    std::function<void(QWidget*)> m_act;
};

// The pictures are taken without anyone to answer a question: every one is Yes.
class AnswerYes : public MsgPresenter {
  public:
    bool present(const MsgDialog&) override { return true; }
    int choose(const MsgDialog& d) override { return d.defaultChoice; }
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setupApplication(app);
    AnswerYes yes;
    setMsgPresenter(&yes);
    const QString out = argc > 1 ? argv[1] : "docs/screenshots";
    QDir().mkpath(out);
    QTemporaryDir data;
    {
        Store s;
        if (!s.open(data.path()))
            return 1;
        gen::products(s, 1000);
        gen::sheets(s, 8, 36); // eight counts, 2026-01-01 on
    }
    FrmStolva w;
    if (Status s = w.Form_Load(data.path()); !s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.error));
        return 1;
    }
    w.resize(1180, 760);
    w.show();
    w.findChild<DateBox*>("dt日付")->setValue(QDate(2026, 1, 1));
    w.sheetTab()->Read在庫表();
    auto* tabs = w.findChild<QTabWidget*>("SSTab1");
    auto grab = [&](int tab, const QString& name) {
        tabs->setCurrentIndex(tab);
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        w.grab().save(out + "/" + name);
    };
    grab(0, "tab0.png");
    {
        // A sheet being counted by scanner, with a code no product has.
        w.sheetTab()->Read商品マスタto在庫表();
        auto* scan = w.findChild<QLineEdit*>("txtスキャン");
        const QStringList scans{
            gen::productCode(3),  gen::productCode(3), "12*" + gen::productCode(7), "4901234567894",
            gen::productCode(11), "4901234567894",     gen::productCode(3)};
        for (const QString& code : scans) {
            scan->setText(code);
            emit scan->returnPressed();
        }
        scan->setFocus();
        grab(0, "scan.png");
        // Counting straight into a saved count, then its progress and entries.
        w.store().exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = 'A-' || (id % 12 + 1)");
        w.sheetTab()->Clear在庫表();
        w.findChild<DateBox*>("dt日付")->setValue(QDate(2026, 12, 31));
        w.findChild<QComboBox*>("cmb担当")->setEditText(QStringLiteral("山田"));
        w.findChild<QAbstractButton*>("chk直接記録")->setChecked(true);
        for (int i = 0; i < 40; ++i) {
            scan->setText(gen::productCode(i % 13));
            emit scan->returnPressed();
        }
        grab(0, "direct-scan.png");
        for (const char* button : {"cmd棚卸状況", "cmd変更履歴"})
            w.findChild<QPushButton*>(button)->click();
        for (const auto& [dialog, file] :
             {std::pair{"dlg棚卸状況", "progress.png"}, std::pair{"dlg変更履歴", "entries.png"}}) {
            auto* d = w.findChild<QDialog*>(dialog);
            for (int i = 0; i < 10; ++i)
                QCoreApplication::processEvents();
            d->grab().save(out + "/" + file);
            d->close();
        }
        // Counting on phones: the dialog serving, two phones paired. It listens
        // on one address of this PC only while the picture is taken.
        const QStringList lan = phones::lanAddresses();
        QSettings().setValue("phones/host", lan.size() > 1 ? lan.first() : "127.0.0.1");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        phones::pairDevice(w.store(), QStringLiteral("棚Aのスマホ"), QStringLiteral("佐藤"), now);
        phones::pairDevice(w.store(), QStringLiteral("レジ横のスマホ"), QStringLiteral("山田"),
                           now);
        w.findChild<QPushButton*>("cmdスマホ棚卸")->click();
        if (auto* d = w.findChild<QDialog*>("dlgスマホ棚卸")) {
            d->findChild<QAbstractButton*>("chkスマホ受付")->click();
            for (int i = 0; i < 10; ++i)
                QCoreApplication::processEvents();
            d->grab().save(out + "/phones.png");
            d->findChild<QAbstractButton*>("chkスマホ受付")->click();
            d->close();
        }
        QSettings().remove("phones/host");
        w.findChild<QAbstractButton*>("chk直接記録")->setChecked(false);
        w.findChild<DateBox*>("dt日付")->setValue(QDate(2026, 1, 1));
        w.sheetTab()->Read在庫表();
    }
    if (qEnvironmentVariableIsSet("STOLVA_SHOT_CALENDAR")) {
        // The date box's calendar, over the whole screen.
        DateBox* date = w.findChild<DateBox*>("dt日付");
        date->setFocus();
        const QPointF arrow(date->width() - 8, date->height() / 2);
        QMouseEvent press(QEvent::MouseButtonPress, arrow, date->mapToGlobal(arrow), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(date, &press);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        QGuiApplication::primaryScreen()->grabWindow(0).save(out + "/calendar.png");
        return 0;
    }
    if (qEnvironmentVariableIsSet("STOLVA_SHOT_POPUP")) {
        // The product drop-down of a name cell, over the whole screen.
        TwoPaneGrid* g = w.findChild<TwoPaneGrid*>("Grid在庫表");
        g->setCurrent(0, 3, 2);
        g->pane(0)->edit(w.sheetTab()->model()->index(3, 2));
        if (auto* combo = g->pane(0)->findChild<QComboBox*>())
            combo->showPopup();
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        QGuiApplication::primaryScreen()->grabWindow(0).save(out + "/popup.png");
        return 0;
    }
    w.findChild<QComboBox*>("cmb商品区分選択")->setCurrentIndex(0);
    w.productTab()->Read商品情報();
    w.findChild<QTableView*>("Grid商品情報")->setCurrentIndex(w.productTab()->model()->index(2, 2));
    w.productTab()->openDetail();
    grab(1, "tab1.png");
    {
        // The save dialog of the product list's CSV, and the preview of an import.
        OnShown save("dlgCSV出力", [&](QWidget* d) {
            d->grab().save(out + "/csv-export.png");
            static_cast<QDialog*>(d)->reject();
        });
        w.findChild<QPushButton*>("cmd商品CSV出力")->click();
        const QString csv = data.path() + "/仕入先の商品.csv";
        QFile f(csv);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(QString("コード,品名,単位,単価,適正数,商品区分,メモ\r\n"
                        "%1,%2,個,135,12,青果,値上げ\r\n"
                        "%3,%4,個,98,6,青果,\r\n"
                        "9000001,国産レモン,個,120,10,青果,新商品\r\n"
                        "9000002,有機バナナ,房,240,8,青果,新商品\r\n"
                        "9000003,,本,80,5,飲料,品名なし\r\n"
                        "9000004,炭酸水,本,九十,24,飲料,\r\n")
                    .arg(gen::productCode(1), gen::productName(1), gen::productCode(2),
                         gen::productName(2))
                    .toUtf8());
        f.close();
        OnShown preview("dlgCSV取込", [&](QWidget* d) {
            d->grab().save(out + "/csv-import.png");
            static_cast<QDialog*>(d)->reject();
        });
        const auto table = exchange::readCsvFile(csv);
        auto previewed = exchange::previewProducts(w.store(), table.value);
        if (!table || !previewed)
            return 1;
        exchange::Choice choice;
        exchange::confirmProducts(&w, csv, table.value, previewed, &choice);
    }
    {
        // The stock over time: the list of saved sheets, the summary and the
        // comparison, and page 1 of each report.
        const auto page = [&](const QVector<report::Page>& pages, const QString& title) {
            const double dpi = 80;
            QImage img(int(8.27 * dpi), int(11.69 * dpi), QImage::Format_RGB32);
            img.fill(Qt::white);
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            report::paint(pages.first(), p, dpi / 1440.0);
            img.save(out + (title == "棚卸集計表" ? "/summary-report.png"
                            : title == "棚卸表"   ? "/inventory-report.png"
                                                  : "/compare-report.png"));
        };
        w.previewPages = page;
        tabs->setCurrentIndex(0);
        OnShown list("dlg在庫表一覧", [&](QWidget* d) {
            d->grab().save(out + "/saved-sheets.png");
            static_cast<QDialog*>(d)->reject();
        });
        w.findChild<QPushButton*>("cmd一覧")->click();
        const auto shoot = [&](const QString& dialog, const QString& file, const QString& print) {
            return new OnShown(dialog, [&, file, print](QWidget* d) {
                for (int i = 0; i < 10; ++i)
                    QCoreApplication::processEvents();
                d->grab().save(out + "/" + file);
                d->findChild<QPushButton*>(print)->click();
                static_cast<QDialog*>(d)->reject();
            });
        };
        std::unique_ptr<OnShown> summary(shoot("dlg棚卸集計", "summary.png", "cmd集計印刷"));
        w.findChild<QPushButton*>("cmd集計")->click();
        std::unique_ptr<OnShown> compare(shoot("dlg在庫比較", "compare.png", "cmd比較印刷"));
        w.findChild<QPushButton*>("cmd比較")->click();
        // The 棚卸表 of the sheet's date, and its first page.
        std::unique_ptr<OnShown> books(shoot("dlg棚卸表", "inventory.png", "cmd棚卸表印刷"));
        w.findChild<QPushButton*>("cmd棚卸表")->click();
        w.previewPages = nullptr;
    }
    w.findChild<QPushButton*>("cmdバックアップ")->click();
    w.findChild<QRadioButton*>("Opt単位")->setChecked(true);
    w.codeTab()->Readコード表();
    grab(2, "tab2.png");
    {
        // The guide, as F1 opens it.
        w.showGuide();
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        if (auto* guide = w.findChild<QDialog*>("dlgヘルプ")) {
            guide->resize(820, 760);
            for (int i = 0; i < 10; ++i)
                QCoreApplication::processEvents();
            guide->grab().save(out + "/guide.png");
            guide->close();
        }
    }
    {
        // The sheet, the summary and the comparison as they open on a small
        // and a common laptop screen (the area a taskbar leaves).
        w.previewPages = [](const QVector<report::Page>&, const QString&) {};
        for (const QSize screen : {QSize(1024, 768), QSize(1366, 900)}) {
            const QRect room(QPoint(), screen - QSize(0, 40));
            const QString tag = QString("-%1x%2.png").arg(screen.width()).arg(screen.height());
            w.resize(fittedSize(QSize(1180, 760), w.minimumSizeHint(), room));
            grab(0, "sheet" + tag);
            // A closed date: the mark appears and no button moves.
            if (auto* heading = w.findChild<SheetHeading*>()) {
                heading->showClosed(true);
                grab(0, "sheet-closed" + tag);
                heading->showClosed(false);
            }
            const auto at = [&](const QString& dialog, const QString& file, QSize wanted) {
                return new OnShown(dialog, [&, file, wanted](QWidget* d) {
                    d->resize(fittedSize(wanted, d->minimumSizeHint(), room));
                    for (int i = 0; i < 10; ++i)
                        QCoreApplication::processEvents();
                    d->grab().save(out + "/" + file);
                    static_cast<QDialog*>(d)->reject();
                });
            };
            std::unique_ptr<OnShown> summary(at("dlg棚卸集計", "summary" + tag, QSize(1000, 560)));
            w.findChild<QPushButton*>("cmd集計")->click();
            std::unique_ptr<OnShown> compare(at("dlg在庫比較", "compare" + tag, QSize(1100, 720)));
            w.findChild<QPushButton*>("cmd比較")->click();
        }
        w.previewPages = nullptr;
    }
    return 0;
}
