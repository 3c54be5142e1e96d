#include "store/Schema.h"

#include "store/Columns.h"

#include <QRegularExpression>
#include <QSqlQuery>

namespace schema {

namespace {
// The saved sheets by date and category with their amounts and quantities:
// the list of sheets and the valuation summary read only this index.
const char* SummaryIndex = "CREATE INDEX 在庫表_集計 ON 在庫表 (日付, 商品区分, 金額, 数量)";

// Every change to a saved count, with who, where and when: a date's entries
// newest first, and an entry's product.
const char* EntriesTable =
    "CREATE TABLE 棚卸記録 (id INTEGER PRIMARY KEY, 日付 TEXT NOT NULL, 商品区分 TEXT, 棚番 TEXT, "
    "商品 INTEGER, code TEXT, 品名 TEXT, 種類 TEXT NOT NULL, 前数量 INTEGER, 後数量 INTEGER, "
    "担当 TEXT, 端末 TEXT, 記録日時 TEXT NOT NULL, 取消 INTEGER)";
const QStringList EntryIndexes{"CREATE INDEX 棚卸記録_日付 ON 棚卸記録 (日付, 記録日時)",
                               "CREATE INDEX 棚卸記録_商品 ON 棚卸記録 (日付, 商品)"};

// Phones that count into the ledger, each paired once (its token kept only as
// a hash), and the scans each has sent: a scan sent again is stored once.
const char* DevicesTable =
    "CREATE TABLE 端末 (id INTEGER PRIMARY KEY, 名前 TEXT NOT NULL, 担当 TEXT, 鍵 TEXT NOT NULL, "
    "登録日時 TEXT NOT NULL, 最終接続 TEXT, 解除日時 TEXT)";
const QStringList DeviceIndexes{"CREATE UNIQUE INDEX 端末_鍵 ON 端末 (鍵)"};
const char* DeviceScansTable =
    "CREATE TABLE 端末スキャン (端末 INTEGER NOT NULL, 依頼 TEXT NOT NULL, "
    "記録 INTEGER, PRIMARY KEY (端末, 依頼))";

// The books' settings (評価方法, 経理方式, 単価の税, 端数処理): a name and its value.
const char* BooksTable = "CREATE TABLE 帳簿設定 (項目 TEXT PRIMARY KEY, 値 TEXT NOT NULL)";

// A count walks the shop shelf by shelf: the master read in shelf order.
const char* ShelfIndex = "CREATE INDEX 商品マスタ_棚番 ON 商品マスタ (棚番, code)";

// A line entering or leaving its sheet's row of 在庫表集計.
const QString AddLine = "INSERT INTO 在庫表集計 VALUES (NEW.日付, coalesce(NEW.商品区分, ''), 1, "
                        "coalesce(NEW.金額, 0)) ON CONFLICT (日付, 商品区分) DO UPDATE SET "
                        "行数 = 在庫表集計.行数 + 1, 金額 = 在庫表集計.金額 + excluded.金額;";
const QString TakeLine =
    "UPDATE 在庫表集計 SET 行数 = 行数 - 1, 金額 = 金額 - coalesce(OLD.金額, 0) "
    "WHERE 日付 = OLD.日付 AND 商品区分 = coalesce(OLD.商品区分, ''); "
    "DELETE FROM 在庫表集計 WHERE 日付 = OLD.日付 AND 商品区分 = coalesce(OLD.商品区分, '') "
    "AND 行数 <= 0;";
const QStringList TotalsTriggers{"在庫表集計_追加", "在庫表集計_削除", "在庫表集計_変更"};

QString table(const QString& name, const QString& columns) {
    return "CREATE TABLE " + name + " (" + columns + ")";
}
// A work table read in insertion order: a hidden sequence key, then its columns.
template <std::size_t N> QString workTable(const QString& name, const columns::Column (&cols)[N]) {
    return table(name, "seq INTEGER PRIMARY KEY, " + columns::definitions(cols));
}
} // namespace

QStringList sheetLineSources() {
    return {QString::fromUtf8(sheet::SavedIdField) + " INTEGER",
            QString::fromUtf8(sheet::ProductIdField) + " INTEGER",
            QString::fromUtf8(sheet::ProductVersionField) + " INTEGER",
            QString::fromUtf8(sheet::TypedField) + " INTEGER NOT NULL DEFAULT 0"};
}

namespace {
// The sheet's work tables keep their fields in the stored order; the sheet
// itself also remembers which saved line each of its lines was loaded from.
QString sheetWorkTable(const QString& name, bool withSavedId = false) {
    QStringList defs;
    for (sheet::Column c : sheet::StoredOrder)
        defs << columns::definition(sheet::Columns[c]);
    if (withSavedId)
        defs << sheetLineSources();
    return table(name, "seq INTEGER PRIMARY KEY, " + defs.join(", "));
}
// The print copy of a sheet: its lines with each product's shelf, which the
// count forms group by.
QString sheetPrintTable() {
    return sheetWorkTable("w在庫表印刷").chopped(1) + ", 棚番 TEXT)";
}
// A saved line is a sheet line with its date and number, without the mark.
QString savedLineColumns() {
    QStringList defs;
    for (int c = sheet::ColCode; c < sheet::ColumnCount; ++c)
        defs << QString::fromUtf8(sheet::Columns[c].field) + " " + sheet::Columns[c].sqlType();
    return "id INTEGER PRIMARY KEY, 日付 TEXT, 行番号 INTEGER, " + defs.join(", ");
}
// The product list's rows remember their product and version; an edit of a
// product field marks the row, so that 登録 writes only what was edited.
QString productListTable() {
    return workTable("w商品マスタ", products::Columns).chopped(1) + ", " + products::IdField +
           " INTEGER, " + products::VersionField + " INTEGER, " + products::EditedField +
           " INTEGER NOT NULL DEFAULT 0)";
}
QString productPrintTable() {
    return workTable("w商品マスタ印刷", products::Columns);
}
const QStringList ProductListEdited{
    "CREATE TRIGGER IF NOT EXISTS w商品マスタ_変更 AFTER UPDATE OF " +
        columns::list(products::Columns, products::ColCode) +
        " ON w商品マスタ BEGIN UPDATE w商品マスタ SET 変更 = 1 WHERE seq = NEW.seq; END",
    // 登録 finds the few edited rows of a long list without reading it all.
    "CREATE INDEX IF NOT EXISTS w商品マスタ_変更 ON w商品マスタ (変更) WHERE 変更 = 1"};

// Two writers never hold one slot, nor one name twice in a kind.
const QStringList SlotIndexes{
    "CREATE UNIQUE INDEX コードマスタ_kcode_code ON コードマスタ (kcode, code)",
    "CREATE UNIQUE INDEX コードマスタ_kcode_sname ON コードマスタ (kcode, sname) "
    "WHERE sname IS NOT NULL"};

} // namespace

const QVector<Table>& tables() {
    static const QVector<Table> all{
        {Db::Main,
         "在庫表",
         table("在庫表", savedLineColumns()),
         {"CREATE INDEX 在庫表_日付_区分 ON 在庫表 (日付, 商品区分, 行番号)",
          "CREATE INDEX 在庫表_日付_code ON 在庫表 (日付, code)", SummaryIndex}},
        {Db::Main,
         "商品マスタ",
         table("商品マスタ", "id INTEGER PRIMARY KEY, code TEXT, 品名 TEXT, 単位 TEXT, "
                             "単価 NUMERIC, 適正数 INTEGER, 商品区分 TEXT, 版 INTEGER NOT NULL "
                             "DEFAULT 1, 棚番 TEXT, 税率 INTEGER DEFAULT 10"),
         {"CREATE INDEX 商品マスタ_品名 ON 商品マスタ (品名)",
          "CREATE INDEX 商品マスタ_code ON 商品マスタ (code)",
          "CREATE INDEX 商品マスタ_区分 ON 商品マスタ (商品区分, code)", ShelfIndex}},
        // An empty name would become a blank item in every list, so the schema refuses it.
        {Db::Main, "コードマスタ",
         table("コードマスタ", "id INTEGER PRIMARY KEY, kcode TEXT, code TEXT, "
                               "sname TEXT CHECK (sname IS NULL OR length(sname) > 0)"),
         SlotIndexes},
        {Db::Main, "棚卸記録", EntriesTable, EntryIndexes, 5},
        {Db::Main, "端末", DevicesTable, DeviceIndexes, 6},
        {Db::Main, "端末スキャン", DeviceScansTable, {}, 6},
        {Db::Main,
         "自社情報",
         table("自社情報", "id INTEGER PRIMARY KEY, 会社名 TEXT, 住所 TEXT, 電話番号 TEXT"),
         {}},
        // The settings of the books, one row each, shared by every PC of the ledger.
        {Db::Main, "帳簿設定", BooksTable, {}, 8},
        {Db::Work,
         "w在庫表",
         sheetWorkTable("w在庫表", true),
         {"CREATE INDEX w在庫表_code ON w在庫表 (code)"}},
        {Db::Work, "w商品マスタ", productListTable(), ProductListEdited},
        {Db::Work, "w商品区分参照", workTable("w商品区分参照", codes::NameColumns), {}},
        {Db::Work, "w単位参照", workTable("w単位参照", codes::NameColumns), {}},
        // AUTOINCREMENT: 行番号 is assigned by the database and never reused.
        {Db::Work,
         "wコードマスタ",
         table("wコードマスタ", "行番号 INTEGER PRIMARY KEY AUTOINCREMENT, " +
                                    columns::definitions(codes::CodeColumns).section(", ", 1)),
         {}},
        {Db::Work, "w在庫表印刷", sheetPrintTable(), {}},
        {Db::Work, "w商品マスタ印刷", productPrintTable(), {}},
        {Db::Work,
         "ClHint",
         table("ClHint", "id INTEGER PRIMARY KEY, FormName TEXT, CtlName TEXT, FormTitle TEXT, "
                         "Contents TEXT"),
         {"CREATE INDEX ClHint_key ON ClHint (FormName, CtlName)"}},
    };
    return all;
}

QStringList slotKinds() {
    return {QStringLiteral("商品区分"), QStringLiteral("単位")};
}

const QStringList& sheetTotals() {
    static const QStringList statements{
        "CREATE TABLE IF NOT EXISTS 在庫表集計 (日付 TEXT NOT NULL, 商品区分 TEXT NOT NULL, "
        "行数 INTEGER NOT NULL, 金額 NUMERIC NOT NULL, PRIMARY KEY (日付, 商品区分))",
        "CREATE TRIGGER IF NOT EXISTS 在庫表集計_追加 AFTER INSERT ON 在庫表 BEGIN " + AddLine +
            " END",
        "CREATE TRIGGER IF NOT EXISTS 在庫表集計_削除 AFTER DELETE ON 在庫表 BEGIN " + TakeLine +
            " END",
        "CREATE TRIGGER IF NOT EXISTS 在庫表集計_変更 AFTER UPDATE OF 日付, 商品区分, 金額 ON "
        "在庫表 "
        "BEGIN " +
            TakeLine + " " + AddLine + " END"};
    return statements;
}

const QStringList& sheetVersions() {
    static const QStringList statements{
        "CREATE TABLE IF NOT EXISTS 在庫表版 (日付 TEXT NOT NULL, 商品区分 TEXT NOT NULL, "
        "版 INTEGER NOT NULL, 保存日時 TEXT, PRIMARY KEY (日付, 商品区分))",
        "CREATE TABLE IF NOT EXISTS 在庫表確定 (日付 TEXT PRIMARY KEY, 確定日時 TEXT NOT NULL)"};
    return statements;
}

QString servedOnServer(QString sql) {
    // The local file's definitions in the server's types: the same columns,
    // one source.
    sql.replace(QRegularExpression("\\bid INTEGER PRIMARY KEY\\b"),
                "id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
    sql.replace(QRegularExpression("\\bINTEGER\\b"), "bigint");
    sql.replace(QRegularExpression("\\bTEXT\\b"), "text COLLATE \"C\"");
    return sql;
}

QStringList serverStatements() {
    const auto served = servedOnServer;
    QStringList out{"CREATE TABLE stolva_schema (version integer NOT NULL)"};
    for (const Table& t : tables())
        if (t.db == Db::Main)
            out << served(t.definition) << t.indexes;
    out << served(sheetTotals()[0]);
    for (const QString& sql : sheetVersions())
        out << served(sql);
    return out << serverTotals() << countNotices();
}

QStringList serverTotals() {
    // Once per statement, over the lines it changed: a save of 500 lines
    // updates each total once, not once per line. PostgreSQL takes
    // transition tables on triggers of one event each.
    const QString take =
        "UPDATE 在庫表集計 AS t SET 行数 = t.行数 - o.n, 金額 = t.金額 - o.a FROM (SELECT 日付, "
        "coalesce(商品区分, '') AS k, count(*) AS n, sum(coalesce(金額, 0)) AS a FROM 前の行 GROUP "
        "BY 1, 2) AS o WHERE t.日付 = o.日付 AND t.商品区分 = o.k; DELETE FROM 在庫表集計 AS t "
        "USING (SELECT DISTINCT 日付, coalesce(商品区分, '') AS k FROM 前の行) AS o WHERE t.日付 = "
        "o.日付 AND t.商品区分 = o.k AND t.行数 <= 0;";
    const QString add =
        "INSERT INTO 在庫表集計 SELECT 日付, coalesce(商品区分, ''), count(*), sum(coalesce(金額, "
        "0)) FROM 後の行 GROUP BY 1, 2 ON CONFLICT (日付, 商品区分) DO UPDATE SET 行数 = "
        "在庫表集計.行数 + excluded.行数, 金額 = 在庫表集計.金額 + excluded.金額;";
    return {"CREATE FUNCTION stolva_totals_of_lines() RETURNS trigger LANGUAGE plpgsql AS $$ "
            "BEGIN IF TG_OP <> 'INSERT' THEN " +
                take + " END IF; IF TG_OP <> 'DELETE' THEN " + add + " END IF; RETURN NULL; END $$",
            "CREATE TRIGGER 在庫表集計_追加 AFTER INSERT ON 在庫表 REFERENCING NEW TABLE AS 後の行 "
            "FOR EACH STATEMENT EXECUTE FUNCTION stolva_totals_of_lines()",
            "CREATE TRIGGER 在庫表集計_削除 AFTER DELETE ON 在庫表 REFERENCING OLD TABLE AS 前の行 "
            "FOR EACH STATEMENT EXECUTE FUNCTION stolva_totals_of_lines()",
            "CREATE TRIGGER 在庫表集計_変更 AFTER UPDATE ON 在庫表 REFERENCING OLD TABLE AS 前の行 "
            "NEW TABLE AS 後の行 FOR EACH STATEMENT EXECUTE FUNCTION stolva_totals_of_lines()"};
}

QStringList countNotices() {
    // Sent at commit, once per sheet changed: no extra round trip for the writer.
    return {QStringLiteral("CREATE FUNCTION stolva_count_notice() RETURNS trigger LANGUAGE "
                           "plpgsql AS $$ BEGIN PERFORM pg_notify('%1', NEW.日付); RETURN NULL; "
                           "END $$")
                .arg(CountChannel),
            "CREATE TRIGGER 在庫表版_知らせ AFTER INSERT OR UPDATE ON 在庫表版 FOR EACH ROW "
            "EXECUTE FUNCTION stolva_count_notice()"};
}

namespace {
QStringList column(QSqlQuery& q) {
    QStringList out;
    while (q.next())
        out << q.value(0).toString();
    return out;
}
QStringList strings(const QSqlDatabase& db, const QString& sql, const QString& bound = QString(),
                    const QString& second = QString()) {
    QSqlQuery q(db);
    q.prepare(sql);
    if (!bound.isNull())
        q.addBindValue(bound);
    if (!second.isNull())
        q.addBindValue(second);
    if (!q.exec())
        return {QStringLiteral("読めません: ") + sql};
    return column(q);
}
QString normalized(QString sql) {
    return sql.simplified();
}

// A definition as SQLite reads it: keywords and names in one case, quotes
// around names and spacing gone; quoted texts ('…') kept as they are.
QString canonical(const QString& sql) {
    QString out;
    out.reserve(sql.size());
    bool space = false;
    for (int i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == '\'') {
            const int end = sql.indexOf('\'', i + 1);
            const int stop = end < 0 ? int(sql.size()) : end + 1;
            if (space && !out.isEmpty())
                out += ' ';
            space = false;
            out += sql.mid(i, stop - i);
            i = stop - 1;
            continue;
        }
        if (c == '"' || c == '`' || c == '[' || c == ']')
            continue;
        if (c.isSpace()) {
            space = true;
            continue;
        }
        const bool tight = c == '(' || c == ')' || c == ',';
        if (space && !out.isEmpty() && !tight && !out.endsWith('(') && !out.endsWith(','))
            out += ' ';
        space = false;
        out += c.unicode() < 128 ? c.toUpper() : c;
    }
    return out;
}

// A table's columns and constraints, each on its own (a column added later
// stands at the end of the text but means the same), and what follows them.
QStringList definitionItems(const QString& sql) {
    const QString text = canonical(sql);
    const int open = text.indexOf('(');
    QStringList items;
    if (open < 0)
        return {text};
    int depth = 0, start = open + 1, close = -1;
    bool quoted = false;
    for (int i = open; i < text.size() && close < 0; ++i) {
        const QChar c = text[i];
        if (c == '\'')
            quoted = !quoted;
        if (quoted)
            continue;
        if (c == '(')
            ++depth;
        else if (c == ')' && --depth == 0)
            close = i;
        if ((c == ',' && depth == 1) || close == i) {
            items << text.mid(start, i - start);
            start = i + 1;
        }
    }
    items << QStringLiteral("AFTER: ") + text.mid(close < 0 ? text.size() : close + 1);
    return items;
}
} // namespace

QStringList signature(const QSqlDatabase& db) {
    QStringList out;
    for (const QString& t : strings(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                        "name NOT LIKE 'sqlite_%' ORDER BY name"))
        for (const QString& c :
             strings(db,
                     "SELECT name || ' ' || upper(type) || CASE WHEN \"notnull\" THEN ' NOT NULL' "
                     "ELSE '' END || CASE WHEN pk THEN ' KEY ' || pk ELSE '' END || "
                     "coalesce(' DEFAULT ' || dflt_value, '') FROM pragma_table_info(?) "
                     "ORDER BY cid",
                     t))
            out << "table " + t + ": " + c;
    // The whole definition: a conflict clause, a CHECK, a collation or a
    // foreign key changes what a write does though the columns are the same.
    for (const QString& t : strings(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                        "name NOT LIKE 'sqlite_%' ORDER BY name")) {
        QStringList items = definitionItems(
            strings(db, "SELECT sql FROM sqlite_master WHERE name = ?", t).value(0));
        items.sort();
        for (const QString& item : items)
            out << "definition " + t + ": " + item;
    }
    // Every index, those the constraints make included: its keys with their
    // collations, unique or not, partial or not, and its own text.
    for (const QString& i : strings(db, "SELECT name FROM sqlite_master WHERE type = 'index' "
                                        "ORDER BY name")) {
        const QString table =
            strings(db, "SELECT tbl_name FROM sqlite_master WHERE name = ?", i).value(0);
        const QString how =
            strings(db,
                    "SELECT CASE WHEN \"unique\" THEN ' UNIQUE' ELSE '' END || ' ' || origin || "
                    "CASE WHEN partial THEN ' PARTIAL' ELSE '' END FROM pragma_index_list(?) "
                    "WHERE name = ?",
                    table, i)
                .value(0);
        const QString sql = strings(db, "SELECT sql FROM sqlite_master WHERE name = ?", i).value(0);
        out << "index " + i + ": " + table + " (" +
                   strings(db,
                           "SELECT coalesce(name, '') || ' ' || coll || CASE WHEN desc THEN ' "
                           "DESC' ELSE '' END FROM pragma_index_xinfo(?) WHERE key ORDER BY seqno",
                           i)
                       .join(", ") +
                   ")" + how + (sql.isEmpty() ? QString() : " " + canonical(sql));
    }
    for (const QString& kind : {QStringLiteral("trigger"), QStringLiteral("view")})
        for (const QString& sql :
             strings(db, "SELECT sql FROM sqlite_master WHERE type = ? ORDER BY name", kind))
            out << kind + ": " + normalized(sql);
    return out;
}

namespace {
// What `read` gives of a main file made afresh by this version, in memory.
QStringList ofFreshMain(const QString& name, QStringList (*read)(const QSqlDatabase&)) {
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(":memory:");
        db.open();
        QStringList statements;
        for (const Table& t : tables())
            if (t.db == Db::Main)
                statements << t.definition << t.indexes;
        statements << sheetTotals() << sheetVersions();
        for (const QString& sql : statements)
            QSqlQuery(db).exec(sql);
        out = read(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return out;
}

// The schema as SQLite keeps it: every definition's text, in one order.
QStringList definitions(const QSqlDatabase& db) {
    return strings(db, "SELECT type || ' ' || name || ' ' || tbl_name || ' ' || "
                       "coalesce(sql, '') FROM sqlite_master ORDER BY type, name");
}
} // namespace

const QStringList& mainReference() {
    static const QStringList reference =
        ofFreshMain(QStringLiteral("schema-reference"), &signature);
    return reference;
}

QString mainDifference(const QSqlDatabase& db) {
    // Everything the signature compares follows from the definitions' texts:
    // a file made by this version has exactly the reference's, and needs no
    // closer look (a file upgraded step by step has other texts, and gets it).
    static const QStringList referenceTexts =
        ofFreshMain(QStringLiteral("schema-reference-texts"), &definitions);
    if (definitions(db) == referenceTexts)
        return QString();
    const QStringList actual = signature(db);
    const QStringList& expected = mainReference();
    QStringList said;
    for (const QString& line : actual)
        if (!expected.contains(line))
            said << QStringLiteral("余分または違う定義: ") + line;
    for (const QString& line : expected)
        if (!actual.contains(line))
            said << QStringLiteral("ありません: ") + line;
    if (said.size() > 6)
        said = said.mid(0, 6) << QStringLiteral("ほか %1 件").arg(said.size() - 6);
    return said.join(QStringLiteral("\n"));
}

} // namespace schema

QVector<Store::Upgrade> Store::upgrades() {
    return {
        {QStringLiteral("保存済み在庫表の集計"),
         [](Store& s) {
             s.exec(Db::Main, QString(schema::SummaryIndex)
                                  .replace("CREATE INDEX", "CREATE INDEX IF NOT EXISTS"));
             for (const QString& sql : schema::sheetTotals())
                 s.exec(Db::Main, sql);
             s.exec(Db::Main, "DELETE FROM 在庫表集計");
             s.exec(Db::Main, "INSERT INTO 在庫表集計 SELECT 日付, ifnull(商品区分, ''), "
                              "count(*), total(金額) FROM 在庫表 GROUP BY 1, 2");
         }},
        {QStringLiteral("保存済み在庫表の版と確定"),
         [](Store& s) {
             for (const QString& sql : schema::sheetVersions())
                 s.exec(Db::Main, sql);
             // Sheets saved before versions were kept start at version 1, time unknown.
             s.exec(Db::Main, "INSERT OR IGNORE INTO 在庫表版 (日付, 商品区分, 版) "
                              "SELECT 日付, 商品区分, 1 FROM 在庫表集計");
         },
         [](Store& s) {
             const QString field = QString::fromUtf8(sheet::SavedIdField);
             if (s.scalar(Db::Work,
                          "SELECT count(*) FROM pragma_table_info('w在庫表') WHERE name = ?",
                          {field})
                     .toInt() == 0)
                 s.exec(Db::Work, "ALTER TABLE w在庫表 ADD COLUMN " + field + " INTEGER");
         }},
        {QStringLiteral("商品の版と重ならない区分・単位"),
         [](Store& s) {
             s.exec(Db::Main, "ALTER TABLE 商品マスタ ADD COLUMN 版 INTEGER NOT NULL DEFAULT 1");
             // A slot stored twice keeps its first row; a name held by two
             // slots of a kind stays in the first of them.
             s.exec(Db::Main, "DELETE FROM コードマスタ WHERE id NOT IN (SELECT min(id) FROM "
                              "コードマスタ GROUP BY kcode, code)");
             s.exec(Db::Main, "UPDATE コードマスタ SET sname = NULL WHERE sname IS NOT NULL "
                              "AND id NOT IN (SELECT min(id) FROM コードマスタ WHERE sname IS "
                              "NOT NULL GROUP BY kcode, sname)");
             s.exec(Db::Main, "DROP INDEX IF EXISTS コードマスタ_kcode_code");
             for (const QString& sql : schema::SlotIndexes)
                 s.exec(Db::Main, sql);
             // The totals' triggers in the form both engines read.
             for (const QString& name : schema::TotalsTriggers)
                 s.exec(Db::Main, "DROP TRIGGER IF EXISTS " + name);
             for (const QString& sql : schema::sheetTotals())
                 s.exec(Db::Main, sql);
         },
         [](Store& s) {
             // The product list is read afresh; its rows then carry their products.
             s.exec(Db::Work, "DROP TABLE IF EXISTS w商品マスタ");
             // The product drop-down reads the ledger itself.
             s.exec(Db::Work, "DROP TABLE IF EXISTS w商品参照");
             s.exec(Db::Work, schema::productListTable());
             for (const QString& sql : schema::ProductListEdited)
                 s.exec(Db::Work, sql);
         }},
        {QStringLiteral("商品の棚番と棚卸記録"),
         [](Store& s) {
             // A file that came through the older steps already has the
             // table as this version makes it.
             if (s.scalar(Db::Main, "SELECT count(*) FROM pragma_table_info('商品マスタ') "
                                    "WHERE name = '棚番'")
                     .toInt() == 0)
                 s.exec(Db::Main, "ALTER TABLE 商品マスタ ADD COLUMN 棚番 TEXT");
             s.exec(
                 Db::Main,
                 QString(schema::ShelfIndex).replace("CREATE INDEX", "CREATE INDEX IF NOT EXISTS"));
             s.exec(Db::Main, QString(schema::EntriesTable)
                                  .replace("CREATE TABLE", "CREATE TABLE IF NOT EXISTS"));
             for (QString sql : schema::EntryIndexes)
                 s.exec(Db::Main, sql.replace("CREATE INDEX", "CREATE INDEX IF NOT EXISTS"));
         },
         [](Store& s) {
             // The product list and both print copies gain the column; the
             // list is read afresh.
             for (const char* t : {"w商品マスタ", "w商品マスタ印刷", "w在庫表印刷"})
                 s.exec(Db::Work, QStringLiteral("DROP TABLE IF EXISTS ") + t);
             s.exec(Db::Work, schema::productListTable());
             for (const QString& sql : schema::ProductListEdited)
                 s.exec(Db::Work, sql);
             s.exec(Db::Work, schema::productPrintTable());
             s.exec(Db::Work, schema::sheetPrintTable());
         },
         [](Store& s) {
             s.exec(Db::Main, "ALTER TABLE 商品マスタ ADD COLUMN 棚番 text COLLATE \"C\"");
             s.exec(Db::Main, schema::ShelfIndex);
             s.exec(Db::Main, schema::servedOnServer(schema::EntriesTable));
             for (const QString& sql : schema::EntryIndexes)
                 s.exec(Db::Main, sql);
         }},
        // The phones' tables on both; a local file has one PC at a time, so
        // only a server announces changed counts.
        {QStringLiteral("変更の知らせとスマホの端末"),
         [](Store& s) {
             for (const char* sql : {schema::DevicesTable, schema::DeviceScansTable})
                 s.exec(Db::Main,
                        QString(sql).replace("CREATE TABLE", "CREATE TABLE IF NOT EXISTS"));
             for (QString sql : schema::DeviceIndexes)
                 s.exec(Db::Main,
                        sql.replace("CREATE UNIQUE INDEX", "CREATE UNIQUE INDEX IF NOT EXISTS"));
         },
         {},
         [](Store& s) {
             for (const QString& sql : schema::countNotices())
                 s.exec(Db::Main, sql);
             for (const char* sql : {schema::DevicesTable, schema::DeviceScansTable})
                 s.exec(Db::Main, schema::servedOnServer(sql));
             for (const QString& sql : schema::DeviceIndexes)
                 s.exec(Db::Main, sql);
         }},
        // A server keeps the totals once per statement; a local file's
        // triggers stay as they are (SQLite has only row triggers).
        {QStringLiteral("集計を文ごとに"),
         [](Store&) {},
         {},
         [](Store& s) {
             s.exec(Db::Main, "DROP TRIGGER 在庫表集計_変更 ON 在庫表");
             s.exec(Db::Main, "DROP FUNCTION stolva_totals()");
             for (const QString& sql : schema::serverTotals())
                 s.exec(Db::Main, sql);
         }},
        // The year-end count: each product's tax rate and the books' settings.
        {QStringLiteral("帳簿の設定と税率"),
         [](Store& s) {
             s.exec(Db::Main, "ALTER TABLE 商品マスタ ADD COLUMN 税率 INTEGER DEFAULT 10");
             s.exec(
                 Db::Main,
                 QString(schema::BooksTable).replace("CREATE TABLE", "CREATE TABLE IF NOT EXISTS"));
         },
         [](Store& s) {
             // The product list and its print copy gain the column; the list is read afresh.
             for (const char* t : {"w商品マスタ", "w商品マスタ印刷"})
                 s.exec(Db::Work, QStringLiteral("DROP TABLE IF EXISTS ") + t);
             s.exec(Db::Work, schema::productListTable());
             for (const QString& sql : schema::ProductListEdited)
                 s.exec(Db::Work, sql);
             s.exec(Db::Work, schema::productPrintTable());
         },
         [](Store& s) {
             s.exec(Db::Main, "ALTER TABLE 商品マスタ ADD COLUMN 税率 bigint DEFAULT 10");
             s.exec(Db::Main, schema::servedOnServer(schema::BooksTable));
         }}};
}
