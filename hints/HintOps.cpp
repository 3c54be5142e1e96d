#include "hints/HintOps.h"

namespace hints {

Result<std::optional<QString>> readHint(Store& store, const QString& formName,
                                        const QString& ctlName) {
    return guardedValue<std::optional<QString>>([&]() -> std::optional<QString> {
        if (formName.isEmpty() || ctlName.isEmpty())
            return std::nullopt;
        const Rows rows = store.query(
            Db::Work, "SELECT Contents FROM ClHint WHERE FormName = ? AND CtlName = ? LIMIT 1",
            {formName, ctlName});
        if (rows.isEmpty() || rows[0][0].isNull())
            return std::nullopt;
        return rows[0][0].toString();
    });
}

Status entryHint(Store& store, const QString& formName, const QString& ctlName,
                 const QString& formTitle, const QString& contents) {
    return guarded([&] {
        if (formName.isEmpty() || ctlName.isEmpty())
            return;
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM ClHint WHERE FormName = ? AND CtlName = ?",
                   {formName, ctlName});
        // An emptied note is stored as an empty text, not as null.
        store.exec(
            Db::Work,
            "INSERT INTO ClHint (FormName, CtlName, FormTitle, Contents) VALUES (?, ?, ?, ?)",
            {formName, ctlName, formTitle, contents.isNull() ? QString("") : contents});
        t.commit();
    });
}

Status deleteHint(Store& store, const QString& formName, const QString& ctlName) {
    return guarded([&] {
        if (formName.isEmpty() || ctlName.isEmpty())
            return;
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM ClHint WHERE FormName = ? AND CtlName = ?",
                   {formName, ctlName});
        t.commit();
    });
}

} // namespace hints
