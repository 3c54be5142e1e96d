#include "exchange/Import.h"

#include "codes/CodeOps.h"
#include "sheet/Scan.h"
#include "store/Columns.h"
#include "store/Values.h"

#include <QSet>

namespace exchange {

namespace {

const QString CodeName = QStringLiteral("コード");
const QString NameName = QStringLiteral("品名");
const QString QtyName = QStringLiteral("数量");

// A header cell as the column's name: spaces (also full-width ones, as the
// grid's captions have) do not count.
QString headerName(const QString& cell) {
    QString s;
    for (QChar c : cell)
        if (!c.isSpace())
            s += c;
    return s == QLatin1String("code") ? CodeName : s;
}

// Reads the header: the names this import knows, every other one ignored.
// A header without a name column, or with a known name twice, is refused.
Result<Header> readHeader(const Table& table, const QStringList& known, const QString& needed) {
    Result<Header> r;
    if (table.records.isEmpty()) {
        r.status = Status::failed(QStringLiteral("ファイルに見出しの行がありません。"));
        return r;
    }
    const QStringList& cells = table.records.first();
    r.value.width = int(cells.size());
    for (int i = 0; i < cells.size(); ++i) {
        const QString name = headerName(cells[i]);
        if (!known.contains(name)) {
            r.value.ignored << (cells[i].isEmpty() ? QStringLiteral("（%1 列目）").arg(i + 1)
                                                   : cells[i]);
        } else if (r.value.index.contains(name)) {
            r.status = Status::failed(
                QStringLiteral("1 行目 %1 列目: 列「%2」が 2 回あります。").arg(i + 1).arg(name));
            return r;
        } else {
            r.value.index.insert(name, i);
        }
    }
    if (r.value.at(needed) < 0)
        r.status = Status::failed(QStringLiteral("1 行目: 見出しに「%1」の列がありません。"
                                                 "（見出しの例: %2）")
                                      .arg(needed, known.join(",")));
    return r;
}

// An empty record (a blank line Excel leaves at the end) is no product.
bool blank(const QStringList& rec) {
    for (const QString& f : rec)
        if (!f.trimmed().isEmpty())
            return false;
    return true;
}

QString columnError(const Header& h, const QString& name, const QString& text,
                    const QString& what) {
    return QStringLiteral("%1 列目「%2」: 「%3」は%4ではありません。")
        .arg(h.at(name) + 1)
        .arg(name, text, what);
}

// A text longer than a field holds, named by its column; empty when it fits.
QString tooLong(const Header& h, const QString& name, const QString& text) {
    if (text.size() <= columns::MaxTextLength)
        return QString();
    return QStringLiteral("%1 列目「%2」: %3 文字あります（%4 文字まで）。")
        .arg(h.at(name) + 1)
        .arg(name)
        .arg(text.size())
        .arg(columns::MaxTextLength);
}

QString sameAs(int line) {
    return QStringLiteral("%1 行目と同じ商品です。").arg(line);
}

template <typename Line> int countOf(const QVector<Line>& lines, RowAction a) {
    return int(
        std::count_if(lines.begin(), lines.end(), [a](const Line& l) { return l.action == a; }));
}

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

Result<ProductPreview> buildPreview(Store& store, const Table& table) {
    using namespace products;
    Result<ProductPreview> r;
    const Result<Header> header = readHeader(table, productNames(), NameName);
    if (!header) {
        r.status = header.status;
        return r;
    }
    const Header& h = header.value;
    r.value.ignoredColumns = h.ignored;
    r.value.encoding = table.encoding;
    r.status = guarded([&] {
        // The master in memory: the first product of each code and of each name.
        QHash<QString, int> byCode, byName;
        const Rows master = store.query(Db::Main, "SELECT id, " + columns::list(Columns, ColCode) +
                                                      " FROM 商品マスタ ORDER BY id");
        for (int i = 0; i < master.size(); ++i) {
            const QString code = master[i][1].toString(), name = master[i][2].toString();
            if (!code.isEmpty() && !byCode.contains(code))
                byCode.insert(code, i);
            if (!byName.contains(name))
                byName.insert(name, i);
        }
        SlotRoom room(store);
        QHash<QString, int> codeLine, nameLine; // first record of a code, of a new name
        QHash<qint64, int> targetLine;          // first record updating a product
        for (int i = 1; i < table.records.size(); ++i) {
            const QStringList& rec = table.records[i];
            if (blank(rec))
                continue;
            ProductLine line;
            line.line = i + 1;
            const auto fail = [&](const QString& reason) {
                line.action = RowAction::Error;
                line.reason = reason;
                r.value.lines << line;
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
                continue;
            }
            if (name.trimmed().isEmpty()) {
                fail(QStringLiteral("品名が空です。"));
                continue;
            }
            if (const QString e = tooLong(h, NameName, name) + tooLong(h, CodeName, code);
                !e.isEmpty()) {
                fail(e);
                continue;
            }
            // The stored product this record updates, if any.
            int m = -1;
            if (!code.isEmpty())
                m = byCode.value(code, -1);
            if (m < 0)
                m = byName.value(name, -1);
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
                    const auto price = parseCurrency(text);
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
                continue;
            }
            if (!code.isEmpty() && codeLine.contains(code)) {
                fail(QStringLiteral("コード「%1」が %2 行目にもあります。")
                         .arg(code)
                         .arg(codeLine[code]));
                continue;
            }
            if (m >= 0 && targetLine.contains(master[m][0].toLongLong())) {
                fail(sameAs(targetLine[master[m][0].toLongLong()]));
                continue;
            }
            if (m < 0 && code.isEmpty() && nameLine.contains(name)) {
                fail(sameAs(nameLine[name]));
                continue;
            }
            // A new unit or category needs a free slot of the code master.
            const QString names[2] = {values[ColUnit - ColCode].toString(),
                                      values[ColCategory - ColCode].toString()};
            QStringList notFitting;
            for (int k = 0; k < 2; ++k)
                if (!names[k].isEmpty() && !room.held[k].contains(names[k]) && room.free[k] == 0)
                    notFitting << names[k];
            if (!notFitting.isEmpty()) {
                for (const QString& n : notFitting)
                    if (!r.value.namesNotFitting.contains(n))
                        r.value.namesNotFitting << n;
                fail(QStringLiteral("「%1」は単位・商品区分の 30 件の枠に入りません。")
                         .arg(notFitting.join("」「")));
                continue;
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
                bool same = true;
                for (int c = ColCode; c < ColumnCount && same; ++c)
                    same = comparable(values[c - ColCode], Columns[c].kind) ==
                           comparable(master[m][c - ColCode + 1], Columns[c].kind);
                line.action = same ? RowAction::Unchanged : RowAction::Update;
            }
            r.value.lines << line;
        }
    });
    return r;
}

} // namespace

int ProductPreview::count(RowAction a) const {
    return countOf(lines, a);
}

Result<ProductPreview> previewProducts(Store& store, const Table& table) {
    return buildPreview(store, table);
}

Result<ProductPreview> importProducts(Store& store, const Table& table) {
    Result<ProductPreview> r;
    const Status written = guarded([&] {
        // The preview is made again inside the transaction: what is written
        // is what it says, even if the master changed since it was shown.
        Transaction t(store, Db::Main);
        r = buildPreview(store, table);
        if (!r)
            return;
        const QString fields = columns::list(products::Columns, products::ColCode);
        QSqlQuery add = store.prepare(Db::Main, "INSERT INTO 商品マスタ (" + fields +
                                                    ") VALUES (?, ?, ?, ?, ?, ?)");
        QSqlQuery update = store.prepare(Db::Main, "UPDATE 商品マスタ SET code = ?, 品名 = ?, "
                                                   "単位 = ?, 単価 = ?, 適正数 = ?, 商品区分 = ? "
                                                   "WHERE id = ?");
        codes::SlotWriter slotWriter(store);
        for (const ProductLine& line : r.value.lines) {
            if (line.action == RowAction::New)
                store.run(add, line.values);
            else if (line.action == RowAction::Update)
                store.run(update, line.values + QVariantList{line.id});
            for (const QString& n : line.newNames[0])
                slotWriter.enter(codes::kindUnit(), n);
            for (const QString& n : line.newNames[1])
                slotWriter.enter(codes::kindCategory(), n);
        }
        t.commit();
    });
    if (!written)
        r.status = written;
    return r;
}

int CountPreview::count(RowAction a) const {
    return countOf(lines, a);
}

int CountPreview::unknown() const {
    return int(std::count_if(lines.begin(), lines.end(), [](const CountLine& l) {
        return l.action != RowAction::Error && !l.known;
    }));
}

namespace {

// Each record of a count file as the sheet and the master see it.
Result<CountPreview> buildCounts(Store& store, const Table& table) {
    Result<CountPreview> r;
    const Result<Header> header = readHeader(table, {CodeName, NameName, QtyName}, QtyName);
    if (!header) {
        r.status = header.status;
        return r;
    }
    const Header& h = header.value;
    if (h.at(CodeName) < 0 && h.at(NameName) < 0) {
        r.status = Status::failed(
            QStringLiteral("1 行目: 見出しに「コード」か「品名」の列がありません。"));
        return r;
    }
    r.value.ignoredColumns = h.ignored;
    r.value.encoding = table.encoding;
    r.status = guarded([&] {
        QSqlQuery lineByCode =
            store.prepare(Db::Work, "SELECT seq FROM w在庫表 WHERE code = ? ORDER BY seq LIMIT 1");
        QSqlQuery lineByName =
            store.prepare(Db::Work, "SELECT seq FROM w在庫表 WHERE 品名 = ? ORDER BY seq LIMIT 1");
        QSqlQuery productByCode = store.prepare(
            Db::Work, "SELECT 品名 FROM m.商品マスタ WHERE code = ? ORDER BY id LIMIT 1");
        QSqlQuery productByName = store.prepare(
            Db::Work, "SELECT 品名 FROM m.商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1");
        // The first value the query finds for the key, null when none.
        const auto first = [&](QSqlQuery& q, const QString& key) {
            store.run(q, {key});
            const QVariant v = q.next() ? q.value(0) : QVariant();
            q.finish();
            return v;
        };
        QHash<QString, int> seen; // "c:code" / "n:name" -> first record
        for (int i = 1; i < table.records.size(); ++i) {
            const QStringList& rec = table.records[i];
            if (blank(rec))
                continue;
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
                r.value.lines << line;
                continue;
            }
            line.quantity = *whole;
            // The product's name: a line typed by name counts for a code too.
            const QVariant product = line.code.isEmpty() ? first(productByName, line.name)
                                                         : first(productByCode, line.code);
            line.known = !product.isNull();
            if (line.known)
                line.name = product.toString();
            QVariant seq = line.code.isEmpty() ? QVariant() : first(lineByCode, line.code);
            if (seq.isNull() && !line.name.isEmpty())
                seq = first(lineByName, line.name);
            line.seq = seq.isNull() ? -1 : seq.toLongLong();
            line.known = line.known || line.seq >= 0;
            // The same product twice would set one line twice: the second is an error.
            const QStringList keys{"c:" + line.code, "n:" + line.name};
            const int earlier = seen.value(keys[0], seen.value(keys[1], 0));
            if (earlier) {
                line.reason = sameAs(earlier);
                r.value.lines << line;
                continue;
            }
            for (const QString& k : keys)
                if (k.size() > 2)
                    seen.insert(k, line.line);
            line.action = line.seq >= 0 ? RowAction::Update : RowAction::New;
            r.value.lines << line;
        }
    });
    return r;
}

} // namespace

Result<CountPreview> previewCounts(Store& store, const Table& table) {
    return buildCounts(store, table);
}

Result<Counted> importCounts(Store& store, const Table& table, bool addUnknown) {
    Result<Counted> r;
    Status preview;
    r.status = guarded([&] {
        Transaction t(store, Db::Work);
        const Result<CountPreview> p = buildCounts(store, table);
        if (!(preview = p.status))
            return;
        const QString productFields = columns::list(products::Columns, products::ColCode);
        for (const CountLine& line : p.value.lines) {
            if (line.action == RowAction::Error)
                continue;
            qint64 seq = line.seq;
            if (seq < 0 && line.known) {
                const bool byCode = !line.code.isEmpty();
                const Rows product = store.query(
                    Db::Work,
                    QString("SELECT %1 FROM m.商品マスタ WHERE %2 = ? ORDER BY id LIMIT 1")
                        .arg(productFields, byCode ? "code" : "品名"),
                    {byCode ? line.code : line.name});
                seq = sheet::fillBlankLine(store, product.first());
                ++r.value.filled;
            } else if (seq < 0) {
                if (!addUnknown || line.name.trimmed().isEmpty())
                    continue;
                seq = sheet::fillBlankLine(store, Row{textOrNull(line.code), line.name});
                ++r.value.unknown;
            } else {
                ++r.value.set;
            }
            sheet::setQuantity(store, seq, qlonglong(line.quantity));
        }
        t.commit();
    });
    if (!preview)
        r.status = preview;
    return r;
}

} // namespace exchange
