#pragma once

#include "store/Store.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

// Counting by barcode scanner: what one scanned entry says, and adding it to
// the work sheet.
namespace sheet {

// One entry of the scan box: "4901234567894", "12*4901234567894" (also "×",
// full-width digits) or a lone number that sets the next scan's count.
struct ScanInput {
    QString code;                // the code, or the lone number's text
    std::optional<qint64> count; // given before "*" or "×"
    bool bareNumber = false;     // digits only, with no count before them
};
// Spaces around the entry and the scanner's control characters are ignored.
ScanInput parseScan(const QString& raw);
// A 13- or 8-digit code carries a JAN/EAN check digit that must match; other
// codes are taken as they are.
bool checkDigitOk(const QString& code);

struct Scanned {
    bool known = false; // a product has the code
    qint64 seq = -1;    // the work line counted
    bool newLine = false;
    QString name;
    qint64 quantity = 0; // the line's quantity afterwards
    // A negative count that would take the line below zero changes nothing;
    // quantity is then the line's quantity as it stays, lineNo its position.
    bool belowZero = false;
    int lineNo = 0;
};
// Adds `count` to the line with that code (an empty quantity counts as 0), or
// fills the first blank line from the product with the code, as the fill from
// the master does, with that count; amount and change follow. A code no
// product has changes nothing (known false). One transaction.
Result<Scanned> scan(Store& store, const QString& code, qint64 count);
// Fills the first blank line (a full sheet grows by one) from a product read
// with the product columns from code on, its quantity empty; gives its seq.
// Inside the caller's transaction; throws StoreError.
qint64 fillBlankLine(Store& store, const Row& product);
// Gives a line its quantity; amount and change follow. Throws StoreError.
void setQuantity(Store& store, qint64 seq, const QVariant& quantity);
// Shows a quantity stored straight into the saved count: the line with the
// code gets it (a blank line filled from the product when the sheet has
// none), with the saved line it now is. One transaction on the work file.
Result<Scanned> showStored(Store& store, const QString& code, const Row& product, qint64 quantity,
                           qint64 savedId);
// True when a product has that code.
Result<bool> isProductCode(Store& store, const QString& code);

// The rules of one counting session by scanner, apart from any window: a lone
// short number that is no product's code sets the next scan's count, a
// misread check digit is refused and counted, and codes no product has wait
// with their counts until the product exists.
class ScanSession {
  public:
    enum class Outcome { Nothing, NextCount, Misread, Count };
    struct Step {
        Outcome outcome = Outcome::Nothing;
        QString code;
        qint64 count = 0; // the next count (NextCount) or the count to add (Count)
    };
    using IsProduct = std::function<bool(const QString& code)>;

    // What one entry of the scan box asks for.
    Step enter(const QString& raw, const IsProduct& isProduct);
    // A code no product has waits with its count.
    void wait(const QString& code, qint64 count);
    // The waiting codes that now have a product, taken out of the list.
    QVector<QPair<QString, qint64>> takeKnown(const IsProduct& isProduct);
    // A new sheet: no waiting codes, no next count (misreads are the session's).
    void forget();

    const QStringList& waiting() const { return m_order; }
    qint64 waitingCount(const QString& code) const { return m_counts.value(code); }
    int misreads() const { return m_misreads; }

  private:
    QStringList m_order;             // first scanned first
    QHash<QString, qint64> m_counts; // how many times each was counted
    std::optional<qint64> m_next;
    int m_misreads = 0;
};

} // namespace sheet
