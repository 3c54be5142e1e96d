#include "backup/Erase.h"

#include "backup/BackupOps.h"
#include "store/Copy.h"

Result<QString> allDelete(Store& store) {
    const Result<QString> copy =
        backup::makeCopy(store, backup::Kind::Erase, QDateTime::currentDateTime());
    if (!copy)
        return copy;
    Result<QString> r;
    r.status = guarded([&] {
        Transaction t(store, Db::Main);
        ledger::lockAll(store);
        store.exec(Db::Main, "DELETE FROM 在庫表");
        store.exec(Db::Main, "DELETE FROM 在庫表版");
        store.exec(Db::Main, "DELETE FROM 在庫表確定");
        store.exec(Db::Main, "DELETE FROM 棚卸記録");
        // Phones pair again with the new data.
        store.exec(Db::Main, "DELETE FROM 端末スキャン");
        store.exec(Db::Main, "DELETE FROM 端末");
        store.exec(Db::Main, "DELETE FROM 商品マスタ");
        store.exec(Db::Main, "DELETE FROM 自社情報");
        store.exec(Db::Main, "DELETE FROM 帳簿設定");
        store.exec(Db::Main, "UPDATE コードマスタ SET sname = NULL");
        t.commit();
    });
    if (r)
        r.value = copy.value;
    return r;
}
