#include "app/FrmStolva.h"
#include "app/SingleCopy.h"
#include "app/Startup.h"
#include "msg/Msg.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    setupApplication(app);
    const QString dataPath = resolveDataPath();
    SingleCopy single(dataPath);
    if (!single.acquire()) {
        single.wakeRunningCopy();
        return 0;
    }
    FrmStolva w;
    single.setWindow(&w);
    if (Status s = w.Form_Load(dataPath); !s) {
        ShowMsg("その他", "エラー", QStringLiteral("Stolva を起動できません。\n\n") + s.error);
        return 1;
    }
    w.showNormal();
    if (qEnvironmentVariableIsSet("STOLVA_EXIT_WHEN_SHOWN")) {
        // Start-up measurement: report the window shown, then end.
        QCoreApplication::processEvents();
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    return app.exec();
}
