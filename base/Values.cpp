#include "base/Values.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

Currency Currency::fromDouble(double v) {
    const double limit = 9.0e14;
    if (std::isnan(v))
        v = 0;
    v = std::max(-limit, std::min(limit, v));
    const double scaled = v * double(Scale);
    return fromUnits(std::int64_t(scaled < 0 ? std::ceil(scaled - 0.5) : std::floor(scaled + 0.5)));
}

std::optional<Currency> Currency::fromVariant(const QVariant& v) {
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return fromWhole(v.toLongLong());
    case QMetaType::Double:
        return fromDouble(v.toDouble());
    default:
        return parseCurrency(v.toString());
    }
}

QVariant Currency::toVariant() const {
    if (m_units % Scale == 0)
        return QVariant(qlonglong(m_units / Scale));
    return QVariant(toDouble());
}

QString Currency::toString() const {
    const bool neg = m_units < 0;
    const std::uint64_t a = neg ? std::uint64_t(-(m_units + 1)) + 1 : std::uint64_t(m_units);
    QString s = QString::number(qulonglong(a / Scale));
    std::uint64_t frac = a % Scale;
    if (frac) {
        QString f = QString("%1").arg(qulonglong(frac), 4, 10, QChar('0'));
        while (f.endsWith('0'))
            f.chop(1);
        s += "." + f;
    }
    return neg ? "-" + s : s;
}

namespace {
// Full-width digits, signs and separators to their ASCII forms; spaces trimmed.
QString normalizeNumberText(const QString& text) {
    QString s = text.normalized(QString::NormalizationForm_KC).trimmed();
    s.replace(QChar(0x2212), '-'); // minus sign
    s.replace(QChar(0x30FC), '-'); // long vowel mark typed for a minus
    return s;
}

// Digits with an optional sign and fraction; commas only as thousands
// separators ("1,234"), so a decimal comma ("1,5") is not read as 15.
const QRegularExpression& numberSyntax() {
    static const QRegularExpression re(
        QStringLiteral("^[+-]?(\\d+|\\d{1,3}(,\\d{3})+)(\\.\\d+)?$"));
    return re;
}

// Plain ASCII digits with an optional minus, as most stored and exported
// numbers are: read without normalising or matching the whole syntax.
std::optional<double> plainDigits(const QString& text) {
    const qsizetype n = text.size();
    const qsizetype sign = n > 0 && text[0] == '-' ? 1 : 0;
    if (n - sign < 1 || n - sign > 15)
        return std::nullopt;
    std::int64_t v = 0;
    for (qsizetype i = sign; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return double(sign ? -v : v);
}
} // namespace

std::optional<double> parseNumber(const QString& text) {
    if (const auto plain = plainDigits(text))
        return plain;
    QString s = normalizeNumberText(text);
    if (!numberSyntax().match(s).hasMatch())
        return std::nullopt;
    s.remove(',');
    bool ok = false;
    const double d = QLocale::c().toDouble(s, &ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<std::int64_t> parseWholeNumber(const QString& text) {
    const auto d = parseNumber(text);
    if (!d || std::floor(*d) != *d || std::fabs(*d) > 999999999999.0)
        return std::nullopt;
    return std::int64_t(*d);
}

std::optional<Currency> parseCurrency(const QString& text) {
    if (const auto plain = plainDigits(text))
        return Currency::fromDouble(*plain);
    const auto d = parseNumber(text);
    if (!d || std::fabs(*d) > 99999999999999.0)
        return std::nullopt;
    // More than four decimals cannot be kept exactly: not a price.
    const QString s = normalizeNumberText(text);
    const int dot = int(s.indexOf('.'));
    if (dot >= 0 && s.size() - dot - 1 > 4)
        return std::nullopt;
    return Currency::fromDouble(*d);
}

QString formatNumber(double value, const QString& format) {
    const bool zeroShows = format.endsWith('0');
    const bool grouped = format.contains(',');
    // A figure with a fraction (a price of 98.5) is shown as stored, up to the
    // four decimals money keeps; the formats hold for whole numbers.
    const double fourths = std::round(value * 10000.0);
    if (std::fmod(fourths, 10000.0) != 0 && std::fabs(value) < 1e14) {
        QString s = QString::number(std::fabs(fourths) / 10000.0, 'f', 4);
        while (s.endsWith('0'))
            s.chop(1);
        if (grouped)
            for (int i = int(s.indexOf('.')) - 3; i > 0; i -= 3)
                s.insert(i, ',');
        return value < 0 ? "-" + s : s;
    }
    const double r = value < 0 ? std::ceil(value - 0.5) : std::floor(value + 0.5);
    if (r == 0)
        return zeroShows ? QStringLiteral("0") : QString();
    // Whole figures a report shows by the hundred: digits by integer
    // arithmetic, the separators written as they go.
    const double size = std::fabs(r);
    if (size < 1e18) {
        char buf[32];
        char* end = buf + sizeof buf;
        char* at = end;
        auto n = static_cast<unsigned long long>(size);
        for (int d = 0; n; ++d, n /= 10) {
            if (grouped && d && d % 3 == 0)
                *--at = ',';
            *--at = char('0' + n % 10);
        }
        if (r < 0)
            *--at = '-';
        return QString::fromLatin1(at, end - at);
    }
    QString digits = QString::number(size, 'f', 0);
    if (grouped)
        for (int i = digits.size() - 3; i > 0; i -= 3)
            digits.insert(i, ',');
    return r < 0 ? "-" + digits : digits;
}

QString formatNumber(const QVariant& value, const QString& format) {
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.typeId() == QMetaType::QString) {
        const auto d = parseNumber(value.toString());
        return d ? formatNumber(*d, format) : value.toString();
    }
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? formatNumber(d, format) : value.toString();
}

bool isEmptyValue(const QVariant& v) {
    return !v.isValid() || v.isNull() ||
           (v.typeId() == QMetaType::QString && v.toString().isEmpty());
}

std::optional<std::int64_t> wholeValue(const QVariant& v) {
    if (isEmptyValue(v))
        return std::nullopt;
    if (v.typeId() == QMetaType::QString)
        return parseWholeNumber(v.toString());
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || std::floor(d) != d)
        return std::nullopt;
    return std::int64_t(d);
}

QVariant textOrNull(const QString& s) {
    return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
}

namespace {
const QString OriginalMark = QStringLiteral("\n原文: ");
}

QString withOriginal(const QString& reason, const QString& original) {
    return original.isEmpty() ? reason : reason + OriginalMark + original;
}

QString reasonOf(const QString& said) {
    const qsizetype at = said.indexOf(OriginalMark);
    return at < 0 ? said : said.left(at);
}

QString originalOf(const QString& said) {
    const qsizetype at = said.indexOf(OriginalMark);
    return at < 0 ? QString() : said.mid(at + OriginalMark.size());
}

QString dateKey(const QDate& d) {
    return d.toString("yyyy-MM-dd");
}
