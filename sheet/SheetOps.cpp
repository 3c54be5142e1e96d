#include "sheet/SheetOps.h"

#include "codes/CodeOps.h"
#include "products/ProductOps.h"
#include "work/WorkResets.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>

namespace sheet {

namespace {
// code … 商品区分: the fields a saved line shares with a work line.
QString lineFields() {
    return columns::list(Columns, ColCode);
}
} // namespace

std::int64_t Round端数(double& value, const QString& mode) {
    if (value > 9999999999.99 || value < -9999999999.99)
        return 0;
    if (mode == QStringLiteral("切り捨て")) {
        if (value > 0)
            value += 0.00000001;
    } else if (mode == QStringLiteral("四捨五入")) {
        value += value > 0 ? 0.5 : -0.5;
    } else {
        value += value > 0 ? 0.99999 : -0.99999;
    }
    return std::int64_t(std::trunc(value));
}

namespace {
QVariant nullValue() {
    return QVariant(QMetaType::fromType<QString>());
}
} // namespace

namespace {
// Read by every computation of a line (the phones' service too, on its own
// thread), set rarely: one program, one setting.
const QStringList& modes() {
    static const QStringList m{QStringLiteral("四捨五入"), QStringLiteral("切り捨て"),
                               QStringLiteral("切り上げ")};
    return m;
}
std::atomic<int> roundingMode{0};
} // namespace

void setAmountRounding(const QString& mode) {
    roundingMode = std::max(0, int(modes().indexOf(mode)));
}

QString amountRounding() {
    return modes()[roundingMode];
}

QVariant lineAmount(const QVariant& qty, const QVariant& price) {
    return lineAmount(qty, price, amountRounding());
}

QVariant lineAmount(const QVariant& qty, const QVariant& price, const QString& mode) {
    const auto q = wholeValue(qty);
    const auto p = isEmptyValue(price) ? std::nullopt : Currency::fromVariant(price);
    if (!q || !p)
        return nullValue();
    // Exact product in 1/10000 units, then the ledger's rounding on the double.
    const long double exact = static_cast<long double>(*q) * static_cast<long double>(p->units());
    double value = double(exact / Currency::Scale);
    const std::int64_t whole = Round端数(value, mode);
    return Currency::fromWhole(whole).toVariant();
}

QVariant lineChange(const QVariant& qty, const QVariant& proper) {
    const auto q = wholeValue(qty);
    const auto p = wholeValue(proper);
    if (!q || !p)
        return nullValue();
    return QVariant(qlonglong(*q - *p));
}

namespace {
// A product as a look-up reads it: 単位, 単価, 適正数, 商品区分, id, 版 (all
// null when there is none).
ProductLookup lookupOf(const Row& p) {
    ProductLookup r;
    if (p[4].isNull())
        return r;
    r.id = p[4].toLongLong();
    r.version = p[5].toLongLong();
    if (!p[0].isNull())
        r.unit = p[0].toString();
    if (auto c = Currency::fromVariant(p[1]))
        r.price = *c;
    if (auto q = wholeValue(p[2]))
        r.proper = *q;
    if (!p[3].isNull())
        r.category = p[3].toString();
    return r;
}
} // namespace

ProductLookup Seek商品(Store& store, const QString& name) {
    const Rows rows = store.query(
        Db::Main,
        "SELECT " + columns::list(products::Columns, products::ColUnit, products::SheetFieldsEnd) +
            ", id, 版 FROM 商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1",
        {name});
    return rows.isEmpty() ? ProductLookup() : lookupOf(rows.first());
}

NameMatch matchName(Store& store, const QString& name) {
    const Rows r =
        store.query(Db::Main, "SELECT count(*), max(code) FROM 商品マスタ WHERE 品名 = ?", {name});
    NameMatch m;
    m.products = r.value(0).value(0).toInt();
    if (m.products == 1)
        m.code = r[0][1].toString();
    return m;
}

namespace {
// The product fields a user can type on a line (the name is the product itself).
constexpr unsigned ProductFieldsTyped = typedBit(ColCode) | typedBit(ColUnit) | typedBit(ColPrice) |
                                        typedBit(ColProper) | typedBit(ColCategory);

// "商品id = ?, 商品版 = ?, 入力 = 0": a line filled from a product holds it as stored.
QString sourceAssignments() {
    return QString("%1 = ?, %2 = ?, %3 = 0").arg(ProductIdField, ProductVersionField, TypedField);
}

// A product field typed on a line: the save writes it. A line that never got
// its values from a product (loaded from a saved count, say) is taken to hold
// the named product as it is now.
void markTyped(Store& store, qint64 seq, Column column, const QVariant& name,
               const QVariant& productId) {
    QVariant id, version;
    if (productId.isNull() && !isEmptyValue(name)) {
        const ProductLookup p = Seek商品(store, name.toString());
        if (p.id) {
            id = p.id;
            version = p.version;
        }
    }
    store.exec(Db::Work,
               QString("UPDATE w在庫表 SET %1 = %1 | ?, %2 = coalesce(%2, ?), %3 = CASE WHEN %2 IS "
                       "NULL THEN ? ELSE %3 END WHERE seq = ?")
                   .arg(TypedField, ProductIdField, ProductVersionField),
               {qlonglong(typedBit(column)), id, version, seq});
}

// The code a named line should carry: the code of the one product with the
// name, when the line has none or carries the code of another product (its
// name was retyped); otherwise the line's own.
QVariant codeForName(Store& store, const QVariant& lineCode, const QString& name, bool* ambiguous) {
    const NameMatch m = matchName(store, name);
    *ambiguous = m.products > 1;
    if (m.products != 1 || m.code.isEmpty())
        return lineCode;
    if (isEmptyValue(lineCode))
        return m.code;
    const Rows other = store.query(Db::Main,
                                   "SELECT count(*), coalesce(sum(CASE WHEN 品名 = ? THEN 1 ELSE 0 "
                                   "END), 0) FROM 商品マスタ WHERE code = ?",
                                   {name, lineCode});
    const bool anotherProducts = other[0][0].toInt() > 0 && other[0][1].toInt() == 0;
    return anotherProducts ? QVariant(m.code) : lineCode;
}
} // namespace

Result<EditOutcome> afterCellEdit(Store& store, qint64 seq, int column) {
    return guardedValue<EditOutcome>([&] {
        EditOutcome outcome;
        const Rows rows = store.query(
            Db::Work,
            QString("SELECT 品名, 数量, 適正数, 単位, 単価, code, %1 FROM w在庫表 WHERE seq = ?")
                .arg(ProductIdField),
            {seq});
        if (rows.isEmpty())
            return outcome;
        const Row& line = rows.first();
        const QVariant name = line[0], qty = line[1], proper = line[2], unit = line[3],
                       price = line[4], code = line[5];
        if (typedBit(Column(column)) & ProductFieldsTyped)
            markTyped(store, seq, Column(column), name, line[6]);
        switch (column) {
        case ColCode: {
            // A code typed on a line without a name fills it from that product,
            // as a scanned code does; a named line keeps its name.
            if (!isEmptyValue(name) || isEmptyValue(code))
                return outcome;
            const QString fields =
                columns::list(products::Columns, products::ColName, products::SheetFieldsEnd);
            const Rows p = store.query(Db::Main,
                                       "SELECT " + fields +
                                           ", id, 版 FROM 商品マスタ WHERE code = ? ORDER BY id "
                                           "LIMIT 1",
                                       {code});
            if (p.isEmpty())
                return outcome;
            const QVariant pPrice = p[0][products::ColPrice - products::ColName],
                           pProper = p[0][products::ColProper - products::ColName];
            // The product's fields go into the sheet's fields of the same names;
            // the line now holds that product as stored, nothing typed into it.
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET " +
                           columns::assignments(products::Columns, products::ColName,
                                                products::SheetFieldsEnd) +
                           ", 金額 = ?, 増減 = ?, " + sourceAssignments() + " WHERE seq = ?",
                       {p[0][products::ColName - products::ColName],
                        p[0][products::ColUnit - products::ColName], pPrice, pProper,
                        p[0][products::ColCategory - products::ColName], lineAmount(qty, pPrice),
                        lineChange(qty, pProper), p[0][5], p[0][6], seq});
            break;
        }
        case ColName: {
            if (name.isNull())
                return outcome;
            const ProductLookup p = Seek商品(store, name.toString());
            // One product, one line: a scan of its code later counts here.
            const QVariant lineCode = codeForName(store, code, name.toString(), &outcome.ambiguous);
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET " +
                           columns::assignments(products::Columns, products::ColUnit,
                                                products::SheetFieldsEnd) +
                           ", code = ?, " + sourceAssignments() + " WHERE seq = ?",
                       {textOrNull(p.unit), p.price.isZero() ? nullValue() : p.price.toVariant(),
                        qlonglong(p.proper), textOrNull(p.category), lineCode,
                        p.id ? QVariant(p.id) : QVariant(), p.id ? QVariant(p.version) : QVariant(),
                        seq});
            break;
        }
        case ColQty:
            store.exec(Db::Work, "UPDATE w在庫表 SET 金額 = ?, 増減 = ? WHERE seq = ?",
                       {lineAmount(qty, price), lineChange(qty, proper), seq});
            break;
        case ColProper:
            store.exec(Db::Work, "UPDATE w在庫表 SET 増減 = ? WHERE seq = ?",
                       {lineChange(qty, proper), seq});
            break;
        case ColUnit:
            if (!isEmptyValue(unit)) {
                const Result<bool> added =
                    codes::autoEntry(store, codes::kindUnit(), unit.toString());
                if (!added)
                    throw StoreError(added.error(), store.sqlText(), added.status.kind);
                if (added.value) {
                    if (Status s = resets::read単位(store); !s)
                        throw StoreError(s.error, store.sqlText(), s.kind);
                    outcome.unitsChanged = true;
                }
            }
            break;
        case ColPrice:
            store.exec(Db::Work, "UPDATE w在庫表 SET 金額 = ? WHERE seq = ?",
                       {lineAmount(qty, price), seq});
            break;
        default:
            break;
        }
        return outcome;
    });
}

std::optional<Result<CellWritten>> writeCell(Store& store, qint64 seq, int column,
                                             const QVariant& value, const Row& line) {
    if ((column != ColQty && column != ColName) || line.size() != ColumnCount)
        return std::nullopt;
    return guardedValue<CellWritten>([&] {
        CellWritten w;
        w.line = line;
        Row& l = w.line;
        l[column] = value;
        if (column == ColQty) {
            l[ColAmount] = lineAmount(l[ColQty], l[ColPrice]);
            l[ColChange] = lineChange(l[ColQty], l[ColProper]);
            store.exec(Db::Work,
                       "UPDATE w在庫表 SET " +
                           columns::assignments(Columns, {ColQty, ColAmount, ColChange}) +
                           " WHERE seq = ?",
                       {l[ColQty], l[ColAmount], l[ColChange], seq});
            return w;
        }
        if (value.isNull()) {
            store.exec(Db::Work, "UPDATE w在庫表 SET 品名 = NULL WHERE seq = ?", {seq});
            return w;
        }
        // The first product of the name, how many have it, and whether the
        // line's code is another product's, in one read.
        const QString name = value.toString();
        const QVariant lineCode = l[ColCode];
        Row found;
        w.lookUp = guarded([&] {
            found =
                store
                    .query(Db::Main,
                           "SELECT p.単位, p.単価, p.適正数, p.商品区分, p.id, p.版, n.products, "
                           "n.code, (SELECT count(*) FROM 商品マスタ WHERE code = ?), "
                           "(SELECT count(*) FROM 商品マスタ WHERE code = ? AND 品名 = ?) "
                           "FROM (SELECT count(*) AS products, max(code) AS code FROM "
                           "商品マスタ WHERE 品名 = ?) n LEFT JOIN (SELECT * FROM 商品マスタ "
                           "WHERE 品名 = ? ORDER BY id LIMIT 1) p ON 1 = 1",
                           {lineCode, lineCode, name, name, name})
                    .value(0);
        });
        if (!w.lookUp || found.size() < 10) {
            // The server is away: the name alone, looked up again before the save.
            store.exec(Db::Work, "UPDATE w在庫表 SET 品名 = ? WHERE seq = ?", {value, seq});
            return w;
        }
        const ProductLookup p = lookupOf(found);
        w.products = found[6].toInt();
        w.outcome.ambiguous = w.products > 1;
        // One product, one line: a scan of its code later counts here. A line
        // carrying another product's code (its name was retyped) takes this one's.
        const QString only = w.products == 1 ? found[7].toString() : QString();
        if (!only.isEmpty() &&
            (isEmptyValue(lineCode) || (found[8].toInt() > 0 && found[9].toInt() == 0)))
            l[ColCode] = only;
        l[ColUnit] = textOrNull(p.unit);
        l[ColPrice] = p.price.isZero() ? nullValue() : p.price.toVariant();
        l[ColProper] = qlonglong(p.proper);
        l[ColCategory] = textOrNull(p.category);
        store.exec(Db::Work,
                   "UPDATE w在庫表 SET 品名 = ?, " +
                       columns::assignments(products::Columns, products::ColUnit,
                                            products::SheetFieldsEnd) +
                       ", code = ?, " + sourceAssignments() + " WHERE seq = ?",
                   {value, l[ColUnit], l[ColPrice], l[ColProper], l[ColCategory], l[ColCode],
                    p.id ? QVariant(p.id) : QVariant(), p.id ? QVariant(p.version) : QVariant(),
                    seq});
        return w;
    });
}

Result<Currency> calc明細(Store& store) {
    return guardedValue<Currency>([&] {
        const QVariant v = store.scalar(Db::Work, "SELECT sum(金額) AS total FROM w在庫表");
        return Currency::fromVariant(v).value_or(Currency());
    });
}

void Progress::step(int counter) {
    if (total == 0)
        return;
    interval = int(std::lround(total / 9.0));
    if (interval == 0)
        interval = 1;
    if (value < 100 && counter % interval == 0) {
        value += 10;
        if (value > 100)
            value = 100;
    }
}

Result<int> read在庫表(Store& store, const QDate& date, const QString& category,
                       const std::function<void(int)>& onProgress, LoadedFrom* from) {
    Progress progress;
    return guardedValue<int>([&] {
        const SavedSheet saved = valueOf(readSaved(store, date, category));
        progress.total = std::max(1, int(saved.lines.size()));
        // The whole sheet is loaded, also past the 500th line, so that a later
        // save cannot drop rows nobody saw.
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表");
        // Many lines a statement; the blank lines after them in one.
        Batch ins(store, Db::Work, "w在庫表", "チェック, " + lineFields() + ", " + SavedIdField,
                  LargeChunk);
        for (int i = 0; i < saved.lines.size(); ++i) {
            const Row& r = saved.lines[i].fields;
            QVariantList values;
            values.reserve(r.size() + 2);
            values << 0;
            values.append(r);
            values << saved.ids[i];
            ins.add(values);
            progress.step(i);
            if (onProgress)
                onProgress(progress.value);
        }
        ins.flush();
        if (const int blanks = resets::SheetLines - int(saved.lines.size()); blanks > 0)
            store.exec(
                Db::Work,
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
                "INSERT INTO w在庫表 (チェック) SELECT 0 FROM n",
                {blanks});
        t.commit();
        if (from)
            *from = LoadedFrom{date, saved.versions};
        return int(saved.lines.size());
    });
}

namespace {
// The named lines of the work sheet as the ledger takes them, with where
// their product fields came from.
QVector<CountLine> workLines(Store& store) {
    QVector<CountLine> out;
    const int width = ColumnCount - ColCode;
    for (const Row& r : store.query(
             Db::Work,
             "SELECT " + lineFields() +
                 QString(", %1, %2, %3").arg(ProductIdField, ProductVersionField, TypedField) +
                 " FROM w在庫表 WHERE 品名 IS NOT NULL ORDER BY seq"))
        out << CountLine{r.mid(0, width), r[width].toLongLong(), r[width + 1].toLongLong(),
                         unsigned(r[width + 2].toLongLong())};
    return out;
}
} // namespace

Result<MasterEffect> masterEffect(Store& store) {
    return guardedValue<MasterEffect>(
        [&] { return valueOf(masterEffectOf(store, workLines(store))); });
}

Result<int> entry在庫表(Store& store, const QDate& date, const QString& category,
                        const std::function<void(int)>& onProgress, const SaveMode& mode,
                        LoadedFrom* after) {
    return guardedValue<int>([&] {
        return valueOf(saveSheet(store, date, category, workLines(store), mode, onProgress, after));
    });
}

Result<LineDeleted> lineDelete在庫表(Store& store, qint64 seq, const std::optional<QDate>& date,
                                     const QString& counter) {
    return guardedValue<LineDeleted>([&] {
        LineDeleted out;
        const Rows line = store.query(
            Db::Work, QString("SELECT code, 品名, %1 FROM w在庫表 WHERE seq = ?").arg(SavedIdField),
            {seq});
        if (line.isEmpty())
            return out;
        const QVariant code = line[0][0], name = line[0][1], savedId = line[0][2];
        if (isEmptyValue(code) && isEmptyValue(name) && savedId.isNull())
            return out; // a blank line holds no product
        if (date && !savedId.isNull()) {
            const SavedLineDeleted saved =
                valueOf(deleteSavedLine(store, *date, savedId.toLongLong(), counter));
            out.saved = saved.saved;
            out.category = saved.category;
            out.version = saved.version;
        }
        Transaction w(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表 WHERE seq = ?", {seq});
        out.lines = store.scalar(Db::Work, "SELECT changes()").toInt();
        w.commit();
        return out;
    });
}

Result<QStringList> otherCategoryLines(Store& store, const QString& category) {
    return guardedValue<QStringList>([&] {
        QStringList out;
        if (category.isEmpty())
            return out;
        for (const Row& r : store.query(Db::Work,
                                        "SELECT 品名, 商品区分 FROM w在庫表 WHERE 品名 IS NOT NULL "
                                        "AND 商品区分 IS NOT NULL AND 商品区分 <> '' AND 商品区分 "
                                        "<> ? ORDER BY seq",
                                        {category}))
            out << QStringLiteral("%1（%2）").arg(r[0].toString(), r[1].toString());
        return out;
    });
}

Result<QSet<QString>> unknownNames(Store& store) {
    return guardedValue<QSet<QString>>([&] {
        QStringList names;
        for (const Row& r : store.query(Db::Work, "SELECT DISTINCT 品名 FROM w在庫表 "
                                                  "WHERE 品名 IS NOT NULL AND 品名 <> ''"))
            names << r[0].toString();
        const QHash<QString, Row> known = products::firstOfNames(store, names);
        QSet<QString> out;
        for (const QString& n : std::as_const(names))
            if (!known.contains(n))
                out.insert(n);
        return out;
    });
}

Result<int> namedLineCount(Store& store) {
    return guardedValue<int>([&] {
        return store.scalar(Db::Work, "SELECT count(*) FROM w在庫表 WHERE 品名 IS NOT NULL")
            .toInt();
    });
}

Result<int> read商品マスタto在庫表(Store& store) {
    return guardedValue<int>([&] {
        // The product's fields go into the sheet's fields of the same names.
        // Each line holds its product as stored now.
        const QString fields =
            columns::list(products::Columns, products::ColCode, products::SheetFieldsEnd);
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表");
        const int n = int(store.copyRows(
            Db::Main,
            "SELECT " + fields + ", id, 版 FROM 商品マスタ ORDER BY " + products::ShelfOrder, {},
            Db::Work, "w在庫表",
            fields + QString(", %1, %2").arg(ProductIdField, ProductVersionField)));
        if (n < resets::SheetLines)
            resets::addBlankLines(store, resets::SheetLines - n);
        t.commit();
        return n;
    });
}

Status fillSheetPrint(Store& store) {
    return guarded([&] {
        Transaction t(store, Db::Work);
        store.exec(Db::Work, "DELETE FROM w在庫表印刷");
        const QString fields = columns::list(Columns);
        store.exec(Db::Work, "INSERT INTO w在庫表印刷 (" + fields + ") SELECT " + fields +
                                 " FROM w在庫表 WHERE 品名 IS NOT NULL ORDER BY seq");
        // Each line's shelf: its product's by code, else by name (the first
        // product of each, as the sheet fills them). Only the products the
        // lines name are read, not the whole master.
        const Rows lines = store.queryMany(Db::Work, "SELECT seq, code, 品名 FROM w在庫表印刷");
        QStringList codes, names;
        for (const Row& l : lines)
            if (!isEmptyValue(l[1]))
                codes << l[1].toString();
        codes.removeDuplicates();
        QHash<QString, QVariant> byCode, byName;
        const auto read = [&](const QString& field, const QStringList& keys,
                              QHash<QString, QVariant>& into) {
            for (qsizetype from = 0; from < keys.size(); from += LargeChunk) {
                const QStringList part = keys.mid(from, LargeChunk);
                for (const Row& r : store.queryMany(
                         Db::Main,
                         "SELECT " + field + ", 棚番 FROM 商品マスタ WHERE 棚番 IS NOT NULL AND " +
                             field + " IN (" + marks(int(part.size())) + ") ORDER BY id DESC",
                         QVariantList(part.begin(), part.end())))
                    into.insert(r[0].toString(), r[1]);
            }
        };
        read("code", codes, byCode);
        // By name only the lines whose code gave no shelf.
        for (const Row& l : lines)
            if (isEmptyValue(l[1]) || !byCode.contains(l[1].toString()))
                names << l[2].toString();
        names.removeDuplicates();
        read("品名", names, byName);
        if (!byCode.isEmpty() || !byName.isEmpty()) {
            Batch shelves(
                store, Db::Work,
                [](int n) {
                    return "UPDATE w在庫表印刷 SET 棚番 = v.column2 FROM (VALUES " +
                           rowMarks(n, 2) + ") AS v WHERE w在庫表印刷.seq = v.column1";
                },
                2, LargeChunk);
            for (const Row& l : lines) {
                const QVariant shelf = !isEmptyValue(l[1]) && byCode.contains(l[1].toString())
                                           ? byCode.value(l[1].toString())
                                           : byName.value(l[2].toString());
                if (!shelf.isNull())
                    shelves.add({l[0], shelf});
            }
            shelves.flush();
        }
        t.commit();
    });
}

} // namespace sheet
