#pragma once

#include "base/Values.h"

#include <QStringList>
#include <Qt>
#include <initializer_list>
#include <iterator>

// The column tables of the work tables: one row per column, indexed by the
// column's enum. The grids, the SQL column lists, the table definitions and
// the reports all read them; a column is added here in one line.
namespace columns {

enum class Kind { Text, Whole, Money, Flag };

// The longest text a field holds (base/Values.h).
constexpr int MaxTextLength = ::MaxTextLength;

struct Column {
    const char* field;
    const char* caption;
    Kind kind;
    const char* format;      // display format of a number column, "" for none
    Qt::AlignmentFlag align; // horizontal alignment in the grid
    int twips;               // width in the grid, 0 when not shown
    bool editable;
    bool checkBox; // a flag drawn as a check box

    const char* sqlType() const {
        return kind == Kind::Text ? "TEXT" : kind == Kind::Money ? "NUMERIC" : "INTEGER";
    }
};

// "f1, f2, …" of columns [from, to) of a table.
template <std::size_t N> QString list(const Column (&table)[N], int from = 0, int to = int(N)) {
    QStringList out;
    for (int c = from; c < to; ++c)
        out << QString::fromUtf8(table[c].field);
    return out.join(", ");
}

// "f1, f2, …" of the chosen columns of a table, in the order given.
template <std::size_t N>
QString fields(const Column (&table)[N], std::initializer_list<int> chosen) {
    QStringList out;
    for (int c : chosen)
        out << QString::fromUtf8(table[c].field);
    return out.join(", ");
}
// "f1 = ?, f2 = ?, …" of the chosen columns, for an UPDATE.
template <std::size_t N>
QString assignments(const Column (&table)[N], std::initializer_list<int> chosen) {
    return fields(table, chosen).replace(", ", " = ?, ") + " = ?";
}

// "f1 = ?, f2 = ?, …" of columns [from, to) of a table, for an UPDATE.
template <std::size_t N>
QString assignments(const Column (&table)[N], int from = 0, int to = int(N)) {
    return list(table, from, to).replace(", ", " = ?, ") + " = ?";
}

// "field TYPE" of one column in a CREATE TABLE.
inline QString definition(const Column& c) {
    return QString::fromUtf8(c.field) + " " + c.sqlType() +
           (c.kind == Kind::Flag ? " NOT NULL DEFAULT 0" : "");
}

// "f1 TYPE, f2 TYPE, …" for a CREATE TABLE, after the hidden key.
template <std::size_t N> QString definitions(const Column (&table)[N]) {
    QStringList out;
    for (const Column& c : table)
        out << definition(c);
    return out.join(", ");
}

} // namespace columns

namespace sheet {
// Columns of the sheet grid and of w在庫表 (and of 在庫表 from ColCode on).
enum Column {
    ColCheck,
    ColCode,
    ColName,
    ColQty,
    ColProper,
    ColChange,
    ColUnit,
    ColPrice,
    ColAmount,
    ColCategory,
    ColumnCount
};
using columns::Kind;
inline constexpr columns::Column Columns[] = {
    {"チェック", "", Kind::Flag, "", Qt::AlignHCenter, 465, true, false},
    {"code", "コード", Kind::Text, "", Qt::AlignHCenter, 1700, true, false},
    {"品名", "品　　　名", Kind::Text, "", Qt::AlignLeft, 4460, true, false},
    {"数量", "数 量", Kind::Whole, "#,###", Qt::AlignRight, 1155, true, false},
    {"適正数", "適正数", Kind::Whole, "#,###", Qt::AlignRight, 1020, true, false},
    {"増減", "増減", Kind::Whole, "#,###", Qt::AlignRight, 900, false, false},
    {"単位", "単位", Kind::Text, "", Qt::AlignHCenter, 735, true, false},
    {"単価", "単 価", Kind::Money, "#,###", Qt::AlignRight, 945, true, false},
    {"金額", "金 額", Kind::Money, "#,###", Qt::AlignRight, 1250, false, false},
    {"商品区分", "商品区分", Kind::Text, "", Qt::AlignLeft, 2500, true, false},
};
static_assert(std::size(Columns) == ColumnCount, "one row per sheet column");
// What a count sets on a line: its quantity and the two figures that follow from it.
inline QString countedFields() {
    return columns::fields(Columns, {ColQty, ColAmount, ColChange});
}
// The order of the fields in the file's w在庫表 and w在庫表印刷, which
// existing work files keep; a new column goes at the end here too.
inline constexpr Column StoredOrder[] = {ColCheck,  ColCode,   ColName,  ColQty,    ColUnit,
                                         ColProper, ColChange, ColPrice, ColAmount, ColCategory};
static_assert(std::size(StoredOrder) == ColumnCount, "every sheet column stored once");
// The hidden field of w在庫表 naming the saved line (在庫表.id) a line was loaded from.
inline constexpr const char* SavedIdField = "在庫表id";
// Hidden fields of w在庫表: the product a line's values came from and its
// version then, and which product fields the user typed on the line (a bit
// per column, typedBit). Only typed fields ever reach the product master.
inline constexpr const char* ProductIdField = "商品id";
inline constexpr const char* ProductVersionField = "商品版";
inline constexpr const char* TypedField = "入力";
inline constexpr unsigned typedBit(Column c) {
    return 1u << c;
}
} // namespace sheet

namespace products {
// Columns of the product list and of w商品マスタ (and of 商品マスタ from ColCode on).
enum Column {
    ColCheck,
    ColCode,
    ColName,
    ColUnit,
    ColPrice,
    ColProper,
    ColCategory,
    ColShelf,
    ColRate,
    ColumnCount
};
// The tax rates a product may carry: the standard rate (a product's default)
// and the reduced rate of food and drink.
constexpr int StandardTaxRate = 10;
constexpr int ReducedTaxRate = 8;
// code … 商品区分: the fields a sheet line shares with its product (a line
// has no shelf of its own; the master keeps it).
constexpr int SheetFieldsEnd = ColCategory + 1;
// The order a counter walks the shop: shelf by shelf, by code on a shelf;
// products without a shelf last, by name.
inline constexpr const char* ShelfOrder =
    "棚番 IS NULL, 棚番, (棚番 IS NULL OR code IS NULL), CASE WHEN 棚番 IS NOT NULL THEN code END, "
    "品名, id";
using columns::Kind;
inline constexpr columns::Column Columns[] = {
    {"チェック", "", Kind::Flag, "", Qt::AlignHCenter, 405, true, true},
    {"code", "コード", Kind::Text, "", Qt::AlignHCenter, 1700, true, false},
    {"品名", "品　　　名", Kind::Text, "", Qt::AlignLeft, 4575, true, false},
    {"単位", "単位", Kind::Text, "", Qt::AlignHCenter, 690, true, false},
    {"単価", "単　価", Kind::Money, "#,###", Qt::AlignRight, 1155, true, false},
    {"適正数", "適正数", Kind::Whole, "#,###", Qt::AlignRight, 1080, true, false},
    {"商品区分", "商品区分", Kind::Text, "", Qt::AlignLeft, 1455, true, false},
    {"棚番", "棚番", Kind::Text, "", Qt::AlignLeft, 1000, true, false},
    {"税率", "税率", Kind::Whole, "", Qt::AlignRight, 600, true, false},
};
static_assert(std::size(Columns) == ColumnCount, "one row per product column");
// Every write of a product raises its version (商品マスタ.版), so that a list
// read earlier can tell a row someone else changed since.
inline constexpr const char* VersionField = "版";
// Hidden fields of w商品マスタ: the product a row was read from, its version
// then, and whether the row was edited since (set by the work file itself).
inline constexpr const char* IdField = "商品id";
inline constexpr const char* EditedField = "変更";

// The product drop-down (read from the ledger): the list's columns without the mark.
enum RefColumn { RefCode, RefName, RefUnit, RefPrice, RefProper, RefCategory, RefColumnCount };
inline constexpr columns::Column RefColumns[] = {
    {"code", "コード", Kind::Text, "", Qt::AlignHCenter, 1700, false, false},
    {"品名", "品　　　名", Kind::Text, "", Qt::AlignLeft, 4575, false, false},
    {"単位", "単位", Kind::Text, "", Qt::AlignHCenter, 690, false, false},
    {"単価", "単　価", Kind::Money, "#,###", Qt::AlignRight, 1155, false, false},
    {"適正数", "適正数", Kind::Whole, "#,###", Qt::AlignRight, 1080, false, false},
    {"商品区分", "商品区分", Kind::Text, "", Qt::AlignLeft, 1455, false, false},
};
static_assert(std::size(RefColumns) == RefColumnCount, "one row per drop-down column");
} // namespace products

namespace codes {
// Each kind of the code master has this many numbered slots, "01" … "30".
constexpr int SlotCount = 30;

// Columns of the slot editor wコードマスタ; only the name is shown.
enum CodeColumn { ColLine, ColCheck, ColCode, ColName, CodeColumnCount };
using columns::Kind;
inline constexpr columns::Column CodeColumns[] = {
    {"行番号", "", Kind::Whole, "", Qt::AlignRight, 0, false, false},
    {"チェック", "", Kind::Flag, "", Qt::AlignHCenter, 0, false, false},
    {"code", "", Kind::Text, "", Qt::AlignHCenter, 0, false, false},
    {"sname", "名　　称", Kind::Text, "", Qt::AlignLeft, 2925, true, false},
};
static_assert(std::size(CodeColumns) == CodeColumnCount, "one row per slot column");

// The one column of the category and unit drop-downs.
inline constexpr columns::Column NameColumns[] = {
    {"sname", "", Kind::Text, "", Qt::AlignLeft, 0, false, false},
};
} // namespace codes
