// stolva_shots: starts the main window on a sample data folder and saves a
// picture of each tab (used by tools/screenshots.sh under xvfb-run).
#include "app/FrmStolva.h"
#include "app/Startup.h"
#include "bench/generator.h"
#include "codes/CodeTab.h"
#include "msg/Msg.h"
#include "products/ProductTab.h"
#include "sheet/SheetTab.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"

#include <QMouseEvent>
#include <QScreen>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>

namespace {
// The pictures are taken without anyone to answer a question: every one is Yes.
class AnswerYes : public MsgPresenter {
  public:
    bool present(const MsgDialog&) override { return true; }
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
        gen::products(s, 120);
        gen::sheets(s, 1, 36);
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
    w.findChild<QRadioButton*>("Opt単位")->setChecked(true);
    w.codeTab()->Readコード表();
    grab(2, "tab2.png");
    return 0;
}
