#include "store/Erase.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

Result<QString> allDelete(Store& store) {
    return guardedValue<QString>([&] {
        const QString dir = store.dataPath() + "backup";
        if (!QDir().mkpath(dir))
            throw StoreError(
                QStringLiteral("バックアップ用フォルダ %1 を作成できません。").arg(dir), QString());
        const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
        QString path = QString("%1/Stolva-%2.mdb").arg(dir, stamp);
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = QString("%1/Stolva-%2-%3.mdb").arg(dir, stamp).arg(n);
        // VACUUM INTO writes a consistent, complete copy of the main file.
        store.exec(Db::Main, "VACUUM INTO ?", {path});
        Transaction t(store, Db::Main);
        store.exec(Db::Main, "DELETE FROM 在庫表");
        store.exec(Db::Main, "DELETE FROM 商品マスタ");
        store.exec(Db::Main, "DELETE FROM 自社情報");
        store.exec(Db::Main, "UPDATE コードマスタ SET sname = NULL");
        t.commit();
        return path;
    });
}
