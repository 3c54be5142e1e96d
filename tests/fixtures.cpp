#include "tests/fixtures.h"

TempStore::TempStore() {
    reopen();
}

void TempStore::reopen() {
    m_store.reset();
    m_store = std::make_unique<Store>();
    m_store->setBusyTimeout(QuickBusyTimeoutMs);
    const Status s = m_store->open(m_dir.path());
    if (!s)
        qFatal("cannot open test store: %s", qPrintable(s.error));
}

int TempStore::count(Db which, const QString& table, const QString& where,
                     const QVariantList& params) {
    const QString sql =
        "SELECT count(*) FROM " + table + (where.isEmpty() ? QString() : " WHERE " + where);
    return m_store->scalar(which, sql, params).toInt();
}

void TempStore::addProduct(const QString& code, const QString& name, const QVariant& unit,
                           const QVariant& price, const QVariant& proper,
                           const QVariant& category) {
    m_store->exec(Db::Main,
                  "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, 商品区分) "
                  "VALUES (?, ?, ?, ?, ?, ?)",
                  {code.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(code), name,
                   unit, price, proper, category});
}

void TempStore::nameSlot(const QString& kind, const QString& code, const QVariant& name) {
    m_store->exec(Db::Main, "UPDATE コードマスタ SET sname = ? WHERE kcode = ? AND code = ?",
                  {name, kind, code});
}

QStringList TempStore::dump(Db which, const QString& table) {
    QStringList out;
    for (const Row& r : m_store->query(which, "SELECT * FROM " + table + " ORDER BY 1")) {
        QStringList cells;
        for (const QVariant& v : r)
            cells << (v.isNull() ? QStringLiteral("<null>") : v.toString());
        out << cells.join('|');
    }
    return out;
}

QStringList ScriptedMessages::titles() const {
    QStringList t;
    for (const MsgDialog& d : presenter.shown)
        t << d.title;
    return t;
}

bool ScriptedPresenter::present(const MsgDialog& d) {
    shown.append(d);
    if (!answers.isEmpty())
        return answers.takeFirst();
    if (useDefaultButton)
        return d.style == MsgStyle::ConfirmYes;
    return defaultAnswer;
}
