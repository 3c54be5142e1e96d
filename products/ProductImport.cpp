#include "exchange/ImportRecords.h"

#include "base/Values.h"
#include "codes/CodeOps.h"
#include "exchange/Export.h"
#include "products/ProductOps.h"
#include "store/Columns.h"

#include <QRegularExpression>
#include <QSet>
#include <map>
#include <memory>

// Products read from a file: each record matched with the master, previewed,
// then written as the user saw it.
namespace exchange {

namespace {
using namespace records;

// The product fields an import reads, in master order (code first).
const QStringList& productNames() {
    static const QStringList names = [] {
        QStringList n;
        for (int c = products::ColCode; c < products::ColumnCount; ++c)
            n << headerName(QString::fromUtf8(products::Columns[c].field));
        return n;
    }();
    return names;
}

// A price as Excel users write it: a yen sign first (¥, ￥, or the backslash
// CP932's yen becomes) is not part of the number.
QString withoutYen(const QString& text) {
    QString t = text.trimmed();
    const bool negative = t.startsWith('-');
    if (negative)
        t.remove(0, 1);
    if (t.startsWith(QChar(0x00A5)) || t.startsWith(QChar(0xFFE5)) || t.startsWith('\\'))
        t.remove(0, 1);
    return negative ? "-" + t : t;
}

// Master values compare as the file would write them.
QString comparable(const QVariant& v, columns::Kind kind) {
    if (isEmptyValue(v))
        return QString();
    if (kind == columns::Kind::Money)
        return Currency::fromVariant(v).value_or(Currency()).toString();
    if (kind == columns::Kind::Whole)
        return QString::number(v.toLongLong());
    return v.toString();
}

// The code master's names by kind, and how many slots are free, as the
// import enters names in record order.
struct SlotRoom {
    QSet<QString> held[2];
    int free[2] = {0, 0};
    explicit SlotRoom(Store& store) {
        const QString kinds[2] = {codes::kindUnit(), codes::kindCategory()};
        for (int k = 0; k < 2; ++k)
            for (const Row& r : store.query(
                     Db::Main, "SELECT sname FROM コードマスタ WHERE kcode = ?", {kinds[k]})) {
                if (r[0].isNull())
                    ++free[k];
                else
                    held[k].insert(r[0].toString());
            }
    }
};

Result<ProductPreview> buildPreview(Store& store, const Table& table, const Progress& progress) {
    using namespace products;
    Result<ProductPreview> r;
    const Result<Header> header = readHeader(table, productNames(), NameName, &r.value.header);
    if (!header) {
        r.status = header.status;
        return r;
    }
    const Header& h = header.value;
    r.value.ignoredColumns = h.ignored;
    r.value.encoding = table.encoding;
    r.status = guarded([&] {
        // The master in memory: the first product of each code and of each
        // name, and how many products have each name.
        QHash<QString, int> byCode, byName, nameCount;
        const Rows master = store.query(Db::Main, "SELECT id, " + columns::list(Columns, ColCode) +
                                                      " FROM 商品マスタ ORDER BY id");
        for (int i = 0; i < master.size(); ++i) {
            const QString code = master[i][1].toString(), name = master[i][2].toString();
            if (!code.isEmpty() && !byCode.contains(code))
                byCode.insert(code, i);
            if (!byName.contains(name))
                byName.insert(name, i);
            ++nameCount[name];
        }
        const QHash<QString, QString> zeroLed = zeroLedCodes(byCode.keys());
        SlotRoom room(store);
        QHash<QString, int> codeLine, nameLine; // first record of a code, of a new name
        QHash<qint64, int> targetLine;          // first record updating a product
        const bool finished =
            eachRecord(table, h, progress, [&](qsizetype i, const QStringList& rec) {
                ProductLine line;
                line.line = i + 1;
                const auto fail = [&](const QString& reason) {
                    line.action = RowAction::Error;
                    line.reason = reason;
                    keepError(r.value, line);
                };
                const auto cell = [&](const QString& name) {
                    const int at = h.at(name);
                    return at < 0 || at >= rec.size() ? QString() : rec[at];
                };
                const QString code = cell(CodeName), name = cell(NameName);
                line.code = code;
                line.name = name;
                if (rec.size() != h.width) {
                    fail(QStringLiteral("列の数が %1 です（見出しは %2 列）。")
                             .arg(rec.size())
                             .arg(h.width));
                    return;
                }
                if (name.trimmed().isEmpty()) {
                    fail(QStringLiteral("品名が空です。"));
                    return;
                }
                if (const QString e = tooLong(h, NameName, name) + tooLong(h, CodeName, code);
                    !e.isEmpty()) {
                    fail(e);
                    return;
                }
                // The stored product this record updates, if any: by its code
                // only, or by a name exactly one product has.
                int m = -1;
                bool codeChange = false;
                const int sameName = nameCount.value(name);
                if (!code.isEmpty()) {
                    m = byCode.value(code, -1);
                    if (m < 0) {
                        if (const QString e = mangledCode(code, zeroLed); !e.isEmpty()) {
                            fail(e);
                            return;
                        }
                        // The one product of the name has no code yet: it may take this one.
                        const int named = byName.value(name, -1);
                        if (sameName == 1 && master[named][1].toString().isEmpty()) {
                            m = named;
                            codeChange = true;
                        }
                    }
                } else if (sameName > 1) {
                    fail(sameNameMessage(sameName));
                    return;
                } else if (sameName == 1) {
                    m = byName.value(name);
                }
                // Values to write: the file's where it has the column, else the stored ones.
                QVariantList values;
                QString error;
                for (int c = ColCode; c < ColumnCount && error.isEmpty(); ++c) {
                    const QString field = productNames()[c - ColCode];
                    const QVariant stored = m >= 0 ? master[m][c - ColCode + 1] : QVariant();
                    if (h.at(field) < 0 || (c == ColCode && code.isEmpty())) {
                        values << stored;
                        continue;
                    }
                    const QString text = cell(field);
                    if (Columns[c].kind == columns::Kind::Text) {
                        error = tooLong(h, field, text);
                        values << textOrNull(text);
                    } else if (text.trimmed().isEmpty()) {
                        values << QVariant();
                    } else if (Columns[c].kind == columns::Kind::Money) {
                        const auto price = parseCurrency(withoutYen(text));
                        if (!price)
                            error = columnError(h, field, text, QStringLiteral("金額"));
                        else
                            values << price->toVariant();
                    } else {
                        const auto whole = parseWholeNumber(text);
                        if (!whole)
                            error = columnError(h, field, text, QStringLiteral("整数"));
                        else
                            values << qlonglong(*whole);
                    }
                }
                if (!error.isEmpty()) {
                    fail(error);
                    return;
                }
                if (!code.isEmpty() && codeLine.contains(code)) {
                    fail(QStringLiteral("コード「%1」が %2 行目にもあります。")
                             .arg(code)
                             .arg(codeLine[code]));
                    return;
                }
                if (m >= 0 && targetLine.contains(master[m][0].toLongLong())) {
                    fail(sameAs(targetLine[master[m][0].toLongLong()]));
                    return;
                }
                if (m < 0 && code.isEmpty() && nameLine.contains(name)) {
                    fail(sameAs(nameLine[name]));
                    return;
                }
                // A new unit or category needs a free slot of the code master.
                const QString names[2] = {values[ColUnit - ColCode].toString(),
                                          values[ColCategory - ColCode].toString()};
                QStringList notFitting;
                for (int k = 0; k < 2; ++k)
                    if (!names[k].isEmpty() && !room.held[k].contains(names[k]) &&
                        room.free[k] == 0)
                        notFitting << names[k];
                if (!notFitting.isEmpty()) {
                    for (const QString& n : notFitting)
                        if (!r.value.namesNotFitting.contains(n))
                            r.value.namesNotFitting << n;
                    fail(QStringLiteral("「%1」は単位・商品区分の 30 件の枠に入りません。")
                             .arg(notFitting.join("」「")));
                    return;
                }
                for (int k = 0; k < 2; ++k)
                    if (!names[k].isEmpty() && !room.held[k].contains(names[k])) {
                        room.held[k].insert(names[k]);
                        --room.free[k];
                        line.newNames[k] << names[k];
                    }
                if (!code.isEmpty())
                    codeLine.insert(code, line.line);
                line.values = values;
                if (m < 0) {
                    line.action = RowAction::New;
                    nameLine.insert(name, line.line);
                } else {
                    line.id = master[m][0].toLongLong();
                    targetLine.insert(line.id, line.line);
                    QStringList said; // what changes, old → new, for the preview
                    for (int c = ColCode; c < ColumnCount; ++c) {
                        const QString now = comparable(values[c - ColCode], Columns[c].kind),
                                      was = comparable(master[m][c - ColCode + 1], Columns[c].kind);
                        if (now == was)
                            continue;
                        line.changed |= 1u << (c - ColCode);
                        said << QStringLiteral("%1 %2 → %3")
                                    .arg(productNames()[c - ColCode],
                                         was.isEmpty() ? QStringLiteral("（なし）") : was,
                                         now.isEmpty() ? QStringLiteral("（なし）") : now);
                    }
                    line.reason = said.join(QStringLiteral("、"));
                    line.action = codeChange     ? RowAction::CodeChange
                                  : line.changed ? RowAction::Update
                                                 : RowAction::Unchanged;
                    if (!line.changed)
                        line.values.clear(); // nothing to write: the preview keeps what it shows
                }
                r.value.lines << line;
            });
        // Cancelled: nothing of the preview is used.
        if (!finished)
            throw StoreError(cancelled(), QString());
    });
    return r;
}

} // namespace

int ProductPreview::count(RowAction a) const {
    return countOf(lines, a) + (a == RowAction::Error ? errorsNotShown : 0);
}

Result<ProductPreview> previewProducts(Store& store, const Table& table, const Progress& progress) {
    return buildPreview(store, table, progress);
}

Result<ProductPreview> importProducts(Store& store, const Table& table) {
    Result<ProductPreview> r = previewProducts(store, table);
    if (r)
        r.status = importProducts(store, r.value);
    return r;
}

Status importProducts(Store& store, const ProductPreview& preview, const Progress& progress) {
    return guarded([&] {
        // The preview the user saw is what is written; the dialog that shows
        // it is modal, so nothing else changes the master in between.
        Transaction t(store, Db::Main);
        store.lockSlots();
        // Many rows to a statement, and only the fields that change (an
        // indexed field rewritten for nothing costs its index too).
        const QStringList fields = columns::list(products::Columns, products::ColCode).split(", ");
        const int width = int(fields.size());
        const auto add = products::addedProducts(store);
        std::map<unsigned, std::unique_ptr<Batch>> updates; // by the fields that change
        const auto updateOf = [&](unsigned changed) -> Batch& {
            auto& b = updates[changed];
            if (!b)
                b = products::changedFields(store, changed, false);
            return *b;
        };
        codes::SlotWriter slotWriter(store);
        const qsizetype total = preview.lines.size();
        for (qsizetype i = 0; i < total; ++i) {
            if (progress && i % ProgressStep == 0 && !progress(i, total))
                throw StoreError(cancelled(), QString());
            const ProductLine& line = preview.lines[i];
            if (line.action == RowAction::New)
                add->add(line.values);
            else if (line.action == RowAction::Update ||
                     (line.action == RowAction::CodeChange && preview.writeCodeChanges)) {
                QVariantList row{line.id};
                for (int i = 0; i < width; ++i)
                    if (line.changed & (1u << i))
                        row << line.values[i];
                updateOf(line.changed).add(row);
            }
            for (const QString& n : line.newNames[0])
                slotWriter.enter(codes::kindUnit(), n);
            for (const QString& n : line.newNames[1])
                slotWriter.enter(codes::kindCategory(), n);
        }
        add->flush();
        for (auto& [changed, batch] : updates)
            batch->flush();
        slotWriter.flush();
        t.commit();
    });
}

} // namespace exchange
