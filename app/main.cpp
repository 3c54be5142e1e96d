#include "app/FrmStolva.h"
#include "app/SingleCopy.h"
#include "app/Startup.h"
#include "msg/Msg.h"
#include "widgets/Controls.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    setupApplication(app);
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/stolva.png")));
    app.setDesktopFileName(QString::fromLatin1(AppId));
    QCommandLineParser cl;
    cl.setApplicationDescription(QStringLiteral("Stolva 在庫表"));
    cl.addHelpOption();
    cl.addVersionOption();
    const QCommandLineOption dataDir("data-dir", QStringLiteral("データフォルダ"), "DIR");
    // Start-up measurement: report the window shown, then end.
    QCommandLineOption exitWhenShown("exit-when-shown");
    exitWhenShown.setFlags(QCommandLineOption::HiddenFromHelp);
    cl.addOption(dataDir);
    cl.addOption(exitWhenShown);
    cl.process(app);
    const QString dataPath = resolveDataPath(cl.value(dataDir));
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
    if (Status s = w.Form_Load(dataPath); !s) {
        ShowMsg(MsgKind::その他, MsgCase::エラー,
                QStringLiteral("Stolva を起動できません。\n\n") + s.error);
        return 1;
    }
    w.showNormal();
    if (cl.isSet(exitWhenShown) || qEnvironmentVariableIsSet("STOLVA_EXIT_WHEN_SHOWN")) {
        QCoreApplication::processEvents();
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    return app.exec();
}
