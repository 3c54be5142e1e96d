#include "app/Startup.h"

#include "base/Fonts.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void setupApplication(QApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto* qtTr = new QTranslator(&app);
    if (qtTr->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qtTr);
    QFont f = app.font();
    f.setFamilies(ledgerFontFamilies());
    f.setPointSize(10);
    app.setFont(f);
    app.setApplicationName(QStringLiteral("Stolva"));
}

QString resolveDataPath() {
    const QString env = qEnvironmentVariable("STOLVA_DATA_DIR");
    if (!env.isEmpty())
        return QDir(env).absolutePath() + "/";
    return QCoreApplication::applicationDirPath() + "/data/";
}
