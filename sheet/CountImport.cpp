#include "exchange/ImportRecords.h"

#include "base/Values.h"
#include "codes/CodeOps.h"
#include "sheet/Scan.h"
#include "sheet/SheetOps.h"
#include "store/Columns.h"

#include <QSet>
#include <map>

// Counts read from a file into the sheet: each record matched with the
// sheet's lines and the master, previewed, then set as the user saw it.
namespace exchange {

using namespace records;

int CountPreview::count(RowAction a) const {
    return countOf(lines, a) + (a == RowAction::Error ? errorsNotShown : 0);
}

int CountPreview::unknown() const {
    return int(std::count_if(lines.begin(), lines.end(), [](const CountLine& l) {
        return l.action != RowAction::Error && !l.known;
    }));
}

namespace {

// Each record of a count file as the sheet and the master see it: the sheet's
// lines and the master are read once into hashes, so a file of any length is
// matched in one pass.
Result<CountPreview> buildCounts(Store& store, const Table& table, const Progress& progress) {
    Result<CountPreview> r;
    const Result<Header> header =
        readHeader(table, {CodeName, NameName, QtyName}, QtyName, &r.value.header);
    if (!header) {
        r.status = header.status;
        return r;
    }
    const Header& h = header.value;
    if (h.at(CodeName) < 0 && h.at(NameName) < 0) {
        r.status =
            Status::failed(QStringLiteral("%1 行目: 見出しに「コード」か「品名」の列がありません。")
                               .arg(h.row + 1));
        r.value.header.problem = true;
        return r;
    }
    r.value.ignoredColumns = h.ignored;
    r.value.encoding = table.encoding;
    r.status = guarded([&] {
        // The first line of each code and of each name, in sheet order.
        QHash<QString, qint64> lineByCode, lineByName, lineByNameNoCode;
        QHash<qint64, QVariant> counted; // a line's quantity now, for the preview
        for (const Row& l : store.query(Db::Work, "SELECT seq, code, 品名, 数量 FROM w在庫表 WHERE "
                                                  "code IS NOT NULL OR 品名 IS NOT NULL "
                                                  "ORDER BY seq")) {
            counted.insert(l[0].toLongLong(), l[3]);
            if (!isEmptyValue(l[1]) && !lineByCode.contains(l[1].toString()))
                lineByCode.insert(l[1].toString(), l[0].toLongLong());
            if (!isEmptyValue(l[2]) && !lineByName.contains(l[2].toString()))
                lineByName.insert(l[2].toString(), l[0].toLongLong());
            if (!isEmptyValue(l[2]) && isEmptyValue(l[1]) &&
                !lineByNameNoCode.contains(l[2].toString()))
                lineByNameNoCode.insert(l[2].toString(), l[0].toLongLong());
        }
        // The first product of each code and of each name, with the fields a
        // new line takes.
        QHash<QString, int> productByCode, productByName, nameCount;
        const Rows master =
            store.query(Db::Main, "SELECT " + columns::list(products::Columns, products::ColCode) +
                                      " FROM 商品マスタ ORDER BY id");
        for (int i = 0; i < master.size(); ++i) {
            const QString code = master[i][0].toString(), name = master[i][1].toString();
            if (!code.isEmpty() && !productByCode.contains(code))
                productByCode.insert(code, i);
            if (!name.isEmpty() && !productByName.contains(name))
                productByName.insert(name, i);
            ++nameCount[name];
        }
        const QHash<QString, QString> zeroLed = zeroLedCodes(productByCode.keys());
        QHash<QString, int> seen; // "c:code" / "n:name" -> first record
        const bool finished =
            eachRecord(table, h, progress, [&](qsizetype i, const QStringList& rec) {
                CountLine line;
                line.line = i + 1;
                const auto cell = [&](const QString& name) {
                    const int at = h.at(name);
                    return at < 0 || at >= rec.size() ? QString() : rec[at];
                };
                line.code = cell(CodeName).trimmed();
                line.name = cell(NameName);
                const QString qty = cell(QtyName);
                const auto whole = parseWholeNumber(qty);
                if (rec.size() != h.width)
                    line.reason = QStringLiteral("列の数が %1 です（見出しは %2 列）。")
                                      .arg(rec.size())
                                      .arg(h.width);
                else if (line.code.isEmpty() && line.name.trimmed().isEmpty())
                    line.reason = QStringLiteral("コードも品名も空です。");
                else if (const QString e =
                             tooLong(h, NameName, line.name) + tooLong(h, CodeName, line.code);
                         !e.isEmpty())
                    line.reason = e;
                else if (!whole)
                    line.reason = columnError(h, QtyName, qty, QStringLiteral("整数"));
                else if (*whole < 0)
                    // A count is what is on the shelf: never below zero.
                    line.reason =
                        QStringLiteral("数量 %1 は負の数です。在庫の数は 0 以上です。").arg(*whole);
                if (!line.reason.isEmpty()) {
                    keepError(r.value, line);
                    return;
                }
                line.quantity = *whole;
                const int sameName = nameCount.value(line.name);
                if (line.code.isEmpty() && sameName > 1)
                    line.reason = sameNameMessage(sameName);
                else if (!line.code.isEmpty() && !productByCode.contains(line.code) &&
                         !lineByCode.contains(line.code))
                    line.reason = mangledCode(line.code, zeroLed);
                if (!line.reason.isEmpty()) {
                    keepError(r.value, line);
                    return;
                }
                // A code matches only its product and its line; a name, when one
                // product has it. A line typed by name counts for that product's
                // code too, when no other product has the name.
                const int p = line.code.isEmpty() ? productByName.value(line.name, -1)
                                                  : productByCode.value(line.code, -1);
                line.known = p >= 0;
                if (line.known) {
                    line.product = master[p];
                    line.name = master[p][1].toString();
                }
                qint64 seq = line.code.isEmpty() ? -1 : lineByCode.value(line.code, -1);
                if (seq < 0 && !line.name.isEmpty() && nameCount.value(line.name) <= 1) {
                    if (line.code.isEmpty())
                        seq = lineByName.value(line.name, -1);
                    else if (line.known) // a line of that name without a code
                        seq = lineByNameNoCode.value(line.name, -1);
                }
                line.seq = seq;
                line.known = line.known || line.seq >= 0;
                // The same product twice would set one line twice: the second is an error.
                // A name counts as the product's key only when one product has it.
                QStringList keys{"c:" + line.code,
                                 nameCount.value(line.name) <= 1 ? "n:" + line.name : QString()};
                if (line.seq >= 0)
                    keys << "s:" + QString::number(line.seq);
                int earlier = 0;
                for (const QString& k : keys)
                    if (k.size() > 2 && !earlier)
                        earlier = seen.value(k, 0);
                if (earlier) {
                    line.reason = sameAs(earlier);
                    keepError(r.value, line);
                    return;
                }
                for (const QString& k : keys)
                    if (k.size() > 2)
                        seen.insert(k, line.line);
                line.action = line.seq >= 0 ? RowAction::Update : RowAction::New;
                if (line.seq >= 0) {
                    const QVariant was = counted.value(line.seq);
                    line.reason =
                        QStringLiteral("数量 %1 → %2")
                            .arg(isEmptyValue(was) ? QStringLiteral("（なし）") : was.toString())
                            .arg(line.quantity);
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

Result<CountPreview> previewCounts(Store& store, const Table& table, const Progress& progress) {
    return buildCounts(store, table, progress);
}

Result<Counted> importCounts(Store& store, const CountPreview& preview, bool addUnknown,
                             const Progress& progress) {
    return guardedValue<Counted>([&] {
        Counted n;
        Transaction t(store, Db::Work);
        // Blank lines are taken in order; past the last, the sheet grows.
        QVector<qint64> blanks;
        for (const Row& b :
             store.query(Db::Work, "SELECT seq FROM w在庫表 WHERE 品名 IS NULL ORDER BY seq"))
            blanks << b[0].toLongLong();
        QHash<qint64, QPair<QVariant, QVariant>> sheetLines; // seq -> 適正数, 単価
        for (const Row& l : store.query(Db::Work, "SELECT seq, 適正数, 単価 FROM w在庫表"))
            sheetLines.insert(l[0].toLongLong(), {l[1], l[2]});
        const QString fields = columns::list(products::Columns, products::ColCode);
        const QString counted = sheet::countedFields();
        const QString setCounted = columns::assignments(
            sheet::Columns, {sheet::ColQty, sheet::ColAmount, sheet::ColChange});
        QSqlQuery fill =
            store.prepare(Db::Work, "UPDATE w在庫表 SET " +
                                        columns::assignments(products::Columns, products::ColCode) +
                                        ", " + setCounted + " WHERE seq = ?");
        Batch append(store, Db::Work, "w在庫表", fields + ", " + counted);
        QSqlQuery set =
            store.prepare(Db::Work, "UPDATE w在庫表 SET " + setCounted + " WHERE seq = ?");
        int blank = 0;
        const qsizetype total = preview.lines.size();
        for (qsizetype i = 0; i < total; ++i) {
            if (progress && i % ProgressStep == 0 && !progress(i, total))
                throw StoreError(cancelled(), QString());
            const CountLine& line = preview.lines[i];
            if (line.action == RowAction::Error)
                continue;
            const QVariant qty = qlonglong(line.quantity);
            if (line.seq >= 0) {
                const auto [proper, price] = sheetLines.value(line.seq);
                store.run(set, {qty, sheet::lineAmount(qty, price), sheet::lineChange(qty, proper),
                                line.seq});
                ++n.set;
                continue;
            }
            Row product = line.product;
            if (!line.known) {
                if (!addUnknown || line.name.trimmed().isEmpty())
                    continue;
                product = Row{textOrNull(line.code),
                              line.name,
                              QVariant(),
                              QVariant(),
                              QVariant(),
                              QVariant()};
                ++n.unknown;
            } else {
                ++n.filled;
            }
            const QVariant price = product.value(products::ColPrice - products::ColCode);
            const QVariant proper = product.value(products::ColProper - products::ColCode);
            QVariantList values(product.begin(), product.end());
            values << qty << sheet::lineAmount(qty, price) << sheet::lineChange(qty, proper);
            if (blank < blanks.size()) {
                store.run(fill, values + QVariantList{blanks[blank++]});
            } else {
                append.add(values);
            }
        }
        append.flush();
        t.commit();
        return n;
    });
}

} // namespace exchange
