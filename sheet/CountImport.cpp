#include "exchange/ImportRecords.h"

#include "base/Values.h"
#include "codes/CodeOps.h"
#include "sheet/Scan.h"
#include "sheet/SheetOps.h"
#include "store/Columns.h"

#include <QSet>
#include <map>
#include <memory>

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
class CountMatcher {
  public:
    CountMatcher(Store& store, const Header& h, CountPreview& preview)
        : m_h(h), m_preview(preview), m_codeAt(h.at(CodeName)), m_nameAt(h.at(NameName)),
          m_qtyAt(h.at(QtyName)) {
        // The first line of each code and of each name, in sheet order.
        for (const Row& l : store.query(Db::Work, "SELECT seq, code, 品名, 数量 FROM w在庫表 WHERE "
                                                  "code IS NOT NULL OR 品名 IS NOT NULL "
                                                  "ORDER BY seq")) {
            const qint64 seq = l[0].toLongLong();
            const QString code = l[1].toString(), name = l[2].toString();
            m_counted.insert(seq, l[3]);
            if (!isEmptyValue(l[1]) && !m_lineByCode.contains(code))
                m_lineByCode.insert(code, seq);
            if (!isEmptyValue(l[2]) && !m_lineByName.contains(name))
                m_lineByName.insert(name, seq);
            if (!isEmptyValue(l[2]) && isEmptyValue(l[1]) && !m_lineByNameNoCode.contains(name))
                m_lineByNameNoCode.insert(name, seq);
        }
        // The first product of each code and of each name, with the fields a
        // new line takes.
        m_master = store.queryMany(Db::Main, "SELECT " +
                                                 columns::list(products::Columns, products::ColCode,
                                                               products::SheetFieldsEnd) +
                                                 " FROM 商品マスタ ORDER BY id");
        // Last to first, so that the first of each stays; room made once.
        m_productByCode.reserve(m_master.size());
        m_productByName.reserve(m_master.size());
        m_nameCount.reserve(m_master.size());
        for (int i = int(m_master.size()) - 1; i >= 0; --i) {
            const QString code = m_master[i][0].toString(), name = m_master[i][1].toString();
            if (!code.isEmpty())
                m_productByCode.insert(code, i);
            if (!name.isEmpty())
                m_productByName.insert(name, i);
            ++m_nameCount[name];
        }
        m_seenCode.reserve(m_master.size());
        m_seenName.reserve(m_master.size());
        m_zeroLed = zeroLedCodes(m_productByCode.keys());
    }

    void match(qsizetype i, const QStringList& rec) {
        CountLine line;
        line.line = i + 1;
        const auto cell = [&](int at) { return at < 0 || at >= rec.size() ? QString() : rec[at]; };
        line.code = cell(m_codeAt).trimmed();
        line.name = cell(m_nameAt);
        m_sameName = m_nameCount.value(line.name);
        line.reason = recordError(rec, line, cell(m_qtyAt));
        if (line.reason.isEmpty())
            line.reason = unmatched(line);
        if (line.reason.isEmpty()) {
            findLine(line);
            line.reason = repeated(line);
        }
        if (!line.reason.isEmpty()) {
            keepError(m_preview, line);
            return;
        }
        line.action = line.seq >= 0 ? RowAction::Update : RowAction::New;
        if (line.seq >= 0) {
            const QVariant was = m_counted.value(line.seq);
            line.reason = QStringLiteral("数量 %1 → %2")
                              .arg(isEmptyValue(was) ? QStringLiteral("（なし）") : was.toString())
                              .arg(line.quantity);
        }
        m_preview.lines << line;
    }

  private:
    // The record's width, its code or name, and its count (a whole number, never
    // below zero: what is on the shelf); sets the quantity when it is one.
    QString recordError(const QStringList& rec, CountLine& line, const QString& qty) const {
        const auto whole = parseWholeNumber(qty);
        if (rec.size() != m_h.width)
            return QStringLiteral("列の数が %1 です（見出しは %2 列）。")
                .arg(rec.size())
                .arg(m_h.width);
        if (line.code.isEmpty() && line.name.trimmed().isEmpty())
            return QStringLiteral("コードも品名も空です。");
        if (const QString e = tooLong(m_h, NameName, line.name) + tooLong(m_h, CodeName, line.code);
            !e.isEmpty())
            return e;
        if (!whole)
            return columnError(m_h, QtyName, qty, QStringLiteral("整数"));
        if (*whole < 0)
            return QStringLiteral("数量 %1 は負の数です。在庫の数は 0 以上です。").arg(*whole);
        line.quantity = *whole;
        return QString();
    }

    // A name several products have, or a code nothing has that looks mangled.
    QString unmatched(const CountLine& line) const {
        if (line.code.isEmpty() && m_sameName > 1)
            return sameNameMessage(m_sameName);
        if (!line.code.isEmpty() && !m_productByCode.contains(line.code) &&
            !m_lineByCode.contains(line.code))
            return mangledCode(line.code, m_zeroLed);
        return QString();
    }

    // A code matches only its product and its line; a name, when one product
    // has it. A line typed by name counts for that product's code too, when no
    // other product has the name.
    void findLine(CountLine& line) {
        const int p = line.code.isEmpty() ? m_productByName.value(line.name, -1)
                                          : m_productByCode.value(line.code, -1);
        line.known = p >= 0;
        if (line.known) {
            line.product = m_master[p];
            // The product's own name from here on, found by code or typed differently
            QString name = m_master[p][1].toString();
            if (name != line.name) {
                m_sameName = m_nameCount.value(name);
                line.name = std::move(name);
            }
        }
        qint64 seq = line.code.isEmpty() ? -1 : m_lineByCode.value(line.code, -1);
        if (seq < 0 && !line.name.isEmpty() && m_sameName <= 1) {
            if (line.code.isEmpty())
                seq = m_lineByName.value(line.name, -1);
            else if (line.known) // a line of that name without a code
                seq = m_lineByNameNoCode.value(line.name, -1);
        }
        line.seq = seq;
        line.known = line.known || line.seq >= 0;
    }

    // The same product twice would set one line twice: the second is an error.
    // A name counts as the product's key only when one product has it.
    QString repeated(const CountLine& line) {
        const bool byCode = !line.code.isEmpty();
        const bool byName = !line.name.isEmpty() && m_sameName <= 1;
        const bool bySeq = line.seq >= 0;
        int earlier = byCode ? m_seenCode.value(line.code, 0) : 0;
        if (!earlier && byName)
            earlier = m_seenName.value(line.name, 0);
        if (!earlier && bySeq)
            earlier = m_seenSeq.value(line.seq, 0);
        if (earlier)
            return sameAs(earlier);
        if (byCode)
            m_seenCode.insert(line.code, line.line);
        if (byName)
            m_seenName.insert(line.name, line.line);
        if (bySeq)
            m_seenSeq.insert(line.seq, line.line);
        return QString();
    }

    const Header& m_h;
    CountPreview& m_preview;
    const int m_codeAt, m_nameAt, m_qtyAt; // the record's fields, -1 when the file has none
    int m_sameName = 0;                    // products with the record's name
    QHash<QString, qint64> m_lineByCode, m_lineByName, m_lineByNameNoCode;
    QHash<qint64, QVariant> m_counted; // a line's quantity now, for the preview
    Rows m_master;
    QHash<QString, int> m_productByCode, m_productByName, m_nameCount;
    QHash<QString, QString> m_zeroLed;
    // The first record of each code, name and line
    QHash<QString, int> m_seenCode, m_seenName;
    QHash<qint64, int> m_seenSeq;
};

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
        CountMatcher matcher(store, h, r.value);
        r.value.lines.reserve(table.size());
        // Cancelled: nothing of the preview is used.
        if (!eachRecord(table, h, progress,
                        [&](qsizetype i, const QStringList& rec) { matcher.match(i, rec); }))
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
             store.queryMany(Db::Work, "SELECT seq FROM w在庫表 WHERE 品名 IS NULL ORDER BY seq"))
            blanks << b[0].toLongLong();
        QHash<qint64, QPair<QVariant, QVariant>> sheetLines; // seq -> 適正数, 単価
        for (const Row& l : store.queryMany(Db::Work, "SELECT seq, 適正数, 単価 FROM w在庫表"))
            sheetLines.insert(l[0].toLongLong(), {l[1], l[2]});
        const QString fields =
            columns::list(products::Columns, products::ColCode, products::SheetFieldsEnd);
        const QString counted = sheet::countedFields();
        // Lines given their values by seq, many to a statement (a count of
        // every product into a sheet already filled sets every line).
        const auto byLine = [&store](const QString& fieldList) {
            const QStringList f = fieldList.split(", ");
            QStringList sets;
            for (int i = 0; i < f.size(); ++i)
                sets << QString("%1 = v.column%2").arg(f[i]).arg(i + 2);
            const int width = int(f.size()) + 1;
            return std::make_unique<Batch>(
                store, Db::Work,
                [sets, width](int rows) {
                    return "UPDATE w在庫表 SET " + sets.join(", ") + " FROM (VALUES " +
                           rowMarks(rows, width) + ") AS v WHERE w在庫表.seq = v.column1";
                },
                width, LargeChunk);
        };
        const auto fill = byLine(fields + ", " + counted);
        const auto set = byLine(counted);
        Batch append(store, Db::Work, "w在庫表", fields + ", " + counted);
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
                set->add(
                    {line.seq, qty, sheet::lineAmount(qty, price), sheet::lineChange(qty, proper)});
                ++n.set;
                continue;
            }
            Row unknown;
            if (!line.known) {
                if (!addUnknown || line.name.trimmed().isEmpty())
                    continue;
                unknown = Row{textOrNull(line.code),
                              line.name,
                              QVariant(),
                              QVariant(),
                              QVariant(),
                              QVariant()};
                ++n.unknown;
            } else {
                ++n.filled;
            }
            const Row& product = line.known ? line.product : std::as_const(unknown);
            const QVariant price = product.value(products::ColPrice - products::ColCode);
            const QVariant proper = product.value(products::ColProper - products::ColCode);
            // A blank line's seq first, then the line's values.
            const bool intoBlank = blank < blanks.size();
            QVariantList values;
            values.reserve(product.size() + 4);
            if (intoBlank)
                values << blanks[blank++];
            values << product << qty << sheet::lineAmount(qty, price)
                   << sheet::lineChange(qty, proper);
            (intoBlank ? *fill : append).add(values);
        }
        set->flush();
        fill->flush();
        append.flush();
        t.commit();
        return n;
    });
}

} // namespace exchange
