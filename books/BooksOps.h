#pragma once

#include "base/Values.h"
#include "store/Columns.h"
#include "store/Store.h"

#include <QDate>
#include <QStringList>

// The year-end count as the books need it: the settings of the books (kept in
// the main data, so every PC of a shared ledger uses the same), amounts as
// the books keep them, the 棚卸表 of a date and the recount of its amounts.
namespace books {

// The choices of each setting; the first is the default.
QStringList methods();     // 評価方法: 最終仕入原価法 …
QStringList accountings(); // 経理方式: 税込経理, 税抜経理
QStringList priceTaxes();  // 単価の税: 税込, 税抜
QStringList roundings();   // 端数処理: 四捨五入, 切り捨て, 切り上げ

struct Settings {
    QString method = methods().first();
    QString accounting = accountings().first();
    QString priceTax = priceTaxes().first();
    QString rounding = roundings().first();
    bool operator==(const Settings& o) const {
        return method == o.method && accounting == o.accounting && priceTax == o.priceTax &&
               rounding == o.rounding;
    }
};
// What is stored; a setting never stored (or no longer a choice) is its default.
Result<Settings> readSettings(Store& store);
// Stores every setting in one transaction; a value that is not a choice is refused.
Status writeSettings(Store& store, const Settings& settings);

// 自社情報: the name and address the 棚卸表 is made out to.
struct Company {
    QString name, address;
};
Result<Company> readCompany(Store& store);
Status writeCompany(Store& store, const Company& company);

// The tax rates a product may carry: the standard and the reduced rate.
constexpr int StandardRate = products::StandardTaxRate;
constexpr int ReducedRate = products::ReducedTaxRate;

// num / den rounded to a whole number by a 端数処理 (halves away from zero for
// 四捨五入; 切り捨て toward zero; 切り上げ away from zero). den > 0.
qint64 roundRatio(qint64 num, qint64 den, const QString& rounding);
// A line's amount as the books keep it: converted between 税込 and 税抜 at
// the line's rate when 単価 holds the other, rounded by the setting.
qint64 bookAmount(qint64 amount, int rate, const Settings& s);
// A unit price the same way, to the sen (two decimals), for the printed list.
Currency bookPrice(const Currency& price, int rate, const Settings& s);

// One line of the 棚卸表: 品名 (with its unit as 種類・品質・型), 数量, 単価 and
// 金額 as the books keep them.
struct InventoryLine {
    QString name, unit;
    qint64 quantity = 0;
    Currency price;
    qint64 amount = 0;
    int rate = StandardRate;
};
struct InventoryGroup {
    QString category; // empty for lines saved without one
    QVector<InventoryLine> lines;
    qint64 subtotal = 0;
};
struct Inventory {
    QDate date;
    bool closed = false;
    QString company, address;
    Settings settings;
    QVector<InventoryGroup> groups; // by category name, lines in their saved order
    qint64 total = 0;
    QStringList counters; // who recorded the count's entries, by name
};
// The saved count of a date (every category) as the books list it; lines
// without a quantity, or counted 0, hold no stock and are left out.
Result<Inventory> inventory(Store& store, const QDate& date);

// 「この日付を再計算」: every saved line of an unclosed date gets 数量 × 単価
// rounded by `rounding` again; its sheets' versions are raised where a line
// changed, so other PCs read them again. Gives the lines changed.
Result<int> recompute(Store& store, const QDate& date, const QString& rounding);

// The closed counts of the last seven years (newest first), as the questions
// before erasing or replacing the data name them.
Result<QVector<QDate>> closedCounts(Store& store, const QDate& today);
// "2026年12月31日、2025年12月31日" (at most `most`, then "ほか n 件").
QString namedDates(const QVector<QDate>& dates, int most = 5);

} // namespace books
