#pragma once

#include "exchange/Csv.h"

#include <QHash>
#include <cstring>
#include <deque>
#include <functional>
#include <orcus/sax_parser.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

// A workbook's package as the reader sees it: its parts unpacked within
// bounds, their XML parsed, their relationships followed.
namespace exchange::xlsx {

// A package part's text, at most this large once unpacked: a sheet of
// 100,000 products is about 30 MB; a ZIP bomb is refused before unpacking.
constexpr quint64 MaxPartBytes = 128ull << 20;

// A package that cannot be read: a fault of the file (said plainly), or a
// reason of ours for the user.
struct Refused : std::runtime_error {
    explicit Refused(const char* fault) : std::runtime_error(fault) {}
    explicit Refused(const QString& reason)
        : std::runtime_error(reason.toStdString()), said(true) {}
    bool said = false;
};

// Text as the package keeps it: a character XML cannot hold (a control
// character) written as _x0001_.
QString unescaped(std::string_view utf8);
// The sizes the package's central directory declares, by part name, read
// before anything is unpacked.
QHash<QString, quint64> declaredSizes(const QByteArray& zip);

// A package: its parts by name, unpacked on demand.
class Package {
  public:
    explicit Package(const QByteArray& bytes)
        : m_stream(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())),
          m_zip(&m_stream), m_sizes(declaredSizes(bytes)) {
        m_zip.load();
    }
    bool has(const QString& name) const { return m_sizes.contains(name); }
    // A part's text, ended by a NUL of its own (the parser reads up to one
    // at the end: without it, a part cut inside a tag is read past its end).
    std::vector<unsigned char> part(const QString& name) const {
        if (m_sizes.value(name) > MaxPartBytes)
            throw Refused("part too large");
        std::vector<unsigned char> buf;
        if (!m_zip.read_file_entry(name.toStdString(), buf))
            throw Refused("missing part");
        // The reader ends the text with a NUL of its own and fills what a
        // part shorter than the package says lacks with NULs: XML holds none.
        const quint64 size = m_sizes.value(name);
        if (buf.size() < size || std::memchr(buf.data(), 0, size) != nullptr)
            throw Refused("part cut short");
        buf.resize(size);
        buf.push_back(0);
        return buf;
    }

  private:
    orcus::zip_archive_stream_blob m_stream;
    orcus::zip_archive m_zip;
    QHash<QString, quint64> m_sizes;
};

// An element's attributes by local name, as the parser gives them: views
// into the part's text, copied only when the parser decoded them into a
// buffer of its own (an entity in the value).
class Attributes {
  public:
    // The value, empty when the element has none (the last one of a name counts).
    std::string_view view(std::string_view name) const {
        for (auto a = m_items.rbegin(); a != m_items.rend(); ++a)
            if (a->first == name)
                return a->second;
        return {};
    }
    QByteArray value(std::string_view name) const {
        const std::string_view v = view(name);
        return QByteArray(v.data(), qsizetype(v.size()));
    }
    bool contains(std::string_view name) const {
        for (const auto& a : m_items)
            if (a.first == name)
                return true;
        return false;
    }
    void add(std::string_view name, std::string_view value, bool transient) {
        if (transient) {
            m_owned.emplace_back(value);
            value = m_owned.back();
        }
        m_items.emplace_back(name, value);
    }
    void clear() {
        m_items.clear();
        m_owned.clear();
    }

  private:
    std::vector<std::pair<std::string_view, std::string_view>> m_items;
    std::deque<std::string> m_owned;
};

// A SAX handler that hands each element's attributes to start(), and
// collects text. It counts the elements open: a part whose elements are not
// all closed was cut short.
struct Handler {
    Attributes attrs;
    int open = 0;
    bool any = false;
    std::function<void(std::string_view, const Attributes&)> start;
    std::function<void(std::string_view)> end;
    std::function<void(std::string_view)> text;
    void doctype(const orcus::sax::doctype_declaration&) {}
    void start_declaration(std::string_view) {}
    void end_declaration(std::string_view) {}
    void attribute(std::string_view, std::string_view) {}
    void attribute(const orcus::sax::parser_attribute& a) {
        attrs.add(a.name, a.value, a.transient);
    }
    void start_element(const orcus::sax::parser_element& e) {
        ++open;
        any = true;
        if (start)
            start(e.name, attrs);
        attrs.clear();
    }
    void end_element(const orcus::sax::parser_element& e) {
        --open;
        if (end)
            end(e.name);
    }
    void characters(std::string_view s, bool) {
        if (text)
            text(s);
    }
};

inline QString text(const QByteArray& b) {
    return QString::fromUtf8(b);
}

// A part's relationships: id → target part name, and the targets by type.
struct Relations {
    QHash<QString, QString> byId;
    QHash<QString, QString> byType; // the type's last word ("styles") → first target
};

// Parses a part's XML into the handler; a part that does not close what it
// opens, or holds a character reference the parser cannot take, is refused.
void parseXml(const std::vector<unsigned char>& part, Handler& h);
// A part's relationships (those of the package itself for an empty name).
Relations relationsOf(const Package& pkg, const QString& part);

} // namespace exchange::xlsx
