#pragma once

#include "base/Values.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QHash>
#include <map>
#include <memory>
#include <optional>

// The product master: every write to 商品マスタ goes through these
// operations. They take values (fields code … 商品区分, the product a writer
// read and its version then) and touch only the main data, whoever calls
// them: the product list and its panel, a saved count, an import.
namespace products {

// A product's 税率 as stored: empty is the standard rate; anything but 10
// or 8 is refused (StoreError naming the product).
QVariant taxRate(const QVariant& rate, const QString& name);

// A many-row INSERT of new products, inside the caller's transaction: the
// first `width` fields from code on (all of them by default).
std::unique_ptr<Batch> addedProducts(Store& store, int width = ColumnCount - ColCode);

// The first product (lowest id) of each name, by name: id, 版, then code …
// 商品区分; a statement per 500 names, however many there are.
QHash<QString, Row> firstOfNames(Store& store, QStringList names);
// Products by id: their version, then code … 商品区分.
QHash<qint64, Row> productsById(Store& store, const QVector<qint64>& ids);

// A many-row UPDATE of the product fields in `changed` (bit i: the i-th of
// code … 商品区分), raising each version; rows are (id, those fields in order),
// and when guarded the version read last (0 for none), written only at it.
std::unique_ptr<Batch> changedFields(Store& store, unsigned changed, bool guarded);
// Runs guarded changedFields batches (by their fields) that were given
// `written` rows; a product changed since it was read (fewer rows changed)
// refuses the whole write (ErrorKind::Conflict).
using FieldBatches = std::map<unsigned, std::unique_ptr<Batch>>;
void flushGuarded(Store& store, FieldBatches& batches, qint64 written);

// How many products a write added and overwrote.
struct Registered {
    int added = 0;
    int updated = 0;
};

// Writes products matched by name inside the caller's transaction: the first
// product with the name is overwritten (its version raised), or a new one is
// added; rows are queued and written by flush() in a few many-row statements,
// as they would be one by one. With keepStoredCode a null code leaves the
// stored code as it is. With readProductFirst a row read from a product that
// still exists writes that product whatever its name now (a rename).
class NameMatchedWriter {
  public:
    NameMatchedWriter(Store& store, bool keepStoredCode, bool readProductFirst = false);
    // fields: code … 商品区分. A row read from product `id` at `version`
    // writes it only when it still has that version (ErrorKind::Conflict).
    // `key` names the row in written().
    void write(const Row& fields, qint64 id = 0, qint64 version = 0, qint64 key = 0);
    // Products the caller has just read in this transaction (id -> 版, code
    // … 商品区分, as productsById gives them): not read again.
    void knownProducts(const QHash<qint64, Row>* stored) { m_known = stored; }
    Registered flush();
    // After flush: each row's product and that product's version now.
    struct Written {
        qint64 key, id, version;
    };
    const QVector<Written>& written() const { return m_written; }

  private:
    struct Queued {
        Row fields;
        qint64 id, version, key = 0;
    };
    QVector<Written> m_written;
    Store& m_store;
    bool m_keepStoredCode;
    bool m_readProductFirst;
    QVector<Queued> m_queue;
    const QHash<qint64, Row>* m_known = nullptr;
};

// A product someone else changed (or deleted) after the list read it.
struct Conflict {
    qint64 seq = 0;     // the list row
    QString mine;       // the row's name
    Row theirs;         // code … 商品区分 as stored now; empty when deleted
    QString difference; // "単価 120 → 130" (the row's value → the stored one)
};
// What a save of products did: the rows written and those refused.
struct ListSaved : Registered {
    QVector<Conflict> conflicts;
    QVector<qint64> written; // the list rows written (their versions changed)
};

// A product as a writer gives it: code … 商品区分 and 棚番 (a writer that
// leaves the later fields out keeps them as stored), the product it was read
// from and that product's version then (0, 0: typed afresh), and the caller's
// key for it (a list row), which conflicts and `written` name.
struct ProductValues {
    Row fields;
    qint64 id = 0, version = 0;
    qint64 key = 0;
};
// Writes products from values, touching only the main data, in one
// transaction: one read from a product writes that product at the version
// seen (its name too: a rename) or, changed since, is a conflict left
// unwritten; a new one is added, or overwrites the first of its name; units
// and categories enter the code master. `written`: each product and its
// version now, by key.
Result<ListSaved> saveProducts(Store& store, const QVector<ProductValues>& products,
                               QVector<NameMatchedWriter::Written>* written = nullptr);
// Retires the products whose code and name both equal these. One transaction.
Status deleteProducts(Store& store, const QVariant& code, const QVariant& name);

// One product as the detail panel holds it, with the product it was read
// from and that product's version (0 when typed afresh).
struct Detail {
    QString code;
    QString name;
    QString unit;
    Currency price;
    std::int64_t proper = 0;
    QString category;
    QString shelf;              // 棚番: where it stands in the shop
    int rate = StandardTaxRate; // 税率: 10, or 8 for food and drink
    qint64 id = 0;
    qint64 version = 0;
};
// Registers the panel by code (overwrite the first product with the code, or
// add one); the category enters the code master. One transaction. When the
// product it overwrites is the one read and has changed since, nothing is
// written (ErrorKind::Conflict) unless `overwrite`. Gives the version written.
Result<qint64> entry商品詳細(Store& store, const Detail& d, bool overwrite = false);

} // namespace products
