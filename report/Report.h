#pragma once

#include "base/NamedRow.h"
#include "base/Result.h"

#include <QHash>
#include <QPair>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>

// A small banded report: sections with heights, items at positions in twips,
// rows from a work table, A4 pages that never split a detail block.
namespace report {

// Box: an empty frame to write in by hand. Picture: an image (a chart) the
// window adds to a laid-out page; `Placed::picture` holds it.
enum class ItemKind { Label, TextBox, Field, Line, PageNumber, Box, Picture };

struct Item {
    QString name;
    ItemKind kind = ItemKind::Label;
    int left = 0, top = 0, width = 0, height = 0; // twips within the section
    QString text;                                 // a label's caption or a text box's value
    QString field;                                // a bound field
    QString format; // display format of a number field ("#,###", "#,##0")
    Qt::Alignment align = Qt::AlignLeft;
    double fontPt = 10.0;
    bool bold = false;
    bool visible = true;
};

struct Section {
    int height = 0;
    QVector<Item> items;
};

struct Definition {
    QString name;
    Section pageHeader, detail, pageFooter;
    // Rows grouped by a field: groupHeader stands above the first row of each
    // value (its fields read that row), and is never left alone at a page's foot.
    QString groupField;
    Section groupHeader;
    int paperWidth = 11906, paperHeight = 16838; // A4 upright, twips
    int marginTop = 500, marginBottom = 800, marginLeft = 100, marginRight = 200;
};

// Builders for report layouts.
Item item(ItemKind kind, const QString& name, const QString& text, int left, int top, int width,
          int height, Qt::Alignment align = Qt::AlignLeft, double fontPt = 10.5, bool bold = false);
// A fixed caption.
Item label(const QString& name, const QString& text, int left, int top, int width, int height,
           Qt::Alignment align = Qt::AlignLeft, double fontPt = 10.5, bool bold = false);
// A bound field in the detail's 10-point text.
Item field(const QString& name, const QString& field, const QString& format, int left, int top,
           int width, int height, Qt::Alignment align);
// A horizontal rule from left to right at top.
Item rule(const QString& name, int left, int top, int right);

using RowValues = NamedRow;

// One item where it stands on its page, ready to paint.
struct Placed {
    QString name;
    ItemKind kind;
    QRect rect; // twips from the paper's top-left corner
    QString text;
    Qt::Alignment align;
    double fontPt;
    bool bold;
    QVariant picture = QVariant(); // a QImage for a Picture
};

struct Page {
    int number = 1;
    QVector<Placed> items;
};

// A report ready to show: its pages, the other forms of it the preview offers,
// and the parts of the name a PDF is suggested under (empty: the title).
struct Printout {
    QString title;
    QVector<Page> pages;
    QVector<QPair<QString, std::function<QVector<Page>()>>> forms;
    QStringList fileName;
};

// Lays the report out into pages; pure, paints nothing.
QVector<Page> layout(const Definition& def, const QVector<RowValues>& rows);
// The text a field shows: numbers by their format, other values as stored.
QString fieldText(const QVariant& value, const QString& format);
// The fields a report's layout binds, in layout order.
QStringList boundFields(const Definition& def);

} // namespace report
