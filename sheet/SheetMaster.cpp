#include "sheet/SheetMaster.h"

#include "products/ProductOps.h"

#include <algorithm>

namespace sheet {

namespace {
// A named line as the product master sees it: code … 商品区分, and where its
// values came from.
struct LineSource {
    Row fields; // code … 商品区分
    qint64 productId = 0, version = 0;
    unsigned typed = 0;
};
const int ProductWidth = products::SheetFieldsEnd - products::ColCode;
// The typed sheet columns and the product fields (code … 商品区分) they stand for.
constexpr std::pair<Column, int> TypedFields[] = {
    {ColCode, 0},
    {ColUnit, products::ColUnit - products::ColCode},
    {ColPrice, products::ColPrice - products::ColCode},
    {ColProper, products::ColProper - products::ColCode},
    {ColCategory, products::ColCategory - products::ColCode}};

// The product fields of a count line, in the master's order.
LineSource lineSource(const CountLine& l) {
    LineSource s;
    for (Column c : {ColCode, ColName, ColUnit, ColPrice, ColProper, ColCategory})
        s.fields << l.fields[c - ColCode];
    s.productId = l.productId;
    s.version = l.productVersion;
    s.typed = l.typed;
    return s;
}
QVector<LineSource> lineSources(const QVector<CountLine>& lines) {
    QVector<LineSource> out;
    out.reserve(lines.size());
    for (const CountLine& l : lines)
        out << lineSource(l);
    return out;
}

// Product field i (code … 商品区分) holds the same value: numbers as numbers,
// whichever engine or cell gave them.
bool sameValue(int i, const QVariant& a, const QVariant& b) {
    if (isEmptyValue(a) || isEmptyValue(b))
        return isEmptyValue(a) == isEmptyValue(b);
    if (products::Columns[products::ColCode + i].kind == columns::Kind::Text)
        return a.toString() == b.toString();
    return Currency::fromVariant(a) == Currency::fromVariant(b);
}

// "単価 100 → 120、単位 個 → 箱": the fields that differ, old → new.
QString differences(const Row& from, const Row& to) {
    QStringList d;
    for (int i = 0; i < ProductWidth; ++i) {
        if (sameValue(i, from[i], to[i]))
            continue;
        const columns::Column& c = products::Columns[products::ColCode + i];
        const auto shown = [&](const QVariant& v) {
            if (isEmptyValue(v))
                return QStringLiteral("（なし）");
            if (c.kind == columns::Kind::Money)
                if (auto m = Currency::fromVariant(v))
                    return m->toString();
            return v.toString();
        };
        const QString caption =
            i == 0 ? QStringLiteral("コード")
                   : QString::fromUtf8(c.caption).remove(QChar(0x3000)).remove(' ');
        d << QStringLiteral("%1 %2 → %3").arg(caption, shown(from[i]), shown(to[i]));
    }
    return d.join(QStringLiteral("、"));
}
} // namespace

ProductPlan planProducts(Store& store, const QVector<CountLine>& counted) {
    const QVector<LineSource> lines = lineSources(counted);
    QStringList names;
    for (const LineSource& l : lines)
        names << l.fields[products::ColName - products::ColCode].toString();
    const QHash<QString, Row> stored = products::firstOfNames(store, names); // id, 版, code …
    ProductPlan plan;
    QHash<QString, int> addAt, changeAt;
    for (const LineSource& l : lines) {
        const QString name = l.fields[products::ColName - products::ColCode].toString();
        const auto hit = stored.constFind(name);
        if (hit == stored.constEnd()) {
            // A name no product has becomes a product with its line's values,
            // a later line of the name last; a line without a code keeps the
            // code an earlier one gave.
            const auto at = addAt.constFind(name);
            if (at == addAt.constEnd()) {
                addAt.insert(name, int(plan.added.size()));
                plan.added << l.fields;
            } else {
                Row& r = plan.added[*at];
                const QVariant code = r[0];
                r = l.fields;
                if (isEmptyValue(r[0]))
                    r[0] = code;
            }
            continue;
        }
        // A value that merely came with the line is never written back.
        if (l.typed == 0)
            continue;
        const qint64 id = (*hit)[0].toLongLong(), version = (*hit)[1].toLongLong();
        auto at = changeAt.constFind(name);
        if (at == changeAt.constEnd()) {
            at = changeAt.insert(name, int(plan.changed.size()));
            plan.changed << ProductPlan::Change{name, id, version, hit->mid(2), hit->mid(2), false};
        }
        ProductPlan::Change& c = plan.changed[*at];
        for (const auto& [column, field] : TypedFields)
            if ((l.typed & typedBit(column)) && !(column == ColCode && isEmptyValue(l.fields[0])))
                c.wanted[field] = l.fields[field];
        if (l.productId != id || l.version != version)
            c.conflict = true;
    }
    plan.changed.erase(std::remove_if(plan.changed.begin(), plan.changed.end(),
                                      [](const ProductPlan::Change& c) {
                                          for (int i = 0; i < ProductWidth; ++i)
                                              if (!sameValue(i, c.stored[i], c.wanted[i]))
                                                  return false;
                                          return true;
                                      }),
                       plan.changed.end());
    return plan;
}

Result<MasterEffect> masterEffectOf(Store& store, const QVector<CountLine>& lines) {
    return guardedValue<MasterEffect>([&] {
        const ProductPlan plan = planProducts(store, lines);
        MasterEffect e;
        for (const Row& r : plan.added)
            e.added << r[products::ColName - products::ColCode].toString();
        for (const ProductPlan::Change& c : plan.changed) {
            const QString line = c.name + ": " + differences(c.stored, c.wanted);
            if (c.conflict) {
                e.conflicts << line;
                e.conflictVersions.insert(c.id, c.version);
            } else {
                e.changed << line;
            }
        }
        return e;
    });
}

void writeProducts(Store& store, const ProductPlan& plan, const QHash<qint64, qint64>& overwrite) {
    products::FieldBatches batches;
    qint64 written = 0;
    for (const ProductPlan::Change& c : plan.changed) {
        if (c.conflict && overwrite.value(c.id, -1) != c.version)
            continue;
        unsigned changed = 0;
        QVariantList row{c.id};
        for (int i = 0; i < ProductWidth; ++i)
            if (!sameValue(i, c.stored[i], c.wanted[i])) {
                changed |= 1u << i;
                row << c.wanted[i];
            }
        auto& b = batches[changed];
        if (!b)
            b = products::changedFields(store, changed, true);
        b->add(row << c.version);
        ++written;
    }
    products::flushGuarded(store, batches, written);
    const auto add = products::addedProducts(store, ProductWidth);
    for (const Row& r : plan.added)
        add->add(QVariantList(r.begin(), r.end()));
    add->flush();
}

} // namespace sheet
