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

// The same as comparing their texts, without making them: most fields of
// most records are unchanged.
bool sameValue(const QVariant& a, const QVariant& b, columns::Kind kind) {
    const bool emptyA = isEmptyValue(a), emptyB = isEmptyValue(b);
    if (emptyA || emptyB)
        return emptyA == emptyB;
    if (kind == columns::Kind::Money)
        return Currency::fromVariant(a).value_or(Currency()) ==
               Currency::fromVariant(b).value_or(Currency());
    if (kind == columns::Kind::Whole)
        return a.toLongLong() == b.toLongLong();
    return a.toString() == b.toString();
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

// Matches the records of one file with the master, in record order: the
// master in memory (the first product of each code and of each name, and how
// many products have each name), the slots still free, and which record first
// named each code, new name and product.
class ProductMatcher {
  public:
    ProductMatcher(Store& store, const Header& h, ProductPreview& preview, qsizetype records)
        : m_h(h), m_preview(preview), m_room(store) {
        using namespace products;
        for (int c = ColCode; c < ColumnCount; ++c)
            m_at[c - ColCode] = h.at(productNames()[c - ColCode]);
        m_master = store.queryMany(Db::Main, "SELECT id, " + columns::list(Columns, ColCode) +
                                                 " FROM 商品マスタ ORDER BY id");
        m_byCode.reserve(m_master.size());
        m_byName.reserve(m_master.size());
        m_codeLine.reserve(records);
        m_nameLine.reserve(records);
        m_targetLine.reserve(std::min<qsizetype>(records, m_master.size()));
        m_preview.lines.reserve(records);
        // Last to first, so that the first product of a code or name is the one kept.
        QStringList zeroLed;
        for (qsizetype i = m_master.size() - 1; i >= 0; --i) {
            const QVariantList& p = std::as_const(m_master)[i];
            const QString code = p[1].toString(), name = p[2].toString();
            if (!code.isEmpty()) {
                m_byCode.insert(code, int(i));
                if (code.startsWith('0'))
                    zeroLed << code;
            }
            Named& n = m_byName[name];
            n.first = int(i);
            ++n.count;
        }
        m_zeroLed = zeroLedCodes(zeroLed);
    }

    void match(qsizetype i, const QStringList& rec) {
        ProductLine line;
        line.line = i + 1;
        // The record's text of product field c (its column's place read once).
        const auto cell = [&](int c) {
            const int at = m_at[c - products::ColCode];
            return at < 0 || at >= rec.size() ? QString() : rec[at];
        };
        line.code = cell(products::ColCode);
        line.name = cell(products::ColName);
        int m = -1;
        bool codeChange = false;
        QVariantList values;
        QString error = recordError(rec, line);
        if (error.isEmpty())
            error = target(line.code, line.name, m, codeChange);
        if (error.isEmpty())
            error = readValues(cell, m, line.code, values);
        if (error.isEmpty())
            error = repeated(line.code, line.name, m);
        if (error.isEmpty())
            error = enterNames(values, m, line);
        if (!error.isEmpty()) {
            line.action = RowAction::Error;
            line.reason = error;
            keepError(m_preview, line);
            return;
        }
        if (!line.code.isEmpty())
            m_codeLine.insert(line.code, line.line);
        line.values = values;
        if (m < 0) {
            line.action = RowAction::New;
            m_nameLine.insert(line.name, line.line);
        } else {
            describeChange(line, m, codeChange);
        }
        m_preview.lines << std::move(line);
    }

  private:
    // A record of the wrong width, without a name, or with a name or code too long.
    QString recordError(const QStringList& rec, const ProductLine& line) const {
        if (rec.size() != m_h.width)
            return QStringLiteral("列の数が %1 です（見出しは %2 列）。")
                .arg(rec.size())
                .arg(m_h.width);
        if (line.name.trimmed().isEmpty())
            return QStringLiteral("品名が空です。");
        return tooLong(m_h, NameName, line.name) + tooLong(m_h, CodeName, line.code);
    }

    // The stored product this record updates (m, -1 for none): by its code
    // only, or by a name exactly one product has.
    QString target(const QString& code, const QString& name, int& m, bool& codeChange) const {
        const Named named = m_byName.value(name);
        const int sameName = named.count;
        if (!code.isEmpty()) {
            m = m_byCode.value(code, -1);
            if (m >= 0)
                return QString();
            if (const QString e = mangledCode(code, m_zeroLed); !e.isEmpty())
                return e;
            // The one product of the name has no code yet: it may take this one.
            if (sameName == 1 && m_master[named.first][1].toString().isEmpty()) {
                m = named.first;
                codeChange = true;
            }
        } else if (sameName > 1) {
            return sameNameMessage(sameName);
        } else if (sameName == 1) {
            m = named.first;
        }
        return QString();
    }

    // Values to write: the file's where it has the column, else the stored ones.
    template <typename Cell>
    QString readValues(const Cell& cell, int m, const QString& code, QVariantList& values) const {
        using namespace products;
        values.reserve(ColumnCount - ColCode);
        for (int c = ColCode; c < ColumnCount; ++c) {
            const QString& field = productNames()[c - ColCode];
            const QVariant stored =
                m >= 0 ? std::as_const(m_master)[m][c - ColCode + 1] : QVariant();
            if (m_at[c - ColCode] < 0 || (c == ColCode && code.isEmpty())) {
                values << stored;
                continue;
            }
            const QString text = cell(c);
            if (Columns[c].kind == columns::Kind::Text) {
                if (const QString e = tooLong(m_h, field, text); !e.isEmpty())
                    return e;
                values << textOrNull(text);
            } else if (c == ColRate) {
                // An empty rate keeps the stored one (the standard rate for a new product).
                const auto rate = parseWholeNumber(text);
                if (text.trimmed().isEmpty())
                    values << (m >= 0 ? stored : QVariant(StandardTaxRate));
                else if (rate && (*rate == StandardTaxRate || *rate == ReducedTaxRate))
                    values << qlonglong(*rate);
                else
                    return columnError(m_h, field, text, QStringLiteral("10 か 8"));
            } else if (text.trimmed().isEmpty()) {
                values << QVariant();
            } else if (Columns[c].kind == columns::Kind::Money) {
                const auto price = parseCurrency(withoutYen(text));
                if (!price)
                    return columnError(m_h, field, text, QStringLiteral("金額"));
                values << price->toVariant();
            } else {
                const auto whole = parseWholeNumber(text);
                if (!whole)
                    return columnError(m_h, field, text, QStringLiteral("整数"));
                values << qlonglong(*whole);
            }
        }
        return QString();
    }

    // A code, a product or a new name an earlier record already has.
    QString repeated(const QString& code, const QString& name, int m) const {
        if (!code.isEmpty() && m_codeLine.contains(code))
            return QStringLiteral("コード「%1」が %2 行目にもあります。")
                .arg(code)
                .arg(m_codeLine[code]);
        if (m >= 0 && m_targetLine.contains(m_master[m][0].toLongLong()))
            return sameAs(m_targetLine[m_master[m][0].toLongLong()]);
        if (m < 0 && code.isEmpty() && m_nameLine.contains(name))
            return sameAs(m_nameLine[name]);
        return QString();
    }

    // A new unit or category needs a free slot of the code master. The name
    // stored product m already has is not new: the record leaves it as it is
    // (the slots may have been edited since it was entered).
    QString enterNames(const QVariantList& values, int m, ProductLine& line) {
        using namespace products;
        QString names[2] = {values[ColUnit - ColCode].toString(),
                            values[ColCategory - ColCode].toString()};
        const Column stored[2] = {ColUnit, ColCategory};
        for (int k = 0; k < 2; ++k)
            if (m >= 0 &&
                std::as_const(m_master)[m][stored[k] - ColCode + 1].toString() == names[k])
                names[k].clear();
        QStringList notFitting;
        for (int k = 0; k < 2; ++k)
            if (!names[k].isEmpty() && !m_room.held[k].contains(names[k]) && m_room.free[k] == 0)
                notFitting << names[k];
        if (!notFitting.isEmpty()) {
            for (const QString& n : notFitting)
                if (!m_preview.namesNotFitting.contains(n))
                    m_preview.namesNotFitting << n;
            return QStringLiteral("「%1」は単位・商品区分の 30 件の枠に入りません。")
                .arg(notFitting.join("」「"));
        }
        for (int k = 0; k < 2; ++k)
            if (!names[k].isEmpty() && !m_room.held[k].contains(names[k])) {
                m_room.held[k].insert(names[k]);
                --m_room.free[k];
                line.newNames[k] << names[k];
            }
        return QString();
    }

    // What an update of stored product m changes, old → new, for the preview.
    void describeChange(ProductLine& line, int m, bool codeChange) {
        using namespace products;
        const QVariantList& stored = std::as_const(m_master)[m];
        line.id = stored[0].toLongLong();
        m_targetLine.insert(line.id, line.line);
        for (int c = ColCode; c < ColumnCount; ++c)
            if (!sameValue(std::as_const(line.values)[c - ColCode], stored[c - ColCode + 1],
                           Columns[c].kind))
                line.changed |= 1u << (c - ColCode);
        if (line.changed)
            line.was = stored; // shared with the master read, not copied
        line.action = codeChange     ? RowAction::CodeChange
                      : line.changed ? RowAction::Update
                                     : RowAction::Unchanged;
        if (!line.changed)
            line.values.clear(); // nothing to write: the preview keeps what it shows
    }

    const Header& m_h;
    int m_at[products::ColumnCount - products::ColCode]; // each field's column, -1 for none
    ProductPreview& m_preview;
    Rows m_master;
    // Each name's first product and how many products have it.
    struct Named {
        int first = -1;
        int count = 0;
    };
    QHash<QString, int> m_byCode;
    QHash<QString, Named> m_byName;
    QHash<QString, QString> m_zeroLed;
    SlotRoom m_room;
    QHash<QString, int> m_codeLine, m_nameLine; // first record of a code, of a new name
    QHash<qint64, int> m_targetLine;            // first record updating a product
};

} // namespace

QString changeReason(const ProductLine& line) {
    using namespace products;
    if (line.action == RowAction::Error || !line.changed)
        return line.reason;
    QStringList said;
    for (int c = ColCode; c < ColumnCount; ++c) {
        if (!(line.changed & (1u << (c - ColCode))))
            continue;
        const QString now = comparable(line.values.value(c - ColCode), Columns[c].kind),
                      was = comparable(line.was.value(c - ColCode + 1), Columns[c].kind);
        said << QStringLiteral("%1 %2 → %3")
                    .arg(productNames()[c - ColCode],
                         was.isEmpty() ? QStringLiteral("（なし）") : was,
                         now.isEmpty() ? QStringLiteral("（なし）") : now);
    }
    return said.join(QStringLiteral("、"));
}

namespace {

Result<ProductPreview> buildPreview(Store& store, const Table& table, const Progress& progress) {
    Result<ProductPreview> r;
    const Result<Header> header = readHeader(table, productNames(), NameName, &r.value.header);
    if (!header) {
        r.status = header.status;
        return r;
    }
    r.value.ignoredColumns = header.value.ignored;
    r.value.encoding = table.encoding;
    r.status = guarded([&] {
        ProductMatcher matcher(store, header.value, r.value, table.size());
        // Cancelled: nothing of the preview is used.
        if (!eachRecord(table, header.value, progress,
                        [&](qsizetype i, const QStringList& rec) { matcher.match(i, rec); }))
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
