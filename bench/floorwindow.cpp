#include "bench/floorwindow.h"

#include "base/Fonts.h"
#include "store/Server.h"
#include "store/Store.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <cstdio>
#include <vector>

namespace {

// The rows of a statement, every value read; false said on the error output.
bool read(QSqlDatabase& db, const QString& sql, const QVariantList& params = {},
          std::vector<QVariantList>* rows = nullptr) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Prepared only with values to bind: a server prepares in a round trip
    // of its own.
    bool done = false;
    if (params.isEmpty()) {
        done = q.exec(sql);
    } else {
        q.prepare(sql);
        for (int i = 0; i < params.size(); ++i)
            q.bindValue(i, params[i]);
        done = q.exec();
    }
    if (!done) {
        std::fprintf(stderr, "floor: %s\n%s\n", qPrintable(q.lastError().text()), qPrintable(sql));
        return false;
    }
    const int columns = q.record().count();
    while (q.next()) {
        QVariantList row;
        for (int c = 0; c < columns; ++c)
            row << q.value(c);
        if (rows)
            rows->push_back(std::move(row));
    }
    return true;
}

// The sheet's lines as a table shows them: each cell's value, nothing else.
class LinesModel : public QAbstractTableModel {
  public:
    LinesModel(const std::vector<QVariantList>& rows, int columns, QObject* parent)
        : QAbstractTableModel(parent), m_rows(rows), m_columns(columns) {}
    int rowCount(const QModelIndex& = {}) const override { return int(m_rows.size()); }
    int columnCount(const QModelIndex& = {}) const override { return m_columns; }
    QVariant data(const QModelIndex& i, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        const QVariantList& row = m_rows[size_t(i.row())];
        return i.column() < row.size() ? row[i.column()] : QVariant();
    }

  private:
    const std::vector<QVariantList>& m_rows;
    int m_columns;
};

} // namespace

int showFloorWindow(const QString& dataDir, const QString& size, const QString& controls,
                    const QString& server) {
    QFont f = QApplication::font();
    f.setFamilies(ledgerFontFamilies());
    f.setPointSize(10);
    QApplication::setFont(f);

    // The files: the work file, and the ledger's own file or its server,
    // each version checked.
    QSqlDatabase work = QSqlDatabase::addDatabase("QSQLITE", "floor-work");
    work.setDatabaseName(dataDir + "/StolvaWork.mdb");
    if (!work.open())
        return 1;
    QSqlDatabase main = work;
    QString in = QStringLiteral("m.");
    if (server.isEmpty()) {
        if (!read(work, "ATTACH DATABASE ? AS m", {dataDir + "/Stolva.mdb"}))
            return 1;
        for (const char* p : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=FULL",
                              "PRAGMA m.journal_mode=DELETE", "PRAGMA m.synchronous=FULL",
                              "PRAGMA user_version", "PRAGMA m.user_version"})
            if (!read(work, p))
                return 1;
    } else {
        const Result<server::Address> a = server::parse(server);
        if (!a || !server::connect("floor-main", a.value, 1500))
            return 1;
        main = QSqlDatabase::database("floor-main");
        in.clear();
        for (const char* p : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=FULL"})
            if (!read(work, p))
                return 1;
        if (!read(main, "SELECT max(version) FROM stolva_schema"))
            return 1;
    }
    // What the first tab shows: both lists of names, the saved dates, the
    // day's closed mark, the books' settings; and the work tables as a
    // start leaves them, the sheet's 500 blank lines read back.
    std::vector<QVariantList> names, lines;
    if (!read(main,
              "SELECT kcode, sname FROM " + in +
                  "コードマスタ WHERE kcode IN ('商品区分', '単位') AND sname IS NOT NULL "
                  "ORDER BY code, id",
              {}, &names) ||
        !read(main, "SELECT DISTINCT 日付 FROM " + in + "在庫表集計 ORDER BY 日付") ||
        !read(main, "SELECT count(*) FROM " + in + "在庫表確定 WHERE 日付 = ?",
              {QDate::currentDate().toString(Qt::ISODate)}) ||
        !read(main, "SELECT 項目, 値 FROM " + in + "帳簿設定"))
        return 1;
    QVariantList slotCodes;
    for (int i = 1; i <= 30; ++i)
        slotCodes << QString("%1").arg(i, 2, 10, QChar('0'));
    const QStringList resets{QStringLiteral("BEGIN"),
                             QStringLiteral("DELETE FROM w商品マスタ"),
                             QStringLiteral("DELETE FROM wコードマスタ"),
                             "INSERT INTO wコードマスタ (code) VALUES " + rowMarks(30, 1),
                             QStringLiteral("DELETE FROM w在庫表"),
                             BlankLines,
                             QStringLiteral("DELETE FROM w商品区分参照"),
                             QStringLiteral("DELETE FROM w単位参照"),
                             QStringLiteral("COMMIT")};
    for (const QString& sql : resets)
        if (!read(work, sql, sql.startsWith("INSERT INTO wコード") ? slotCodes : QVariantList()))
            return 1;
    if (!read(work,
              "SELECT seq, チェック, code, 品名, 数量, 適正数, 増減, 単位, 単価, 金額, 商品区分 "
              "FROM w在庫表 ORDER BY seq",
              {}, &lines))
        return 1;
    QStringList categories;
    for (const QVariantList& n : names)
        if (n[0].toString() == QStringLiteral("商品区分"))
            categories << n[1].toString();

    // The window: as large as the ledger's, its tabs, and on the first one as
    // many controls of each kind as the ledger showed, in one grid.
    QMainWindow w;
    const QStringList wh = size.split('x');
    if (wh.size() == 2)
        w.resize(wh[0].toInt(), wh[1].toInt());
    auto* tabs = new QTabWidget;
    auto* first = new QWidget;
    auto* grid = new QGridLayout(first);
    int at = 0;
    const auto place = [&](QWidget* c) {
        grid->addWidget(c, at / 8, at % 8);
        ++at;
    };
    std::vector<QTableView*> tables;
    for (const QString& said : controls.split(' ', Qt::SkipEmptyParts)) {
        const QString kind = said.section('=', 0, 0);
        const QString value = said.section('=', 1);
        if (kind == QLatin1String("tabs")) {
            const QStringList captions = value.split('|');
            for (int i = 0; i < captions.size(); ++i)
                tabs->addTab(i == 0 ? first : new QWidget, captions[i]);
            continue;
        }
        // The window, the tabs and the status bar are made once, below.
        if (kind == QLatin1String("QTabWidget") || kind == QLatin1String("QStatusBar") ||
            kind == QLatin1String("QSizeGrip"))
            continue;
        for (int n = value.toInt(); n > 0; --n) {
            if (kind == QLatin1String("QLabel")) {
                place(new QLabel(QStringLiteral("商品区分")));
            } else if (kind == QLatin1String("QPushButton")) {
                place(new QPushButton(QStringLiteral("登録")));
            } else if (kind == QLatin1String("QCheckBox")) {
                place(new QCheckBox(QStringLiteral("確定")));
            } else if (kind == QLatin1String("QLineEdit")) {
                place(new QLineEdit);
            } else if (kind.startsWith(QLatin1String("QComboBox"))) {
                auto* box = new QComboBox;
                box->setEditable(kind.endsWith(QLatin1String("+edit")));
                box->addItems(categories);
                place(box);
            } else if (kind == QLatin1String("QDateEdit")) {
                place(new QDateEdit(QDate::currentDate()));
            } else if (kind.startsWith(QLatin1String("QTableView:"))) {
                auto* table = new QTableView;
                table->setModel(new LinesModel(lines, kind.section(':', 1).toInt(), table));
                tables.push_back(table);
            } else {
                place(new QWidget);
            }
        }
    }
    if (tabs->count() == 0)
        tabs->addTab(first, QStringLiteral("在庫表"));
    const int row = at / 8 + 1;
    for (size_t i = 0; i < tables.size(); ++i)
        grid->addWidget(tables[i], row, int(i) * 8 / int(tables.size()), 1, 8 / int(tables.size()));
    grid->setRowStretch(row, 1);
    w.setCentralWidget(tabs);
    w.statusBar()->showMessage(QString());
    w.show();
    QCoreApplication::processEvents();
    std::fputs("shown\n", stdout);
    return 0;
}
