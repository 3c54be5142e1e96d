#pragma once

#include "base/Truth.h"

#include <QDate>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <optional>

// Money with four decimals in a 64-bit integer (1 = 0.0001), so unit prices and
// amounts never pick up binary floating-point drift on their way to the file.
class Currency {
  public:
    static constexpr std::int64_t Scale = 10000;

    Currency() = default;
    static Currency fromUnits(std::int64_t units) {
        Currency c;
        c.m_units = units;
        return c;
    }
    static Currency fromWhole(std::int64_t v) { return fromUnits(v * Scale); }
    // Nearest 1/10000; values beyond about ±9e14 are clamped.
    static Currency fromDouble(double v);
    // Reads a stored number (integer, real or numeric text); null or junk gives nullopt.
    static std::optional<Currency> fromVariant(const QVariant& v);

    std::int64_t units() const { return m_units; }
    double toDouble() const { return double(m_units) / Scale; }
    bool isZero() const { return m_units == 0; }
    // What goes into SQLite: an integer when whole, otherwise a real.
    QVariant toVariant() const;
    QString toString() const; // plain "1250.5", no grouping

    bool operator==(const Currency& o) const { return m_units == o.m_units; }
    bool operator!=(const Currency& o) const { return m_units != o.m_units; }
    Currency operator+(const Currency& o) const { return fromUnits(m_units + o.m_units); }
    Currency operator-(const Currency& o) const { return fromUnits(m_units - o.m_units); }

  private:
    std::int64_t m_units = 0;
};

// Text typed by a user into a number cell: full-width digits and signs are
// accepted (the input method gives them), thousands separators are dropped.
// Returns nullopt when the text is not a number.
std::optional<double> parseNumber(const QString& text);
// A whole number (quantities); a fraction or an out-of-range value is not one.
std::optional<std::int64_t> parseWholeNumber(const QString& text);
// A price with at most four decimals; nullopt when not a number or out of range.
std::optional<Currency> parseCurrency(const QString& text);

// Formats a number with one of the display formats of the ledger, e.g.
// "#,###" (0 shows nothing), "#,##0", "##,###,##0", "#,###,###,###".
// Rounds halves away from zero. A null value shows nothing.
QString formatNumber(const QVariant& value, const QString& format);
QString formatNumber(double value, const QString& format);

// A date as the ledger stores it: ISO text, so dates sort as text.
QString dateKey(const QDate& d);

// The longest text a field holds, as the data model says.
constexpr int MaxTextLength = 255;

// True when v holds no value or an empty text.
bool isEmptyValue(const QVariant& v);
// The whole number a cell holds (typed text or a number); none when it is
// empty or not whole.
std::optional<std::int64_t> wholeValue(const QVariant& v);
// Null for an empty text, else the text.
QVariant textOrNull(const QString& s);

// A failure said in Japanese with the database's own words kept apart: the
// message shows the reason, the details the original.
QString withOriginal(const QString& reason, const QString& original);
QString reasonOf(const QString& said);
QString originalOf(const QString& said);
