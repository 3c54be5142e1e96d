#pragma once

#include "base/Values.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <optional>

namespace codes {

QString kindCategory();       // "商品区分"
QString kindUnit();           // "単位"
QString slotCode(int number); // 1 -> "01"

// The slots of the code master as one save sees them: read once (both kinds
// in one statement), changed in memory, written by flush() in one statement,
// inside the caller's write transaction, which holds the file (a server: the
// slot rows) so that no other writer takes the same free slot meanwhile.
class SlotWriter {
  public:
    explicit SlotWriter(Store& store) : m_store(store) {}
    // Puts a name the kind does not hold into its lowest free slot.
    // True only when it will write the name. Throws StoreError.
    bool enter(const QString& kind, const QString& name);
    void flush();

  private:
    struct Slot {
        qint64 id;
        QVariant name;
    };
    QVector<Slot>& slotsOf(const QString& kind);
    Store& m_store;
    QHash<QString, QVector<Slot>> m_kinds;
    bool m_read = false;
    QVector<QPair<qint64, QString>> m_pending;
};

// A name not held by any slot of its kind goes into the lowest free slot, in
// one transaction. True only when it wrote the name. An empty name, a full
// kind or a kind without slots writes nothing.
Result<bool> autoEntry(Store& store, const QString& kind, const QString& name);
// The ledger's form of autoEntry: True (-1) when it wrote the name, False
// otherwise, a failure included.
std::int16_t AutoEntryコードマスタ(Store& store, const QString& kind, const QString& name);

// Thirty empty slots "01" … "30" in the code editor's work table.
Status clearCodeTable(Store& store);
// The names of slots 01 … 30 of a kind (null for an empty slot).
using SlotNames = QVector<QVariant>;
// The slots of one kind read into the editor; codes outside 01…30 are ignored.
// Gives the names read, for the editor's 登録 to compare.
Result<SlotNames> readCodeTable(Store& store, const QString& kind);
// Writes the editor's rows into the kind's slots in place, in one transaction;
// gives the number of slots that hold a name afterwards. When `read` is given
// and a stored name differs from it (someone else registered meanwhile),
// nothing is written (ErrorKind::Conflict). A name typed in two slots is refused.
Result<int> entryCodes(Store& store, const QString& kind,
                       const std::optional<SlotNames>& read = std::nullopt);
// How many stored names of the kind the editor's rows would empty.
Result<int> namesRemovedBy(Store& store, const QString& kind);
} // namespace codes
