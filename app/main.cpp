#include "app/FrmStolva.h"
#include "app/SingleCopy.h"
#include "app/Startup.h"
#include "msg/Msg.h"
#include "store/Copy.h"
#include "widgets/Controls.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <cstdio>
#include <map>

namespace {
// --copy-to-server: the local ledger onto an empty server database, said on
// the terminal (0 when copied and compared equal).
int copyLedgerToServer(const QString& dataPath, const QString& url) {
    const Result<std::optional<server::Address>> chosen = resolveServer(url);
    if (!chosen || !chosen.value) {
        std::fprintf(stderr, "%s\n", qPrintable(chosen.status.error));
        return 2;
    }
    const Result<server::Address> to{{}, *chosen.value};
    Store local;
    if (Status s = local.open(dataPath); !s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.error));
        return 1;
    }
    const Result<QStringList> done = ledger::copyToServer(local, to.value);
    if (!done) {
        std::fprintf(stderr, "%s\n", qPrintable(done.status.error));
        return 1;
    }
    std::printf("%s\n", qPrintable(QStringLiteral("%1 のデータをサーバー %2 にコピーしました。"
                                                  "行数と合計は元と同じです:")
                                       .arg(QDir::toNativeSeparators(dataPath), to.value.shown())));
    for (const QString& line : done.value)
        std::printf("  %s\n", qPrintable(line));
    return 0;
}

// The options of the command line; --help lists them.
struct Options {
    QCommandLineOption dataDir{"data-dir", QStringLiteral("データフォルダ"), "DIR"};
    QCommandLineOption serverUrl{
        "server",
        QStringLiteral("共有のデータを置く PostgreSQL "
                       "サーバー（postgresql://ユーザー@ホスト:ポート/データベース）"),
        "URL"};
    QCommandLineOption copyToServer{
        "copy-to-server",
        QStringLiteral("この PC のデータを空のサーバーのデータベースへコピーして終了する"), "URL"};
    // Start-up measurement: report the window shown, then end.
    QCommandLineOption exitWhenShown{"exit-when-shown"};

    // Qt's own help option is said in English; this one in the program's language.
    QCommandLineOption help{{"h", "?", "help"}, QStringLiteral("オプションの一覧を表示する。")};

    // Parses the command line; help and the version are said and end the program here.
    void process(QCommandLineParser& cl, QCoreApplication& app) {
        cl.setApplicationDescription(QStringLiteral("Stolva 在庫表"));
        cl.addOption(help);
        cl.addVersionOption();
        exitWhenShown.setFlags(QCommandLineOption::HiddenFromHelp);
        cl.addOptions({dataDir, serverUrl, copyToServer, exitWhenShown});
        cl.process(app);
        if (cl.isSet(help))
            cl.showHelp(0);
    }
};

// What is said on the terminal and needs no window: help, the version, a copy
// to a server. These run where there is no display (a server, a script).
bool onTerminalOnly(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-h" || a == "-?" || a == "--help" || a == "-v" || a == "--version" ||
            a == "--copy-to-server" || a.startsWith("--copy-to-server="))
            return true;
    }
    return false;
}
// The controls a window shows, by kind, for a measure of start-up to make as
// many: each one the user sees, not the parts a combo box, a date box, a
// table or the tabs are made of. An editable combo box is said as
// "QComboBox+edit", a table with the columns it shows; the tab captions
// follow "tabs".
QString shownControls(const QWidget& window) {
    std::map<QString, int> kinds;
    QStringList tabs;
    const auto isPart = [&window](const QWidget* c) {
        for (const QWidget* p = c->parentWidget(); p && p != &window; p = p->parentWidget())
            if (qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractSpinBox*>(p) ||
                qobject_cast<const QAbstractScrollArea*>(p) || qobject_cast<const QTabBar*>(p))
                return true;
        return qobject_cast<const QTabWidget*>(c->parentWidget()) != nullptr;
    };
    for (const QWidget* c : window.findChildren<QWidget*>()) {
        if (!c->isVisible() || isPart(c))
            continue;
        if (const auto* t = qobject_cast<const QTabWidget*>(c))
            for (int i = 0; i < t->count(); ++i)
                tabs << t->tabText(i);
        const QMetaObject* m = c->metaObject();
        while (m->superClass() && !QByteArray(m->className()).startsWith('Q'))
            m = m->superClass();
        QString kind = QString::fromLatin1(m->className());
        if (const auto* box = qobject_cast<const QComboBox*>(c); box && box->isEditable())
            kind += QStringLiteral("+edit");
        // A table by the columns it shows: "QTableView:8".
        if (const auto* table = qobject_cast<const QTableView*>(c); table && table->model()) {
            int shown = 0;
            for (int i = 0; i < table->model()->columnCount(); ++i)
                shown += table->isColumnHidden(i) ? 0 : 1;
            kind += QStringLiteral(":%1").arg(shown);
        }
        ++kinds[kind];
    }
    QStringList said;
    for (const auto& [kind, n] : kinds)
        said << QStringLiteral("%1=%2").arg(kind).arg(n);
    return said.join(' ') + QStringLiteral(" tabs=") + tabs.join('|');
}
} // namespace

int main(int argc, char* argv[]) {
    Options options;
    QCommandLineParser cl;
    if (onTerminalOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        setupNames(app);
        options.process(cl, app);
        return copyLedgerToServer(resolveDataPath(cl.value(options.dataDir)),
                                  cl.value(options.copyToServer));
    }
    QApplication app(argc, argv);
    setupApplication(app);
    // Read as the PNG it is: an icon whose format is guessed has every image
    // plugin loaded to ask which one reads it.
    QImageReader icon(QStringLiteral(":/icons/stolva.png"), "png");
    icon.setAutoDetectImageFormat(false);
    const QImage image = icon.read();
    app.setWindowIcon(image.isNull() ? QIcon(icon.fileName()) : QIcon(QPixmap::fromImage(image)));
    app.setDesktopFileName(QString::fromLatin1(AppId));
    options.process(cl, app);
    const QString dataPath = resolveDataPath(cl.value(options.dataDir));
    const Result<std::optional<server::Address>> server =
        resolveServer(cl.value(options.serverUrl));
    if (!server) {
        ShowMsg(MsgKind::その他, MsgCase::エラー,
                QStringLiteral("Stolva を起動できません。\n\n") + server.status.error);
        return 1;
    }
    SingleCopy single(dataPath);
    switch (single.acquire()) {
    case SingleCopy::Result::Acquired:
        break;
    case SingleCopy::Result::AlreadyRunning:
        single.wakeRunningCopy();
        return 0;
    case SingleCopy::Result::Failed:
        ShowMsg(MsgKind::その他, MsgCase::エラー,
                QStringLiteral("Stolva を起動できません。\n\nデータフォルダ %1 を使用できません。")
                    .arg(QDir::toNativeSeparators(dataPath)));
        return 1;
    }
    rememberWindowSizes(true);
    FrmStolva w;
    single.setWindow(&w);
    if (Status s = w.Form_Load(dataPath, server.value); !s) {
        ShowMsg(MsgKind::その他, MsgCase::エラー,
                QStringLiteral("Stolva を起動できません。\n\n") + s.error);
        return 1;
    }
    w.showNormal();
    if (cl.isSet(options.exitWhenShown) || qEnvironmentVariableIsSet("STOLVA_EXIT_WHEN_SHOWN")) {
        QCoreApplication::processEvents();
        // The size shown, for a measure of start-up to open a window as large.
        std::fprintf(stderr, "window %dx%d\n", w.width(), w.height());
        std::fprintf(stderr, "controls %s\n", qPrintable(shownControls(w)));
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    return app.exec();
}
