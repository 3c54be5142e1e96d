#include "app/Startup.h"

#include "base/Fonts.h"
#include "base/Version.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QTranslator>

void setupNames(QCoreApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto* qtTr = new QTranslator(&app);
    if (qtTr->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qtTr);
    app.setApplicationName(QStringLiteral("Stolva"));
    app.setApplicationVersion(QStringLiteral(STOLVA_VERSION));
    // Settings under the program's own name; those an earlier version kept
    // under Qt's "Unknown Organization" come along once.
    app.setOrganizationName(QStringLiteral("Stolva"));
    QSettings now;
    if (now.allKeys().isEmpty()) {
        QSettings earlier(QStringLiteral("Unknown Organization"), QStringLiteral("Stolva"));
        if (earlier.fileName() != now.fileName())
            for (const QString& key : earlier.allKeys())
                now.setValue(key, earlier.value(key));
    }
}

void setupApplication(QApplication& app) {
    setupNames(app);
    QFont f = app.font();
    f.setFamilies(ledgerFontFamilies());
    f.setPointSize(10);
    app.setFont(f);
}

bool isInstalledAt(const QString& programDir) {
    return !QFileInfo(programDir).isWritable() ||
           QFileInfo::exists(
               QString("%1/../share/metainfo/%2.metainfo.xml").arg(programDir, AppId));
}

QString resolveDataPath(const QString& chosen) {
    if (!chosen.isEmpty())
        return QDir(chosen).absolutePath() + "/";
    const QString env = qEnvironmentVariable("STOLVA_DATA_DIR");
    if (!env.isEmpty())
        return QDir(env).absolutePath() + "/";
    const QString programDir = QCoreApplication::applicationDirPath();
    if (!isInstalledAt(programDir))
        return programDir + "/data/";
    // The data folder stays where every version put it: named by the program
    // alone, whatever organisation the settings are kept under.
    const QString organisation = QCoreApplication::organizationName();
    QCoreApplication::setOrganizationName(QString());
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/";
    QCoreApplication::setOrganizationName(organisation);
    return path;
}

Result<std::optional<server::Address>> resolveServer(const QString& chosen) {
    Result<std::optional<server::Address>> r;
    QString url = chosen;
    if (url.isEmpty())
        url = qEnvironmentVariable("STOLVA_SERVER");
    if (url.isEmpty())
        url = QSettings().value(QString::fromLatin1(ServerSetting)).toString();
    if (url.isEmpty())
        return r;
    const Result<server::Address> a = server::parse(url);
    if (!a) {
        r.status = a.status;
        return r;
    }
    // A command line shows in every user's process list.
    if (!chosen.isEmpty() && !a.value.password.isEmpty()) {
        r.status = Status::failed(
            QStringLiteral("コマンドラインの接続先にパスワードを書かないでください（ほかの利用者"
                           "にも見えます）。パスワードは ~/.pgpass（Windows では "
                           "%APPDATA%\\postgresql\\pgpass.conf）に書いてください。"));
        return r;
    }
    r.value = a.value;
    return r;
}
