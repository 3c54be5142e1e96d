#include "exchange/WorkbookPackage.h"

#include <QRegularExpression>

namespace exchange::xlsx {

// Text as the package keeps it: a character XML cannot hold (a control
// character) written as _x0001_.
QString unescaped(std::string_view utf8) {
    // Most texts hold no escape: looked for in the bytes, not the text made.
    QString s = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    if (utf8.find("_x") == std::string_view::npos)
        return s;
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype at = 0;
    for (auto it = escape.globalMatch(s); it.hasNext();) {
        const auto m = it.next();
        out += s.mid(at, m.capturedStart() - at);
        out += QChar(char16_t(m.captured(1).toUShort(nullptr, 16)));
        at = m.capturedEnd();
    }
    return out + s.mid(at);
}

// The sizes the package's central directory declares, by part name, read
// before anything is unpacked.
QHash<QString, quint64> declaredSizes(const QByteArray& zip) {
    QHash<QString, quint64> sizes;
    const auto u16 = [&](qsizetype at) {
        return quint16(uchar(zip[at])) | quint16(uchar(zip[at + 1])) << 8;
    };
    const auto u32 = [&](qsizetype at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
    const qsizetype end = zip.lastIndexOf("PK\x05\x06");
    if (end < 0 || end + 22 > zip.size())
        throw Refused("no central directory");
    qsizetype at = qsizetype(u32(end + 16));
    const int entries = u16(end + 10);
    for (int i = 0; i < entries; ++i) {
        if (at < 0 || at + 46 > zip.size() || !zip.mid(at, 4).startsWith("PK\x01\x02"))
            throw Refused("damaged central directory");
        const quint64 packed = u32(at + 20), size = u32(at + 24);
        const int nameLength = u16(at + 28), extra = u16(at + 30), comment = u16(at + 32);
        const qsizetype local = qsizetype(u32(at + 42));
        // A part is never larger packed than the file, and its own header
        // says no more than the directory (a reader allocates what either says).
        if (at + 46 + nameLength > zip.size() || packed > quint64(zip.size()) || local < 0 ||
            local + 30 > zip.size() || !zip.mid(local, 4).startsWith("PK\x03\x04") ||
            u32(local + 18) > quint64(zip.size()) || u32(local + 22) > size)
            throw Refused("damaged central directory");
        const QString name = QString::fromUtf8(zip.mid(at + 46, nameLength));
        if (sizes.contains(name)) // which of the two would be read is the reader's guess
            throw Refused("a part twice");
        sizes.insert(name, size);
        at += 46 + nameLength + extra + comment;
    }
    return sizes;
}

// liborcus 0.17 stops the program (a failed assertion) on a character
// reference past U+10FFFF or below zero: a part holding one is refused
// before it is parsed. In XML "&#" begins nothing but such a reference.
static void checkCharacterReferences(std::string_view xml) {
    for (size_t at = xml.find("&#"); at != std::string_view::npos; at = xml.find("&#", at + 2)) {
        size_t i = at + 2;
        const bool hex = i < xml.size() && (xml[i] == 'x' || xml[i] == 'X');
        if (hex)
            ++i;
        qint64 value = 0;
        int digits = 0;
        for (; i < xml.size() && xml[i] != ';'; ++i, ++digits) {
            const char c = xml[i];
            const int d = c >= '0' && c <= '9'          ? c - '0'
                          : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                        : -1;
            if (d < 0 || digits >= 12)
                throw Refused("bad character reference");
            value = value * (hex ? 16 : 10) + d;
        }
        if (value > 0x10FFFF)
            throw Refused("bad character reference");
    }
}

// liborcus 0.17 also reads past the end of a part in which a tag, a quoted
// value, a comment, a CDATA section or an entity is still open when the text
// ends: each must close before the end (the NUL the reader relies on), or
// the part is refused as cut short.
static void checkEverythingCloses(std::string_view xml) {
    const size_t end = !xml.empty() && xml.back() == '\0' ? xml.size() - 1 : xml.size();
    const auto closing = [&](size_t from, std::string_view mark) {
        const size_t at = xml.find(mark, from);
        if (at == std::string_view::npos || at + mark.size() > end)
            throw Refused("part cut short");
        return at + mark.size();
    };
    for (size_t i = 0; i < end;) {
        // Only "<!" and "<?" can begin anything but a tag: an ordinary tag
        // (nearly every '<' of a sheet) is told by the one character after it.
        const char next = i + 1 < end ? xml[i + 1] : '\0';
        if (xml[i] == '&') {
            i = closing(i, ";");
        } else if (xml[i] != '<') {
            ++i;
        } else if (next == '!' && xml.compare(i, 4, "<!--") == 0) {
            i = closing(i + 4, "-->");
        } else if (next == '!' && xml.compare(i, 9, "<![CDATA[") == 0) {
            i = closing(i + 9, "]]>");
        } else if (next == '?') {
            i = closing(i + 2, "?>");
        } else {
            // A tag, to its '>' outside quoted values.
            char quote = 0;
            for (++i;; ++i) {
                if (i >= end)
                    throw Refused("part cut short");
                const char c = xml[i];
                if (quote && c == '&')
                    i = closing(i, ";") - 1;
                else if (quote && c == quote)
                    quote = 0;
                else if (!quote && (c == '"' || c == '\''))
                    quote = c;
                else if (!quote && c == '>')
                    break;
            }
            ++i;
        }
    }
}

void parseXml(const std::vector<unsigned char>& part, Handler& h) {
    const std::string_view xml(reinterpret_cast<const char*>(part.data()), part.size());
    checkCharacterReferences(xml);
    checkEverythingCloses(xml);
    orcus::sax_parser<Handler> p(xml.data(), xml.size(), h);
    p.parse();
    if (!h.any || h.open != 0)
        throw Refused("part cut short");
}

static QString folderOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf('/');
    return slash < 0 ? QString() : part.left(slash + 1);
}

// A target relative to the part's folder, or from the package root when it
// begins with a slash (openpyxl writes those), as a part name.
static QString resolve(const QString& folder, const QString& target) {
    QStringList parts;
    const QString path = target.startsWith('/') ? target.mid(1) : folder + target;
    for (const QString& p : path.split('/')) {
        if (p == QLatin1String(".."))
            parts.isEmpty() ? void() : parts.removeLast();
        else if (!p.isEmpty() && p != QLatin1String("."))
            parts << p;
    }
    return parts.join('/');
}

Relations relationsOf(const Package& pkg, const QString& part) {
    Relations r;
    const QString folder = folderOf(part);
    const QString name = folder + "_rels/" + part.mid(folder.size()) + ".rels";
    if (!pkg.has(name))
        return r;
    Handler h;
    h.start = [&](std::string_view el, const Attributes& a) {
        if (el != "Relationship")
            return;
        const QString target = resolve(folder, text(a.value("Target")));
        r.byId.insert(text(a.value("Id")), target);
        const QString type = text(a.value("Type")).section('/', -1);
        if (!r.byType.contains(type))
            r.byType.insert(type, target);
    };
    parseXml(pkg.part(name), h);
    return r;
}

} // namespace exchange::xlsx
