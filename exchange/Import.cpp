#include "exchange/Import.h"

#include "base/Values.h"
#include "codes/CodeOps.h"
#include "exchange/Export.h"
#include "products/ProductOps.h"
#include "sheet/Scan.h"
#include "sheet/SheetOps.h"
#include "store/Columns.h"

#include <QRegularExpression>
#include <QSet>
#include <map>
#include <memory>

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

// Reads the header: the names this import knows, every other one ignored, or
// the columns the user chose for them. A header without the needed column,
// or with a known name twice, is refused; `use` tells the preview what was
// read either way, so that the user can choose the columns.
Result<Header> readHeader(const Table& table, const QStringList& known, const QString& needed,
                          HeaderUse* use) {
    Result<Header> r;
    // A title Excel users put above the header: the header is the first of
    // the first ten records that names the needed column, else the first of
    // them with the most cells filled.
    QStringList cells;
    int most = -1;
    bool named = false;
    table.forEach([&](qsizetype i, const QStringList& rec) {
        for (const QString& c : rec)
            if (headerName(c) == needed) {
                cells = rec;
                r.value.row = i;
                named = true;
                return false;
            }
        const int filled = int(std::count_if(
            rec.begin(), rec.end(), [](const QString& c) { return !c.trimmed().isEmpty(); }));
        if (filled > most) {
            most = filled;
            cells = rec;
            r.value.row = i;
        }
        return i < 9;
    });
    use->cells = cells;
    use->fields = known;
    if (most < 0 && !named) {
        r.status = Status::failed(
            table.sheets.isEmpty()
                ? QStringLiteral("ファイルに見出しの行がありません。")
                : QStringLiteral("シート「%1」は空です。").arg(table.sheets.value(table.sheet)));
        // Another sheet of the workbook may be the one: the preview offers them.
        use->problem = table.sheets.size() > 1;
        return r;
    }
    const qsizetype line = r.value.row + 1;
    r.value.width = int(cells.size());
    if (!table.chosen.isEmpty()) {
        // The user's choice: each field its column, each column once.
        QSet<int> taken;
        for (const QString& field : known) {
            const int at = table.chosen.value(field, -1);
            if (at >= 0 && at < cells.size() && !taken.contains(at)) {
                r.value.index.insert(field, at);
                taken.insert(at);
            }
        }
        for (int i = 0; i < cells.size(); ++i)
            if (!taken.contains(i) && !cells[i].trimmed().isEmpty())
                r.value.ignored << cells[i];
    } else {
        for (int i = 0; i < cells.size(); ++i) {
            const QString name = headerName(cells[i]);
            if (!known.contains(name)) {
                r.value.ignored << (cells[i].isEmpty() ? QStringLiteral("（%1 列目）").arg(i + 1)
                                                       : cells[i]);
            } else if (r.value.index.contains(name)) {
                r.status =
                    Status::failed(QStringLiteral("%1 行目 %2 列目: 列「%3」が 2 回あります。")
                                       .arg(line)
                                       .arg(i + 1)
                                       .arg(name));
                use->problem = true;
                return r;
            } else {
                r.value.index.insert(name, i);
            }
        }
    }
    use->columns = r.value.index;
    if (r.value.at(needed) < 0) {
        r.status = Status::failed(QStringLiteral("%1 行目: 見出しに「%2」の列がありません。"
                                                 "（見出しの例: %3）")
                                      .arg(line)
                                      .arg(needed, known.join(",")));
        use->problem = true;
    }
    return r;
}

// An empty record (a blank line Excel leaves at the end) is no product.
bool blank(const QStringList& rec) {
    for (const QString& f : rec)
        if (!f.trimmed().isEmpty())
            return false;
    return true;
}

// The total row a workbook export ends with (「合計」 first, no name and no
// quantity) is no record.
bool isTotal(const QStringList& rec, const Header& h) {
    if (rec.isEmpty() || rec[0].trimmed() != TotalLabel)
        return false;
    for (const QString& name : {NameName, QtyName}) {
        const int at = h.at(name);
        if (at == 0 || (at > 0 && at < rec.size() && !rec[at].trimmed().isEmpty()))
            return false;
    }
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

// Visits the records after the header that are not blank, telling the
// progress every ProgressStep records; false when the user cancelled.
bool eachRecord(const Table& table, const Header& header, const Progress& progress,
                const std::function<void(qsizetype, const QStringList&)>& visit) {
    const qsizetype total = table.size();
    bool stopped = false;
    table.forEach([&](qsizetype i, const QStringList& rec) {
        if (i <= header.row)
            return true; // a title, the header
        if (progress && i % ProgressStep == 0 && !progress(i, total)) {
            stopped = true;
            return false;
        }
        if (!blank(rec) && !isTotal(rec, header))
            visit(i, rec);
        return true;
    });
    return !stopped;
}

QString cancelled() {
    return QStringLiteral("取り込みを取り消しました。何も変わっていません。");
}

QString sameAs(int line) {
    return QStringLiteral("%1 行目と同じ商品です。").arg(line);
}

// An error row is kept to be shown while there are few; past that it is
// only counted, so a file of errors never fills the memory.
template <typename Preview, typename Line> void keepError(Preview& p, const Line& line) {
    if (p.errorsShown < MaxShownErrors) {
        p.lines << line;
        ++p.errorsShown;
    } else {
        ++p.errorsNotShown;
    }
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

// Codes of digits with leading zeros, by the digits without them.
QHash<QString, QString> zeroLedCodes(const QStringList& codes) {
    static const QRegularExpression zeroLed(QStringLiteral("^0+([0-9]+)$"));
    QHash<QString, QString> out;
    for (const QString& c : codes)
        if (const auto m = zeroLed.match(c); m.hasMatch())
            out.insert(m.captured(1), c);
    return out;
}

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

QString mangledCode(const QString& code, const QHash<QString, QString>& storedByDigits) {
    static const QRegularExpression scientific(QStringLiteral("^[0-9](\\.[0-9]+)?[Ee][+]?[0-9]+$"));
    const QString say =
        QStringLiteral("Excel が数値に変えたコードです（%1 ?）。コードの列を文字列に"
                       "して保存し直すか、.xlsx で取り込んでください");
    if (scientific.match(code).hasMatch())
        return say.arg(code);
    if (const auto hit = storedByDigits.constFind(code); hit != storedByDigits.constEnd())
        return say.arg(*hit);
    return QString();
}

QString sameNameMessage(int products) {
    return QStringLiteral("同じ品名の商品が %1 件あります。コードで指定してください").arg(products);
}

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
        Batch add(store, Db::Main, "商品マスタ", fields.join(", "));
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
                add.add(line.values);
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
        add.flush();
        for (auto& [changed, batch] : updates)
            batch->flush();
        slotWriter.flush();
        t.commit();
    });
}

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
