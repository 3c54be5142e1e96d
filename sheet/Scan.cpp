#include "sheet/Scan.h"

#include "sheet/SheetOps.h"

#include <QRegularExpression>

namespace sheet {

ScanInput parseScan(const QString& raw) {
    // Full-width digits and signs become plain ones; control characters of
    // the scanner (a tab, a carriage return, a prefix byte) go.
    QString t;
    for (QChar c : raw.normalized(QString::NormalizationForm_KC))
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            t += c;
    t = t.trimmed();
    ScanInput in;
    static const QRegularExpression counted(QStringLiteral("^([-+]?\\d+)\\s*[*×xX]\\s*(.+)$"));
    static const QRegularExpression number(QStringLiteral("^[-+]?\\d+$"));
    if (const auto m = counted.match(t); m.hasMatch()) {
        in.count = m.captured(1).toLongLong();
        in.code = m.captured(2).trimmed();
    } else {
        in.code = t;
        in.bareNumber = number.match(t).hasMatch();
    }
    return in;
}

bool checkDigitOk(const QString& code) {
    static const QRegularExpression ean(QStringLiteral("^(\\d{8}|\\d{13})$"));
    if (!ean.match(code).hasMatch())
        return true;
    int sum = 0;
    // From the digit left of the check digit: weights 3, 1, 3, …
    for (int i = code.size() - 2, w = 3; i >= 0; --i, w = 4 - w)
        sum += code[i].digitValue() * w;
    return (10 - sum % 10) % 10 == code.back().digitValue();
}

Result<bool> isProductCode(Store& store, const QString& code) {
    return guardedValue<bool>([&] {
        return store.scalar(Db::Main, "SELECT count(*) FROM 商品マスタ WHERE code = ?", {code})
                   .toInt() > 0;
    });
}

qint64 fillBlankLine(Store& store, const Row& p) {
    QVariant seq =
        store.scalar(Db::Work, "SELECT seq FROM w在庫表 WHERE 品名 IS NULL ORDER BY seq LIMIT 1");
    if (seq.isNull()) {
        // A full sheet grows by a line rather than losing the count.
        store.exec(Db::Work, "INSERT INTO w在庫表 (チェック) VALUES (0)");
        seq = store.scalar(Db::Work, "SELECT last_insert_rowid()");
    }
    // The product's fields go into the sheet's fields of the same names.
    store.exec(
        Db::Work,
        "UPDATE w在庫表 SET " +
            columns::assignments(products::Columns, products::ColCode, products::SheetFieldsEnd) +
            ", 数量 = NULL WHERE seq = ?",
        QVariantList(p.begin(), p.end()) << seq);
    return seq.toLongLong();
}

void setQuantity(Store& store, qint64 seq, const QVariant& quantity) {
    const Rows r = store.query(Db::Work, "SELECT 適正数, 単価 FROM w在庫表 WHERE seq = ?", {seq});
    if (r.isEmpty())
        return;
    store.exec(Db::Work,
               "UPDATE w在庫表 SET " +
                   columns::assignments(Columns, {ColQty, ColAmount, ColChange}) + " WHERE seq = ?",
               {quantity, lineAmount(quantity, r[0][1]), lineChange(quantity, r[0][0]), seq});
}

Result<Scanned> showStored(Store& store, const QString& code, const Row& product, qint64 quantity,
                           qint64 savedId) {
    return guardedValue<Scanned>([&] {
        Scanned out;
        Transaction t(store, Db::Work);
        // A line typed by name without its code is the same product's.
        const QVariant seq = store.scalar(Db::Work,
                                          "SELECT seq FROM w在庫表 WHERE code = ? OR (code IS NULL "
                                          "AND 品名 = ?) ORDER BY code IS NULL, seq LIMIT 1",
                                          {code, product.value(1)});
        out.known = true;
        out.newLine = seq.isNull();
        out.seq = out.newLine ? fillBlankLine(store, product) : seq.toLongLong();
        setQuantity(store, out.seq, quantity);
        store.exec(
            Db::Work,
            QStringLiteral("UPDATE w在庫表 SET %1 = ?, code = coalesce(code, ?) WHERE seq = ?")
                .arg(SavedIdField),
            {savedId, code, out.seq});
        out.quantity = quantity;
        out.name =
            store.scalar(Db::Work, "SELECT 品名 FROM w在庫表 WHERE seq = ?", {out.seq}).toString();
        t.commit();
        return out;
    });
}

Result<Scanned> scan(Store& store, const QString& code, qint64 count) {
    return guardedValue<Scanned>([&] {
        Scanned out;
        Rows line = store.query(
            Db::Work, "SELECT seq FROM w在庫表 WHERE code = ? ORDER BY seq LIMIT 1", {code});
        // The product is read before the sheet is written: no statement reads
        // one file and writes the other.
        const Rows product =
            line.isEmpty() ? store.query(Db::Main,
                                         "SELECT " +
                                             columns::list(products::Columns, products::ColCode,
                                                           products::SheetFieldsEnd) +
                                             " FROM 商品マスタ WHERE code = ? ORDER BY id LIMIT 1",
                                         {code})
                           : Rows{};
        Transaction t(store, Db::Work);
        if (line.isEmpty()) {
            if (product.isEmpty())
                return out;
            line = {{fillBlankLine(store, product.first())}};
            out.newLine = true;
        }
        out.known = true;
        out.seq = line[0][0].toLongLong();
        const Row r = store
                          .query(Db::Work,
                                 "SELECT coalesce(数量, 0) + ?, 適正数, 単価, 品名 FROM w在庫表 "
                                 "WHERE seq = ?",
                                 {count, out.seq})
                          .first();
        out.quantity = r[0].toLongLong();
        out.name = r[3].toString();
        if (out.quantity < 0 && count < 0) {
            out.belowZero = true;
            out.quantity -= count;
            out.lineNo =
                store.scalar(Db::Work, "SELECT count(*) FROM w在庫表 WHERE seq <= ?", {out.seq})
                    .toInt();
            return out; // rolled back: a line filled for it goes too
        }
        setQuantity(store, out.seq, out.quantity);
        t.commit();
        return out;
    });
}

ScanSession::Step ScanSession::enter(const QString& raw, const IsProduct& isProduct) {
    const ScanInput in = parseScan(raw);
    if (in.code.isEmpty())
        return {};
    // A short lone number that is no product's code is the next scan's count.
    if (in.bareNumber && in.code.size() <= 5 && !isProduct(in.code)) {
        m_next = in.code.toLongLong();
        return {Outcome::NextCount, QString(), *m_next};
    }
    if (!checkDigitOk(in.code)) {
        ++m_misreads;
        return {Outcome::Misread, in.code, 0};
    }
    const qint64 count = in.count.value_or(m_next.value_or(1));
    m_next.reset();
    return {Outcome::Count, in.code, count};
}

void ScanSession::wait(const QString& code, qint64 count) {
    m_counts[code] += count;
    if (!m_order.contains(code))
        m_order << code;
}

QVector<QPair<QString, qint64>> ScanSession::takeKnown(const IsProduct& isProduct) {
    QVector<QPair<QString, qint64>> out;
    for (const QString& code : QStringList(m_order))
        if (isProduct(code)) {
            out.append({code, m_counts.take(code)});
            m_order.removeAll(code);
        }
    return out;
}

void ScanSession::forget() {
    m_order.clear();
    m_counts.clear();
    m_next.reset();
}

} // namespace sheet
