// stolva_bench: measures each operation of the ledger on generated data and
// prints a Markdown table: the median of repeated runs, the floor and their
// ratio. A floor is the least raw SQLite work that gives the same result on
// the same files (one INSERT … SELECT where that does it, values bound from
// memory where a file or a check gives them; for start-up a window of plain
// controls as many as the ledger shows, over the same reads of its files),
// so a ratio below 1 would mean the floor is wrong.
//
//   stolva_bench                 the table at 10,000 products
//   stolva_bench --products N    the large-ledger rows at N products
#include "backup/BackupOps.h"
#include "backup/Erase.h"
#include "base/Fonts.h"
#include "bench/floorwindow.h"
#include "bench/generator.h"
#include "bench/proxy.h"
#include "codes/CodeOps.h"
#include "exchange/Export.h"
#include "exchange/Import.h"
#include "exchange/Workbook.h"
#include "history/HistoryOps.h"
#include "phones/PhoneServer.h"
#include "products/ProductOps.h"
#include "report/Paint.h"
#include "report/Report.h"
#include "sheet/CountLedger.h"
#include "sheet/CountProgress.h"
#include "sheet/Scan.h"
#include "sheet/SheetOps.h"
#include "sheet/SheetReport.h"
#include "store/Schema.h"
#include "store/Server.h"
#include "work/ProductRefModel.h"
#include "work/RefModels.h"
#include "work/WorkResets.h"
#include "work/WorkRows.h"

#include <QApplication>
#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QMainWindow>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <csv.h>
#include <functional>
#include <httplib.h>
#include <map>
#include <mutex>
#include <orcus/sax_parser.hpp>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include <xlsxwriter.h>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Runs setup (not timed) and body (timed) `runs` times; median in ms.
double measure(int runs, const std::function<void()>& setup, const std::function<void()>& body) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        if (setup)
            setup();
        QElapsedTimer e;
        e.start();
        body();
        t.push_back(e.nsecsElapsed() / 1e6);
    }
    return median(t);
}

template <typename Outcome> void check(const Outcome& outcome, const char* what) {
    const Status& s = statusOf(outcome);
    if (!s) {
        std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(s.error));
        std::exit(1);
    }
}

// A raw connection to the same files, with the same pragmas: the floors.
class Raw {
  public:
    Raw(const QString& dir, const QString& name) : m_name(name) {
        m_db = QSqlDatabase::addDatabase("QSQLITE", name);
        m_db.setDatabaseName(dir + "/StolvaWork.mdb");
        m_db.open();
        for (const char* p : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=FULL"})
            run(p);
        run("ATTACH DATABASE '" + dir + "/Stolva.mdb' AS m");
        run("PRAGMA m.journal_mode=DELETE");
        run("PRAGMA m.synchronous=FULL");
    }
    ~Raw() {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    void run(const QString& sql, const QVariantList& params = {}) {
        QSqlQuery q(m_db);
        q.prepare(sql);
        for (int i = 0; i < params.size(); ++i)
            q.bindValue(i, params[i]);
        if (!q.exec()) {
            std::fprintf(stderr, "floor: %s\n%s\n", qPrintable(q.lastError().text()),
                         qPrintable(sql));
            std::exit(1);
        }
        const int columns = q.record().count();
        while (q.next())
            for (int c = 0; c < columns; ++c)
                q.value(c);
    }
    // The rows of a SELECT, each handed over as the driver reads it.
    void each(const QString& sql, const std::function<void(const QSqlQuery&, int)>& row) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(sql)) {
            std::fprintf(stderr, "floor: %s\n%s\n", qPrintable(q.lastError().text()),
                         qPrintable(sql));
            std::exit(1);
        }
        const int columns = q.record().count();
        while (q.next())
            row(q, columns);
    }
    // Rows from memory appended to a table by one prepared many-row INSERT,
    // each value bound straight: the least work for values a file gave.
    void insertRows(const QString& table, const QString& fields,
                    const std::vector<QVariantList>& rows) {
        bound(
            [&](const QString& values) {
                return "INSERT INTO " + table + " (" + fields + ") VALUES " + values;
            },
            int(fields.count(',')) + 1, rows);
    }
    // The same for any statement of a VALUES list: statement(the list).
    void bound(const std::function<QString(const QString&)>& statement, int width,
               const std::vector<QVariantList>& rows) {
        sqlite3* h = *static_cast<sqlite3* const*>(m_db.driver()->handle().data());
        constexpr int Chunk = 100;
        QString marks = "(" + QString("?, ").repeated(width - 1) + "?)";
        const QString sql = statement((marks + ", ").repeated(Chunk - 1) + marks);
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(h, text.constData(), int(text.size()), &st, nullptr);
        size_t r = 0;
        for (; r + Chunk <= rows.size(); r += Chunk) {
            for (int k = 0; k < Chunk; ++k)
                for (int c = 0; c < width; ++c) {
                    const QVariant& v = rows[r + size_t(k)][c];
                    const int at = k * width + c + 1;
                    if (v.isNull())
                        sqlite3_bind_null(st, at);
                    else if (v.typeId() == QMetaType::QString) {
                        // Encoded as the file holds text, into memory SQLite keeps.
                        const QString t = v.toString();
                        QStringEncoder utf8(QStringEncoder::Utf8);
                        char* b = static_cast<char*>(
                            sqlite3_malloc64(sqlite3_uint64(utf8.requiredSpace(t.size())) + 1));
                        const char* e = utf8.appendToBuffer(b, t);
                        sqlite3_bind_text64(st, at, b, sqlite3_uint64(e - b), sqlite3_free,
                                            SQLITE_UTF8);
                    } else if (v.typeId() == QMetaType::Double)
                        sqlite3_bind_double(st, at, v.toDouble());
                    else
                        sqlite3_bind_int64(st, at, v.toLongLong());
                }
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        for (; r < rows.size(); ++r) // the rest, one by one
            run(statement(marks), rows[r]);
    }
    // The statements in one transaction.
    void tx(const QStringList& sql, const QVariantList& params = {}) {
        run("BEGIN");
        for (const QString& s : sql)
            run(s, s.count('?') == params.size() ? params : QVariantList());
        run("COMMIT");
    }

  private:
    QString m_name;
    QSqlDatabase m_db;
};

struct Line {
    QString action;
    double median;
    double floor;
};

void print(const std::vector<Line>& lines) {
    std::printf("| action | median ms | floor ms | ratio |\n|---|---:|---:|---:|\n");
    for (const Line& l : lines)
        std::printf("| %s | %.2f | %.2f | %.1f |\n", qPrintable(l.action), l.median, l.floor,
                    l.floor > 0 ? l.median / l.floor : 0.0);
}

// From the start of a child process to its window shown, median of 7.
// The size of the ledger's window as it last started and the controls it
// showed ("window WxH" and "controls …" on its error output): the start-up
// floor opens a window as large with as many.
QString shownSize = QStringLiteral("800x600");
QString shownControls;

double startUp(const QStringList& args) {
    std::vector<double> t;
    for (int i = 0; i < 7; ++i) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        QElapsedTimer e;
        e.start();
        p.start(args[0], args.mid(1));
        while (p.waitForReadyRead(10000))
            if (p.readAllStandardOutput().contains("shown")) {
                t.push_back(e.nsecsElapsed() / 1e6);
                break;
            }
        p.waitForFinished(10000);
        const QString said = QString::fromUtf8(p.readAllStandardError());
        if (const qsizetype at = said.indexOf("window "); at >= 0)
            shownSize = said.mid(at + 7).section('\n', 0, 0).trimmed();
        if (const qsizetype at = said.indexOf("controls "); at >= 0)
            shownControls = said.mid(at + 9).section('\n', 0, 0).trimmed();
    }
    return median(t);
}

// Measured after the ledger's start on the same folder (and server): its
// window and controls are the ones last shown.
double startUpFloor(const QString& dataDir, const QString& server = QString()) {
    QStringList args{QCoreApplication::applicationFilePath(),
                     "--floor-window",
                     shownSize,
                     "--floor-controls",
                     shownControls,
                     "--floor-data",
                     dataDir};
    if (!server.isEmpty())
        args << "--floor-server" << server;
    return startUp(args);
}

double stolvaStartUp(const QString& dataDir) {
    return startUp({QCoreApplication::applicationDirPath() + "/stolva", "--exit-when-shown",
                    "--data-dir", dataDir});
}

// 31 edits of the first line's name, each looked up in the master, written
// with what follows from it and the total moved, as typing does: the grid
// holds the line and takes back what was written.
double cellEdits(Store& store, int products) {
    const qint64 seq = store.scalar(Db::Work, "SELECT min(seq) FROM w在庫表").toLongLong();
    Row line =
        store
            .query(Db::Work,
                   "SELECT " + columns::list(sheet::Columns) + " FROM w在庫表 WHERE seq = ?", {seq})
            .value(0);
    const auto amount = [](const QVariant& v) {
        return Currency::fromVariant(v).value_or(Currency());
    };
    Currency total = sheet::calc明細(store).value;
    int k = 0;
    return measure(31, {}, [&] {
        const auto w = sheet::writeCell(store, seq, sheet::ColName,
                                        gen::productName(k++ * 13 % products), line);
        check(*w, "edit");
        total = total - amount(line[sheet::ColAmount]) + amount(w->value.line[sheet::ColAmount]);
        line = w->value.line;
    });
}

// Nine saves of a new 500-line sheet over the same date; `statements` gets
// what one sent.
double sheetSaves(Store& store, qint64* statements) {
    int seed = 0;
    return measure(
        9, [&] { gen::workSheet(store, 500, seed++); },
        [&] {
            const qint64 before = store.statementsRun();
            check(sheet::entry在庫表(store, QDate(2026, 6, 1), QString()), "save");
            *statements = store.statementsRun() - before;
        });
}

// The floor of a save to a server: the sheet's named lines read from the work
// file and written over a plain connection through the same distance: the
// date's lines replaced, one entry each with its product and shelf found by
// name, each category's version moved; many rows a statement, each prepared
// once (the server's own work and the distance counted, as for the ledger).
double serverSaveFloor(Store& store, const server::Address& at) {
    check(server::connect("bench-save-floor", at, 10000), "connect");
    QSqlDatabase db = QSqlDatabase::database("bench-save-floor");
    std::map<QString, QSqlQuery> kept;
    const auto run = [&](const QString& sql, const QVariantList& values) {
        auto hit = kept.find(sql);
        if (hit == kept.end()) {
            QSqlQuery q(db);
            if (!values.isEmpty())
                q.prepare(sql);
            hit = kept.emplace(sql, q).first;
        }
        QSqlQuery& q = hit->second;
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values[i]);
        if (!(values.isEmpty() ? q.exec(sql) : q.exec())) {
            std::fprintf(stderr, "floor: %s\n", qPrintable(q.lastError().text()));
            std::exit(1);
        }
    };
    int seed = 200;
    const QString day = QStringLiteral("2026-06-03");
    const double t = measure(
        9, [&] { gen::workSheet(store, 500, seed++); },
        [&] {
            const Rows named =
                store.query(Db::Work, "SELECT code, 品名, 数量, 適正数, 増減, 単位, 単価, "
                                      "金額, 商品区分 FROM w在庫表 WHERE 品名 IS NOT NULL "
                                      "ORDER BY seq");
            const int n = int(named.size());
            QVariantList lines, entries, versions;
            QStringList categories;
            const QString now = QStringLiteral("2026-06-03T10:00:00");
            for (int i = 0; i < n; ++i) {
                const Row& r = named[i];
                lines << day << i + 1;
                for (const QVariant& v : r)
                    lines << v;
                entries << i << r[8] << r[0] << r[1] << r[2];
                if (!categories.contains(r[8].toString()))
                    categories << r[8].toString();
            }
            for (const QString& k : std::as_const(categories))
                versions << day << k << now;
            run("BEGIN", {});
            run("DELETE FROM 在庫表 WHERE 日付 = ?", {day});
            run("INSERT INTO 在庫表 (日付, 行番号, code, 品名, 数量, 適正数, 増減, 単位, 単価, "
                "金額, 商品区分) VALUES " +
                    rowMarks(n, 11),
                lines);
            run("WITH v (i, k, c, n, q) AS (VALUES " +
                    store.typedRows(Db::Main, n, {"INTEGER", "TEXT", "TEXT", "TEXT", "INTEGER"}) +
                    ") INSERT INTO 棚卸記録 (日付, 商品区分, 棚番, 商品, code, 品名, 種類, 後数量, "
                    "担当, 端末, 記録日時) SELECT ?, v.k, p.棚番, p.id, v.c, v.n, '入力', v.q, "
                    "'bench', 'bench', ? FROM v LEFT JOIN (SELECT DISTINCT ON (品名) 品名, id, "
                    "棚番 "
                    "FROM 商品マスタ WHERE 品名 IN (SELECT n FROM v) ORDER BY 品名, id) p ON "
                    "p.品名 = "
                    "v.n ORDER BY v.i",
                entries + QVariantList{day, now});
            run("INSERT INTO 在庫表版 (日付, 商品区分, 版, 保存日時) VALUES " +
                    rowMarks(int(categories.size()), 3).replace("?, ?, ?", "?, ?, 1, ?") +
                    " ON CONFLICT (日付, 商品区分) DO UPDATE SET 版 = 在庫表版.版 + 1, 保存日時 "
                    "= excluded.保存日時",
                versions);
            run("COMMIT", {});
        });
    kept.clear();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("bench-save-floor");
    return t;
}

// The least reading of a file a preview needs: a CSV's bytes split into
// fields by libcsv, nothing kept; a workbook's sheet unpacked and its XML
// parsed by liborcus, nothing kept.
// What a preview's floor matches records against: each row's fields as
// text, by the text of one of them (a code).
using Texts = std::vector<std::string>;
std::unordered_map<std::string, Texts> textsBy(Raw& raw, const QString& sql, int key) {
    std::unordered_map<std::string, Texts> by;
    raw.each(sql, [&](const QSqlQuery& q, int columns) {
        Texts f(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c)
            f[size_t(c)] = q.value(c).toString().toStdString();
        std::string k = f[size_t(key)];
        by.emplace(std::move(k), std::move(f));
    });
    return by;
}

// The least a preview does with a record: its code taken as seen (a
// second record of it is an error), its product found by code and each
// field compared with the stored one; gives the fields that differ.
using ByCode = std::unordered_map<std::string, Texts>;
size_t differing(const ByCode& by, const Texts& rec, int from, const ByCode* lines = nullptr) {
    thread_local std::unordered_set<std::string> seen;
    if (rec.empty()) { // the end of a file
        seen.clear();
        return 0;
    }
    if (!seen.insert(rec[0]).second)
        return 1;
    // A count also finds the sheet's line of its product (a new line if none).
    size_t n = lines && lines->find(rec[0]) == lines->end();
    const auto it = by.find(rec[0]);
    if (it == by.end())
        return rec.size();
    for (size_t i = 1; i < rec.size() && i + size_t(from) < it->second.size(); ++i)
        n += rec[i] != it->second[i + size_t(from)];
    return n;
}

struct Ignored {
    void doctype(const orcus::sax::doctype_declaration&) {}
    void start_declaration(std::string_view) {}
    void end_declaration(std::string_view) {}
    void attribute(std::string_view, std::string_view) {}
    void attribute(const orcus::sax::parser_attribute&) {}
    void start_element(const orcus::sax::parser_element&) {}
    void end_element(const orcus::sax::parser_element&) {}
    void characters(std::string_view, bool) {}
};

// A sheet's rows as the floor reads them: each cell's text (a value or an
// inline string), each row matched as it ends.
struct Cells : Ignored {
    const std::unordered_map<std::string, Texts>* by = nullptr;
    int from = 0;
    Texts rec;
    bool inText = false;
    size_t changed = 0;
    void start_element(const orcus::sax::parser_element& e) {
        if (e.name == "c")
            rec.emplace_back();
        inText = e.name == "v" || e.name == "t";
    }
    void end_element(const orcus::sax::parser_element& e) {
        inText = false;
        if (e.name == "row") {
            changed += differing(*by, rec, from);
            rec.clear();
        }
    }
    void characters(std::string_view text, bool) {
        if (inText && !rec.empty())
            rec.back().append(text);
    }
};

size_t matchSheet(const QByteArray& bytes, const std::unordered_map<std::string, Texts>& by,
                  int from) {
    orcus::zip_archive_stream_blob stream(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                          size_t(bytes.size()));
    orcus::zip_archive zip(&stream);
    zip.load();
    std::vector<unsigned char> part;
    zip.read_file_entry("xl/worksheets/sheet1.xml", part);
    Cells h;
    h.by = &by;
    h.from = from;
    orcus::sax_parser<Cells> xml(reinterpret_cast<const char*>(part.data()), part.size(), h);
    xml.parse();
    differing(by, {}, 0);
    return h.changed;
}

// libcsv splitting the file, each record matched as it ends.
size_t matchCsv(const QByteArray& bytes, const ByCode& by, int from,
                const ByCode* lines = nullptr) {
    struct State {
        Texts rec;
        const ByCode* by;
        int from;
        const ByCode* lines;
        size_t changed = 0;
    } st{{}, &by, from, lines};
    csv_parser p;
    csv_init(&p, CSV_STRICT | CSV_APPEND_NULL);
    const auto field = [](void* f, size_t n, void* s) {
        static_cast<State*>(s)->rec.emplace_back(static_cast<const char*>(f), n);
    };
    const auto record = [](int, void* s) {
        State& st = *static_cast<State*>(s);
        st.changed += differing(*st.by, st.rec, st.from, st.lines);
        st.rec.clear();
    };
    csv_parse(&p, bytes.constData(), size_t(bytes.size()), field, record, &st);
    csv_fini(&p, field, record, &st);
    csv_free(&p);
    differing(by, {}, 0);
    return st.changed;
}

// The floor of a CSV export: the rows read, each field quoted where it must
// be, the bytes written once.
void csvAtLeast(Raw& raw, const QString& sql, const QString& path) {
    QString text(QChar(0xFEFF));
    raw.each(sql, [&](const QSqlQuery& q, int columns) {
        for (int c = 0; c < columns; ++c) {
            const QString v = q.value(c).toString();
            if (c)
                text += ',';
            if (v.contains(',') || v.contains('"') || v.contains('\n'))
                text += '"' + QString(v).replace('"', "\"\"") + '"';
            else
                text += v;
        }
        text += QLatin1String("\r\n");
    });
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(text.toUtf8());
    out.flush();
    ::fsync(out.handle()); // as every file the ledger writes
}

// The floor of a workbook export: the same rows written by libxlsxwriter
// in its constant-memory mode, numbers as numbers in one format.
void workbookAtLeast(Raw& raw, const QString& sql, const QString& path) {
    const QByteArray file = path.toLocal8Bit();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(file.constData(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Sheet1");
    lxw_format* number = workbook_add_format(book);
    format_set_num_format(number, "#,##0");
    lxw_row_t row = 0;
    raw.each(sql, [&](const QSqlQuery& q, int columns) {
        for (int c = 0; c < columns; ++c) {
            const QVariant v = q.value(c);
            if (v.isNull())
                continue;
            if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double)
                worksheet_write_number(sheet, row, lxw_col_t(c), v.toDouble(), number);
            else
                worksheet_write_string(sheet, row, lxw_col_t(c), v.toString().toUtf8().constData(),
                                       nullptr);
        }
        ++row;
    });
    workbook_close(book);
    QFile out(path);
    out.open(QIODevice::ReadWrite);
    ::fsync(out.handle());
}

// The least a layout makes of the rows it is given: each value's text (whole
// numbers grouped by thousands, others as stored) at its row's place.
struct PlacedText {
    QRect at;
    QString text;
};
std::vector<PlacedText> placeTexts(Raw& raw, const QString& sql, int rowHeight) {
    std::vector<PlacedText> out;
    int y = 0;
    raw.each(sql, [&](const QSqlQuery& q, int columns) {
        for (int c = 0; c < columns; ++c) {
            const QVariant v = q.value(c);
            QString text;
            if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double) {
                char digits[32];
                const auto end = std::to_chars(digits, digits + sizeof digits, v.toLongLong()).ptr;
                text.reserve(int(end - digits) * 4 / 3 + 1);
                for (char* d = digits; d < end; ++d) {
                    if (d != digits && *d != '-' && (end - d) % 3 == 0 && d[-1] != '-')
                        text += ',';
                    text += QLatin1Char(*d);
                }
            } else {
                text = v.toString();
            }
            out.push_back({QRect(c * 1000, y, 1000, rowHeight), std::move(text)});
        }
        y += rowHeight;
    });
    return out;
}

// The floor of a PDF: Qt's PDF engine drawing the same texts, lines and
// boxes at their points in the same fonts (no fitting, no alignment), and
// the file written.
void pdfAtPoints(const QVector<report::Page>& pages, const QString& path) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setResolution(600);
        pdf.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        QPainter painter(&pdf);
        const double scale = 600 / 1440.0;
        QHash<int, QFont> fonts;
        for (int i = 0; i < pages.size(); ++i) {
            if (i > 0)
                pdf.newPage();
            for (const report::Placed& p : pages[i].items) {
                const QRectF r(p.rect.left() * scale, p.rect.top() * scale, p.rect.width() * scale,
                               p.rect.height() * scale);
                if (p.kind == report::ItemKind::Line) {
                    painter.drawLine(r.topLeft(), r.topRight());
                } else if (p.kind == report::ItemKind::Box) {
                    painter.drawRect(r);
                } else if (p.kind != report::ItemKind::Picture && !p.text.isEmpty()) {
                    const int key = int(p.fontPt * 100) * 2 + p.bold;
                    if (!fonts.contains(key)) {
                        QFont f;
                        f.setFamilies(ledgerFontFamilies());
                        f.setPointSizeF(p.fontPt);
                        f.setBold(p.bold);
                        fonts.insert(key, f);
                    }
                    painter.setFont(fonts[key]);
                    painter.drawText(r.bottomLeft(), p.text);
                }
            }
        }
    }
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(bytes);
}

// The operations a user repeats at every size of ledger.
// CSV with Excel: the whole master out, then back in with every price
// changed; counts of every product into a sheet.
void csvRows(Store& store, Raw& raw, const QString& root, int products, int runs,
             std::vector<Line>& lines) {
    const QString n = QLocale(QLocale::English).toString(products);
    // The names the products use have their slots (rows before may have filled them).
    gen::nameSlots(store);
    check(products::read商品情報(store, QString()), "read");
    const QString csv = root + "/products.csv";
    const QString fields = columns::list(products::Columns, products::ColCode);
    lines.push_back({"export " + n + " products as CSV",
                     measure(runs, {},
                             [&] {
                                 const auto records = exchange::productRecords(store);
                                 check(records, "records");
                                 check(exchange::writeCsvFile(csv, records.value.rows,
                                                              exchange::Encoding::Utf8Bom),
                                       "write");
                             }),
                     measure(runs, {}, [&] {
                         csvAtLeast(raw, "SELECT " + fields + " FROM w商品マスタ ORDER BY seq",
                                    root + "/floor.csv");
                     })});
    const QString xlsx = root + "/products.xlsx";
    lines.push_back({"export " + n + " products as xlsx",
                     measure(runs, {},
                             [&] {
                                 const auto records = exchange::productRecords(store);
                                 check(records, "records");
                                 check(exchange::writeWorkbookFile(xlsx, records.value), "write");
                             }),
                     measure(runs, {}, [&] {
                         workbookAtLeast(raw, "SELECT " + fields + " FROM w商品マスタ ORDER BY seq",
                                         root + "/floor.xlsx");
                     })});
    lines.push_back(
        {"import " + n + " products from xlsx: preview",
         measure(runs, {},
                 [&] {
                     const auto table = exchange::readTableFile(xlsx);
                     check(table, "read");
                     check(exchange::previewProducts(store, table.value), "preview");
                 }),
         measure(runs, {}, [&] {
             QFile f(xlsx);
             f.open(QIODevice::ReadOnly);
             const QByteArray file = f.readAll();
             matchSheet(file, textsBy(raw, "SELECT id, " + fields + " FROM m.商品マスタ", 1), 1);
         })});
    // Two files whose prices differ, so that each write changes every product.
    auto records = exchange::productRecords(store).value.rows;
    exchange::Table tables[2];
    for (int t = 0; t < 2; ++t) {
        for (int i = 1; i < records.size(); ++i)
            records[i][products::ColPrice - products::ColCode] = QString::number(100 + t + i % 7);
        tables[t] =
            exchange::parseCsv(exchange::encodeCsv(records, exchange::Encoding::Utf8Bom).value)
                .value;
    }
    const QByteArray bytes = exchange::encodeCsv(records, exchange::Encoding::Utf8Bom).value;
    lines.push_back(
        {"import " + n + " products: preview",
         measure(runs, {},
                 [&] {
                     const auto table = exchange::parseCsv(bytes);
                     check(table, "parse");
                     check(exchange::previewProducts(store, table.value), "preview");
                 }),
         measure(runs, {}, [&] {
             matchCsv(bytes, textsBy(raw, "SELECT id, " + fields + " FROM m.商品マスタ", 1), 1);
         })});
    // The write of the preview the user saw: the preview is made before the
    // clock starts, as the dialog has it when 取込 is pressed.
    int w = 0;
    exchange::ProductPreview seen;
    std::vector<QVariantList> priced;
    lines.push_back(
        {"import " + n + " products: write",
         measure(
             runs,
             [&] {
                 auto p = exchange::previewProducts(store, tables[w++ % 2]);
                 check(p, "preview");
                 seen = std::move(p.value);
             },
             [&] { check(exchange::importProducts(store, seen), "import"); }),
         // The least: each product's new price, from memory, by id.
         measure(
             runs,
             [&] {
                 priced.clear();
                 for (const Row& r : store.query(Db::Main, "SELECT id, 単価 FROM 商品マスタ"))
                     priced.push_back({r[0], r[1].toDouble() + 1});
             },
             [&] {
                 raw.run("BEGIN");
                 raw.bound(
                     [](const QString& values) {
                         return "UPDATE m.商品マスタ SET 単価 = v.column2 FROM (VALUES " + values +
                                ") AS v WHERE 商品マスタ.id = v.column1";
                     },
                     2, priced);
                 raw.run("COMMIT");
             })});
    // A count of every product into a blank sheet: every record fills a new line.
    QVector<QStringList> counts{{"コード", "数量"}};
    for (const Row& r : store.query(Db::Main, "SELECT code FROM 商品マスタ ORDER BY id"))
        counts << QStringList{r[0].toString(), "3"};
    const QByteArray countBytes = exchange::encodeCsv(counts, exchange::Encoding::Utf8Bom).value;
    const auto countTable = exchange::parseCsv(countBytes).value;
    const QString sheetFields =
        columns::list(products::Columns, products::ColCode, products::SheetFieldsEnd);
    // Counts as the dialog takes them: the preview, then the write of what it showed.
    lines.push_back(
        {"import " + n + " counts into a sheet: preview",
         measure(
             runs, [&] { check(resets::clear在庫明細(store), "clear"); },
             [&] { check(exchange::previewCounts(store, countTable), "preview"); }),
         measure(runs, {}, [&] {
             // Each record's product found, and the sheet's line of it.
             const auto onSheet = textsBy(raw, "SELECT code, seq, 品名 FROM w在庫表", 0);
             matchCsv(countBytes, textsBy(raw, "SELECT " + sheetFields + " FROM m.商品マスタ", 0),
                      0, &onSheet);
         })});
    // The lines the count gives, as the preview holds them: the product's
    // fields, the quantity, the amount and the change.
    std::vector<QVariantList> countLines;
    for (const Row& r :
         store.query(Db::Main, "SELECT " + sheetFields + " FROM 商品マスタ ORDER BY id")) {
        QVariantList l(r.begin(), r.end());
        const QVariant price = r[products::ColPrice - products::ColCode];
        const QVariant proper = r[products::ColProper - products::ColCode];
        l << 3 << sheet::lineAmount(3, price) << sheet::lineChange(3, proper);
        countLines.push_back(l);
    }
    exchange::CountPreview countsSeen;
    lines.push_back(
        {"import " + n + " counts into a sheet: write",
         measure(
             runs,
             [&] {
                 check(resets::clear在庫明細(store), "clear");
                 auto p = exchange::previewCounts(store, countTable);
                 check(p, "preview");
                 countsSeen = std::move(p.value);
             },
             [&] { check(exchange::importCounts(store, countsSeen, false), "import"); }),
         measure(
             runs, [&] { check(resets::clear在庫明細(store), "clear"); },
             [&] {
                 raw.run("BEGIN");
                 raw.run("DELETE FROM w在庫表");
                 raw.insertRows("w在庫表", sheetFields + ", " + sheet::countedFields(), countLines);
                 raw.run("COMMIT");
             })});
}

// The most memory the process held while body ran, beyond what it held before, in MB.
double peakMegabytes(const std::function<void()>& body) {
    const auto status = [](const char* key) {
        QFile f("/proc/self/status");
        if (!f.open(QIODevice::ReadOnly))
            return -1.0;
        for (const QByteArray& l : f.readAll().split('\n'))
            if (l.startsWith(key))
                return l.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024;
        return -1.0;
    };
    QFile reset("/proc/self/clear_refs"); // "5" starts the peak afresh
    if (reset.open(QIODevice::WriteOnly))
        reset.write("5");
    reset.close();
    const double before = status("VmRSS:");
    body();
    return status("VmHWM:") - before;
}

// A drop-down opened on a name cell and two characters typed: the proposals
// read from the ledger, the first screenful shown.
Line dropDownRow(Store& store, Raw& raw, const QString& schema) {
    const QString two = gen::productName(4242).left(2);
    return {"product drop-down after typing two characters",
            measure(15, {},
                    [&] {
                        // As a cell's editor makes its proposals.
                        products::ProductRefModel list(store, nullptr, false);
                        list.filterTo(two);
                        for (int r = 0; r < 16 && r < list.rowCount(); ++r)
                            list.index(r, products::RefName).data();
                    }),
            measure(15, {}, [&] {
                raw.run("SELECT 品名, id, " + columns::list(products::RefColumns) + " FROM " +
                            schema +
                            "商品マスタ WHERE 品名 >= ? AND 品名 < ? ORDER BY 品名, id "
                            "LIMIT 101",
                        {two, two + QString::fromUcs4(U"\U0010FFFF")});
            })};
}

// One price edited in a list of every product, then 登録: only that row is written.
Line registerOneRow(Store& store, Raw& raw, const QString& n, const QString& schema) {
    check(products::read商品情報(store, QString()), "read");
    const qint64 seq = store.scalar(Db::Work, "SELECT max(seq) / 2 FROM w商品マスタ").toLongLong();
    int price = 100;
    return {"register one changed product in a list of " + n,
            measure(
                15,
                [&] {
                    store.exec(Db::Work, "UPDATE w商品マスタ SET 単価 = ? WHERE seq = ?",
                               {price++, seq});
                },
                [&] { check(products::entry商品情報(store), "register one"); }),
            // The product written at its version, and its row in the list
            // marked saved (the list is in the work file: two files commit).
            measure(15, {}, [&] {
                raw.tx(
                    {"UPDATE " + schema +
                         "商品マスタ SET 単価 = 単価 + 1, 版 = 版 + 1 WHERE id = 5000 AND 版 = 版",
                     "UPDATE w商品マスタ SET 版 = 版 + 1, 変更 = 0 WHERE seq = " +
                         QString::number(seq)});
            })};
}

void largeRows(Store& store, Raw& raw, const QString& dir, int products, bool withStartUp,
               std::vector<Line>& lines) {
    const QString n = QLocale(QLocale::English).toString(products);
    if (withStartUp) {
        store.close();
        const double started = stolvaStartUp(dir);
        lines.push_back({"start-up to window shown", started, startUpFloor(dir)});
        check(store.open(dir), "reopen");
    }
    const QString productFields = columns::list(products::Columns, products::ColCode);
    lines.push_back(
        {"read the product list",
         measure(7, {}, [&] { check(products::read商品情報(store, QString()), "read"); }),
         measure(7, {}, [&] {
             // Each row with its product and version, as the list keeps them.
             raw.tx({"DELETE FROM w商品マスタ",
                     "INSERT INTO w商品マスタ (チェック, " + productFields + ", " +
                         products::IdField + ", " + products::VersionField + ") SELECT 0, " +
                         productFields +
                         ", id, 版 FROM m.商品マスタ ORDER BY code NULLS FIRST, id"});
         })});
    // 登録 of the list as read (nothing is written), and with every row edited.
    lines.push_back(
        {"register the product list, nothing edited",
         measure(5, {}, [&] { check(products::entry商品情報(store), "register"); }),
         measure(5, {}, [&] { raw.run("SELECT count(*) FROM w商品マスタ WHERE 変更 = 1"); })});
    lines.push_back(
        {"register the product list, every row edited",
         measure(
             5,
             [&] { store.exec(Db::Work, "UPDATE w商品マスタ SET 単価 = coalesce(単価, 0) + 1"); },
             [&] { check(products::entry商品情報(store), "register"); }),
         // Its floor: the edited rows and their stored products read (each
         // row's values are checked before they are written, so they pass
         // through the program), compared field by field, the changed price
         // written by id at the version read with versions raised, many rows
         // a statement, and the rows marked saved.
         measure(
             5,
             [&] { store.exec(Db::Work, "UPDATE w商品マスタ SET 単価 = coalesce(単価, 0) + 1"); },
             [&] {
                 raw.run("BEGIN");
                 std::unordered_map<qint64, QVariantList> stored;
                 raw.each("SELECT p.id, p.版, " + productFields +
                              " FROM m.商品マスタ p WHERE p.id IN "
                              "(SELECT 商品id FROM w商品マスタ WHERE 変更 = 1)",
                          [&](const QSqlQuery& q, int columns) {
                              QVariantList r;
                              for (int c = 0; c < columns; ++c)
                                  r << q.value(c);
                              stored.emplace(r[0].toLongLong(), r);
                          });
                 std::vector<QVariantList> changed;
                 raw.each("SELECT 商品id, 版, " + productFields +
                              " FROM w商品マスタ WHERE 変更 = 1 ORDER BY seq",
                          [&](const QSqlQuery& q, int columns) {
                              const auto it = stored.find(q.value(0).toLongLong());
                              if (it == stored.end())
                                  return;
                              for (int c = 2; c < columns; ++c)
                                  if (q.value(c) != it->second[c] &&
                                      c == 2 + products::ColPrice - products::ColCode)
                                      changed.push_back({q.value(0), q.value(1), q.value(c)});
                          });
                 raw.bound(
                     [](const QString& values) {
                         return "UPDATE m.商品マスタ SET 単価 = v.column3, 版 = 版 + 1 FROM "
                                "(VALUES " +
                                values +
                                ") AS v WHERE 商品マスタ.id = v.column1 AND 版 = v.column2";
                     },
                     3, changed);
                 raw.run("UPDATE w商品マスタ SET 版 = 版 + 1, 変更 = 0 WHERE 変更 = 1");
                 raw.run("COMMIT");
             })});
    lines.push_back(registerOneRow(store, raw, n, "m."));
    lines.push_back(dropDownRow(store, raw, "m."));
    const QString sheetFields =
        columns::list(products::Columns, products::ColCode, products::SheetFieldsEnd);
    lines.push_back(
        {"fill a sheet from " + n + " products",
         measure(7, {}, [&] { check(sheet::read商品マスタto在庫表(store), "fill"); }),
         measure(7, {}, [&] {
             raw.tx({"DELETE FROM w在庫表",
                     "INSERT INTO w在庫表 (チェック, " + sheetFields + ") SELECT 0, " +
                         sheetFields +
                         " FROM m.商品マスタ ORDER BY 棚番 IS NULL, 棚番, (棚番 IS NULL OR "
                         "code IS NULL), CASE WHEN 棚番 IS NOT NULL THEN code END, "
                         "品名, id"});
         })});
    check(sheet::read在庫表(store, QDate(2026, 1, 1), QString()), "load");
    const qint64 seq = store.scalar(Db::Work, "SELECT min(seq) FROM w在庫表").toLongLong();
    int f = 0;
    lines.push_back(
        {"one cell edit with look-up and total", cellEdits(store, products), measure(31, {}, [&] {
             const QString name = gen::productName(f++ * 13 % products);
             raw.run("UPDATE w在庫表 SET 品名 = ?, (単位, 単価, 適正数, 商品区分) = (SELECT 単位, "
                     "単価, 適正数, 商品区分 FROM m.商品マスタ WHERE 品名 = ? ORDER BY id LIMIT 1) "
                     "WHERE seq = ?",
                     {name, name, seq});
             raw.run("SELECT sum(金額) FROM w在庫表");
         })});
    int seed = 100;
    qint64 saveStatements = 0;
    const QString lineFields = columns::list(sheet::Columns, sheet::ColCode);
    lines.push_back(
        {"save a 500-line sheet", sheetSaves(store, &saveStatements),
         measure(
             9, [&] { gen::workSheet(store, 500, seed++); },
             [&] {
                 raw.tx({"DELETE FROM m.在庫表 WHERE 日付 = '2026-06-02'",
                         "INSERT INTO m.在庫表 (日付, 行番号, " + lineFields +
                             ") SELECT '2026-06-02', seq, " + lineFields +
                             " FROM w在庫表 WHERE 品名 IS NOT NULL ORDER BY seq",
                         "UPDATE m.商品マスタ AS p SET 単位 = w.単位, 単価 = w.単価, 適正数 = "
                         "w.適正数, 商品区分 = w.商品区分 FROM w在庫表 w WHERE w.品名 = p.品名",
                         "INSERT INTO m.商品マスタ (" + sheetFields + ") SELECT " + sheetFields +
                             " FROM w在庫表 w WHERE w.品名 IS NOT NULL AND NOT "
                             "EXISTS (SELECT 1 FROM m.商品マスタ p WHERE "
                             "p.品名 = w.品名)",
                         // Each line's entry: who, where, when, with its product and shelf.
                         "INSERT INTO m.棚卸記録 (日付, 商品区分, 棚番, 商品, code, 品名, 種類, "
                         "後数量, 担当, 端末, 記録日時) SELECT '2026-06-02', w.商品区分, p.棚番, "
                         "p.id, w.code, w.品名, '入力', w.数量, 'bench', 'bench', "
                         "'2026-06-02T10:00:00' FROM w在庫表 w LEFT JOIN m.商品マスタ p ON p.品名 "
                         "= w.品名 WHERE w.品名 IS NOT NULL ORDER BY w.seq"});
             })});
    std::printf("statements of a 500-line save (besides BEGIN and COMMIT): %lld\n",
                (long long)saveStatements);
}

// Scans straight into a saved count, measured on `store` (a file, or a
// server): each scan cycles through 20 products of one sheet.
double directScans(Store& store, qint64* statements) {
    int i = 0;
    const QDate day(2026, 6, 10);
    for (int p = 0; p < 20; ++p) // the lines exist: a scan adds to one
        check(sheet::recordScan(store, day, QString(), gen::productCode(p), 1, "bench"), "scan");
    const qint64 before = store.statementsRun();
    const double t = measure(31, {}, [&] {
        check(sheet::recordScan(store, day, QString(), gen::productCode(i++ % 20), 1, "bench"),
              "scan");
    });
    *statements = (store.statementsRun() - before) / 31;
    return t;
}

// Counting together: scans straight in, the progress of a count on 50
// shelves, the entries of a busy date.
void countingRows(Store& store, Raw& raw, std::vector<Line>& lines) {
    store.exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = 'S' || (id % 50)");
    qint64 statements = 0;
    const double scan = directScans(store, &statements);
    const qint64 line =
        store.scalar(Db::Main, "SELECT min(id) FROM 在庫表 WHERE 日付 = '2026-06-10'").toLongLong();
    // Floor: the line's new count and one entry, committed.
    lines.push_back({"one scan recorded straight into a saved count", scan, measure(31, {}, [&] {
                         raw.run("BEGIN");
                         raw.run("UPDATE m.在庫表 SET 数量 = 数量 + 1 WHERE id = ?", {line});
                         raw.run("INSERT INTO m.棚卸記録 (日付, 種類, 前数量, 後数量, 記録日時) "
                                 "VALUES ('2026-06-10', 'スキャン', 1, 2, '2026-06-10T10:00:00')");
                         raw.run("COMMIT");
                     })});
    std::printf("statements of one scan recorded straight in: %lld\n", (long long)statements);
    // Half the products counted, with an entry each for every tenth.
    const QDate half(2026, 6, 11), busy(2026, 6, 12);
    store.exec(Db::Main,
               "INSERT INTO 在庫表 (日付, 行番号, code, 品名, 数量, 商品区分) SELECT "
               "'2026-06-11', id, code, 品名, 1, 商品区分 FROM 商品マスタ WHERE id % 2 = 0");
    store.exec(Db::Main,
               "INSERT INTO 棚卸記録 (日付, 商品区分, 棚番, 商品, code, 品名, 種類, 後数量, "
               "担当, 端末, 記録日時) SELECT '2026-06-11', 商品区分, 棚番, id, code, 品名, "
               "'スキャン', 1, 'C' || (id % 4), 'pc', '2026-06-11T10:00:00' FROM "
               "商品マスタ WHERE id % 20 = 0");
    const QString counted = "code IN (SELECT code FROM m.在庫表 WHERE 日付 = '2026-06-11')";
    // Floor: the counts by shelf and category, the counters of the entries,
    // and the uncounted products in shelf order, each one read.
    lines.push_back(
        {"progress of a date with 10,000 products on 50 shelves",
         measure(15, {},
                 [&] {
                     check(sheet::progressOf(store, half, QString()), "progress");
                     check(sheet::uncountedProducts(store, half, QString()), "uncounted");
                 }),
         measure(15, {}, [&] {
             raw.run("SELECT 棚番, 商品区分, count(*), sum(" + counted +
                     ") FROM m.商品マスタ GROUP BY 棚番, 商品区分");
             raw.run("SELECT 棚番, 商品区分, 担当, max(記録日時) FROM m.棚卸記録 WHERE "
                     "日付 = '2026-06-11' GROUP BY 棚番, 商品区分, 担当");
             raw.run("SELECT id, 棚番, code, 品名, 商品区分 FROM m.商品マスタ WHERE NOT " +
                     counted + " ORDER BY 棚番, code");
         })});
    store.exec(
        Db::Main,
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
        "INSERT INTO 棚卸記録 (日付, 商品区分, 棚番, code, 品名, 種類, 前数量, 後数量, 担当, "
        "端末, 記録日時) SELECT '2026-06-12', '青果', 'S' || (i % 50), 'P' || i, '品' || i, "
        "'スキャン', i - 1, i, 'C' || (i % 4), 'pc', printf('2026-06-12T10:%02d:%02d', i / "
        "600 % 60, i / 10 % 60) FROM n");
    lines.push_back({"history of a date with 10,000 entries",
                     measure(15, {}, [&] { check(sheet::entriesOf(store, busy), "entries"); }),
                     measure(15, {}, [&] {
                         raw.run(
                             "SELECT id, 記録日時, 担当, 端末, 種類, 棚番, 商品区分, code, 品名, "
                             "前数量, 後数量, 取消 FROM m.棚卸記録 WHERE 日付 = '2026-06-12' "
                             "ORDER BY 記録日時 DESC, id DESC");
                     })});
}

// A phone's scan over HTTPS on loopback, from the request to the stored entry
// and the answer; its floor: the same scan stored directly, plus one HTTPS
// request and answer of the page (8 KB) on the same kept-alive connection.
void phoneRows(const QString& root, std::vector<Line>& lines) {
    const QString dir = root + "/phones";
    {
        Store s;
        check(s.open(dir + "/"), "open for phones");
        gen::products(s, 1000);
    }
    const auto certs = phones::ensureCertificates(dir + "/phones", {"127.0.0.1"});
    check(certs, "certificates");
    phones::PhoneServer server(dir + "/", std::nullopt, dir);
    int port = 0;
    for (int p = 30000; !port && p < 30100; p += 2)
        if (server.start(certs.value, "127.0.0.1", p))
            port = p;
    if (!port) {
        std::printf("no free port for the phone rows\n");
        return;
    }
    httplib::SSLClient phone("127.0.0.1", port);
    phone.enable_server_certificate_verification(false);
    phone.set_keep_alive(true);
    phone.set_tcp_nodelay(true);
    const auto paired =
        phone.Post("/api/pair",
                   R"({"token":")" + server.pairingToken().toStdString() + R"(","fp":")" +
                       certs.value.fingerprint.toStdString() + R"(","name":"b"})",
                   "application/json");
    if (!paired || paired->status != 200) {
        std::printf("the bench phone did not pair\n");
        return;
    }
    const std::string device =
        QJsonDocument::fromJson(QByteArray::fromStdString(paired->body))["device"]
            .toString()
            .toStdString();
    const httplib::Headers auth{{"Authorization", "Bearer " + device}};
    int n = 0;
    const auto scan = [&] {
        const std::string body = R"({"id":"b)" + std::to_string(n) + R"(","date":"2026-06-20",)" +
                                 R"("code":")" + gen::productCode(n % 20).toStdString() + R"("})";
        ++n;
        const auto r = phone.Post("/api/scan", auth, body, "application/json");
        if (!r || r->status != 200)
            check(Status::failed("phone scan"), "phone scan");
    };
    for (int i = 0; i < 20; ++i)
        scan();
    const double served = measure(31, {}, scan);
    Store direct;
    direct.setWorkFolder(root + "/phones-direct");
    check(direct.open(dir + "/"), "open directly");
    int d = 0;
    const double stored = measure(31, {}, [&] {
        check(sheet::recordScan(direct, QDate(2026, 6, 21), QString(), gen::productCode(d++ % 20),
                                1, "b"),
              "scan");
    });
    const double page = measure(31, {}, [&] { phone.Get("/"); });
    lines.push_back({"one phone scan over HTTPS stored", served, stored + page});

    // A hundred phones, each connected (kept alive, as a browser does), send
    // a scan at the same moment, and each sends it again as a phone whose
    // answer was lost: every scan stored once, none lost. Floor: the same
    // hundred scans stored one after another straight into the ledger.
    constexpr int Phones = 100;
    std::vector<std::string> tokens;
    for (int i = 0; i < Phones; ++i)
        tokens.push_back(phones::pairDevice(direct, QStringLiteral("p%1").arg(i), "b",
                                            QDateTime::currentDateTimeUtc())
                             .value.toStdString());
    std::vector<double> crowdTimes;
    for (int round = 1; round <= 5; ++round) {
        std::mutex m;
        std::condition_variable go;
        bool started = false;
        std::atomic<int> ready{0}, stored{0};
        // The phones' browsers, made before they connect (the client library
        // reads the system's authorities for each).
        std::vector<std::unique_ptr<httplib::SSLClient>> clients;
        for (int i = 0; i < Phones; ++i) {
            clients.push_back(std::make_unique<httplib::SSLClient>("127.0.0.1", port));
            clients.back()->enable_server_certificate_verification(false);
            clients.back()->set_keep_alive(true);
            clients.back()->set_tcp_nodelay(true);
        }
        std::vector<std::thread> crowdThreads;
        for (int i = 0; i < Phones; ++i)
            crowdThreads.emplace_back([&, i] {
                httplib::SSLClient& c = *clients[i];
                const httplib::Headers h{{"Authorization", "Bearer " + tokens[i]}};
                c.Get("/api/me", h);
                {
                    std::unique_lock<std::mutex> l(m);
                    ++ready;
                    go.notify_all();
                    go.wait(l, [&] { return started; });
                }
                const std::string body = R"({"id":"c)" + std::to_string(round) + "-" +
                                         std::to_string(i) + R"(","date":"2026-06-22","code":")" +
                                         gen::productCode(i % 50).toStdString() + R"("})";
                for (int again = 0; again < 2; ++again) {
                    auto r = c.Post("/api/scan", h, body, "application/json");
                    // A connection the PC closed while idle is opened again, as browsers do.
                    if (!r && r.error() == httplib::Error::Write)
                        r = c.Post("/api/scan", h, body, "application/json");
                    if (r && r->status == 200)
                        stored += again == 0 ? 1 : 0;
                }
            });
        {
            std::unique_lock<std::mutex> l(m);
            go.wait(l, [&] { return ready == Phones; });
        }
        QElapsedTimer t;
        t.start();
        {
            std::lock_guard<std::mutex> l(m);
            started = true;
        }
        go.notify_all();
        for (auto& th : crowdThreads)
            th.join();
        if (stored != Phones)
            check(Status::failed(
                      QStringLiteral("%1 of %2 scans answered").arg(int(stored)).arg(Phones)),
                  "a hundred phones");
        crowdTimes.push_back(t.nsecsElapsed() / 1e6);
    }
    const double crowd = median(crowdTimes);
    const QVariant entries = direct.scalar(
        Db::Main, "SELECT count(*) FROM 棚卸記録 WHERE 日付 = '2026-06-22' AND 種類 = 'スキャン'");
    const QVariant total =
        direct.scalar(Db::Main, "SELECT sum(数量) FROM 在庫表 WHERE 日付 = '2026-06-22'");
    if (entries.toInt() != 5 * Phones || total.toInt() != 5 * Phones)
        check(Status::failed(QStringLiteral("%1 entries, %2 counted of %3 scans")
                                 .arg(entries.toInt())
                                 .arg(total.toInt())
                                 .arg(5 * Phones)),
              "each scan stored once");
    int e = 0;
    const double serial = measure(5, {}, [&] {
        for (int i = 0; i < Phones; ++i)
            check(sheet::recordScan(direct, QDate(2026, 6, 23), QString(),
                                    gen::productCode(e++ % 50), 1, "b"),
                  "scan");
    });
    lines.push_back({"100 phones' scans at once, each stored once", crowd, serial});
    server.stop();
}

// The rows of a ledger on a server 2.5 ms away: a throwaway PostgreSQL 15
// server (tools/pg.sh) behind a proxy that delays each direction 1.25 ms.
// Without PostgreSQL installed the rows are left out, said so.
void serverRows(const QString& root, int products, std::vector<Line>& lines) {
    const QString pg = QStringLiteral(STOLVA_SOURCE_DIR "/tools/pg.sh");
    if (!QFileInfo::exists("/usr/lib/postgresql/15/bin/initdb")) {
        std::printf("PostgreSQL 15 is not installed: no rows on a server\n");
        return;
    }
    QProcess start;
    start.start("bash", {pg, "start"});
    start.waitForFinished(60000);
    const QString said = QString::fromUtf8(start.readAllStandardOutput());
    const QRegularExpression found("STOLVA_TEST_SERVER=(\\S+) STOLVA_PG_DIR=(\\S+)");
    const auto m = found.match(said);
    if (!m.hasMatch()) {
        std::printf("the bench server did not start: %s\n",
                    qPrintable(QString::fromUtf8(start.readAllStandardError())));
        return;
    }
    server::Address direct = server::parse(m.captured(1)).value;
    const QString pgDir = m.captured(2);
    {
        const QString admin = "bench-admin";
        check(server::connect(admin, direct, 10000), "server");
        QSqlQuery(QSqlDatabase::database(admin)).exec("CREATE DATABASE bench");
        QSqlDatabase::database(admin).close();
    }
    QSqlDatabase::removeDatabase("bench-admin");
    direct.database = "bench";
    const QString n = QLocale(QLocale::English).toString(products);
    {
        // The ledger made on the server directly, then used through the proxy.
        Store made;
        made.setServer(direct);
        made.setWorkFolder(root + "/server-made");
        check(made.open(root + "/server-made"), "open on the server");
        gen::products(made, products);
        // What a save costs without the distance: the server's and this PC's work.
        qint64 statements = 0;
        std::printf("save a 500-line sheet on the server directly: %.2f ms\n",
                    sheetSaves(made, &statements));
    }
    DelayProxy proxy(quint16(direct.port), 1250);
    server::Address far = direct;
    far.port = proxy.port();
    Store store;
    store.setServer(far);
    check(store.open(root + "/server"), "open through the proxy");
    const auto roundTrip = [&] { store.scalar(Db::Main, "SELECT 1"); };
    const double trip = measure(21, {}, roundTrip);
    // Its floor: the floor window over one connection made through the same distance,
    // the same reads of the server and the work file as the ledger's lists need.
    const QString started = root + "/server-start";
    const double startedAt =
        startUp({QCoreApplication::applicationDirPath() + "/stolva", "--exit-when-shown",
                 "--data-dir", started, "--server", far.url()});
    lines.push_back({"start-up with " + n + " products on a server 2.5 ms away", startedAt,
                     startUpFloor(started, far.url())});
    check(sheet::read在庫表(store, QDate(2026, 1, 1), QString()), "load");
    lines.push_back(
        {"one cell edit with look-up on a server 2.5 ms away", cellEdits(store, products), trip});
    qint64 statements = 0;
    const double save = sheetSaves(store, &statements);
    lines.push_back(
        {"save a 500-line sheet to a server 2.5 ms away", save, serverSaveFloor(store, far)});
    qint64 scanStatements = 0;
    const double scan = directScans(store, &scanStatements);
    // Floor: BEGIN, the line's new count, its entry, COMMIT.
    lines.push_back(
        {"one scan recorded straight into a saved count on a server 2.5 ms away", scan, trip * 4});
    std::printf("statements of one scan straight in on the server: %lld\n",
                (long long)scanStatements);
    std::printf("a round trip to the server through the proxy: %.2f ms; statements of a "
                "500-line save on the server: %lld\n",
                trip, (long long)statements);
    store.close();
    QProcess::execute("bash", {pg, "stop", pgDir});
}

// The statements that refill both lists of names from the code master.
QStringList nameListRefills() {
    return {"DELETE FROM w商品区分参照",
            "INSERT INTO w商品区分参照 (sname) SELECT sname FROM m.コードマスタ WHERE kcode = "
            "'商品区分' AND sname IS NOT NULL ORDER BY code, id",
            "DELETE FROM w単位参照",
            "INSERT INTO w単位参照 (sname) SELECT sname FROM m.コードマスタ WHERE kcode = '単位' "
            "AND sname IS NOT NULL ORDER BY code, id"};
}

void firstStartRows(const QString& root, std::vector<Line>& lines) {
    // Creating the files of a first start.
    int n = 0;
    lines.push_back(
        {"create both databases",
         measure(7, {},
                 [&] {
                     Store s;
                     check(s.open(QString("%1/create%2").arg(root).arg(n++)), "create");
                 }),
         measure(7, {}, [&] {
             const QString d = QString("%1/raw%2").arg(root).arg(n++);
             QDir().mkpath(d);
             for (Db which : {Db::Main, Db::Work}) {
                 QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "create");
                 db.setDatabaseName(d + (which == Db::Main ? "/Stolva.mdb" : "/StolvaWork.mdb"));
                 db.open();
                 QSqlQuery q(db);
                 q.exec("PRAGMA journal_mode=DELETE");
                 q.exec("PRAGMA synchronous=FULL");
                 q.exec("BEGIN");
                 for (const schema::Table& t : schema::tables())
                     if (t.db == which) {
                         q.exec(t.definition);
                         for (const QString& i : t.indexes)
                             q.exec(i);
                     }
                 if (which == Db::Main)
                     q.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 30) INSERT INTO コードマスタ (kcode, code) SELECT k, "
                            "printf('%02d', i) FROM n, (SELECT '商品区分' AS k UNION ALL "
                            "SELECT '単位')");
                 q.exec("COMMIT");
                 q = QSqlQuery();
                 db.close();
                 db = QSqlDatabase();
                 QSqlDatabase::removeDatabase("create");
             }
         })});
}

// The resets of the work tables, start-up with every slot named, the code master.
void resetAndCodeRows(Store& store, Raw& raw, const QString& dir, std::vector<Line>& lines) {
    lines.push_back({"insert 500 blank sheet lines",
                     measure(15, {}, [&] { check(resets::clear在庫明細(store), "clear"); }),
                     measure(15, {}, [&] {
                         raw.tx({"DELETE FROM w在庫表", BlankLines});
                     })});
    const QStringList refs = nameListRefills();
    lines.push_back({"Clear在庫表",
                     measure(9, {}, [&] { check(resets::clear在庫表(store), "clear"); }),
                     measure(9, {}, [&] {
                         raw.tx(QStringList{"DELETE FROM w在庫表", BlankLines} + refs);
                     })});

    // Start-up with all 60 slots named.
    store.exec(Db::Main,
               "UPDATE コードマスタ SET sname = kcode || '名' || code WHERE sname IS NULL");
    store.close();
    const double started = stolvaStartUp(dir);
    lines.push_back({"start-up to window shown", started, startUpFloor(dir)});
    check(store.open(dir), "reopen");

    // The code master.
    for (int i = 1; i <= 30; ++i)
        store.exec(Db::Main, "UPDATE コードマスタ SET sname = ? WHERE kcode = '単位' AND code = ?",
                   {QString("単位%1").arg(i), codes::slotCode(i)});
    lines.push_back(
        {"AutoEntryコードマスタ on a full kind",
         measure(51, {},
                 [&] { codes::AutoEntryコードマスタ(store, codes::kindUnit(), "新しい単位"); }),
         measure(51, {}, [&] {
             raw.run("SELECT code, sname FROM m.コードマスタ WHERE kcode = '単位' ORDER BY code");
         })});
    check(codes::readCodeTable(store, codes::kindUnit()), "readCodes");
    lines.push_back(
        {"Entryコード",
         measure(15, {}, [&] { check(codes::entryCodes(store, codes::kindUnit()), "entry"); }),
         measure(15, {}, [&] {
             raw.tx({"DELETE FROM m.コードマスタ WHERE kcode = '単位'",
                     "INSERT INTO m.コードマスタ (kcode, code, sname) SELECT '単位', code, "
                     "nullif(sname, '') FROM wコードマスタ ORDER BY 行番号"});
         })});
}

void sheetRows(Store& store, Raw& raw, std::vector<Line>& lines) {
    // The sheet.
    const QDate day(2026, 1, 1);
    const QString lineFields = columns::list(sheet::Columns, sheet::ColCode);
    lines.push_back(
        {"load a 500-line sheet",
         measure(9, {}, [&] { check(sheet::read在庫表(store, day, QString()), "load"); }),
         measure(9, {}, [&] {
             raw.tx({"DELETE FROM w在庫表",
                     "INSERT INTO w在庫表 (チェック, " + lineFields + ") SELECT 0, " + lineFields +
                         " FROM m.在庫表 WHERE 日付 = '2026-01-01' ORDER BY 行番号, id"});
         })});
    {
        // The 500-line sheet loaded; scans of codes spread over it.
        check(sheet::read在庫表(store, day, QString()), "load");
        const Rows codes = store.query(Db::Work, "SELECT code FROM w在庫表 WHERE code IS NOT NULL");
        int k = 0, f = 0;
        lines.push_back(
            {"one scan into a 500-line sheet at 10,000 products",
             measure(51, {},
                     [&] {
                         check(sheet::scan(store, codes[k++ * 7 % codes.size()][0].toString(), 1),
                               "scan");
                         check(sheet::calc明細(store), "total");
                     }),
             measure(51, {}, [&] {
                 raw.tx(
                     {"UPDATE w在庫表 SET 数量 = ifnull(数量, 0) + 1, 金額 = (ifnull(数量, 0) + 1) "
                      "* 単価, 増減 = ifnull(数量, 0) + 1 - 適正数 WHERE seq = (SELECT seq FROM "
                      "w在庫表 WHERE code = ? ORDER BY seq LIMIT 1)"},
                     {codes[f++ * 7 % codes.size()][0]});
                 raw.run("SELECT sum(金額) FROM w在庫表");
             })});
    }
    lines.push_back({"delete a date's sheets",
                     measure(
                         9, [&] { gen::sheets(store, 1, 40); },
                         [&] { check(sheet::delete在庫表(store, day), "delete"); }),
                     measure(
                         9, [&] { gen::sheets(store, 1, 40); },
                         [&] { raw.tx({"DELETE FROM m.在庫表 WHERE 日付 = '2026-01-01'"}); })});
    gen::sheets(store, 1, 500);
    {
        QObject holder;
        const RefModels refsModels = RefModels::create(store, &holder);
        lines.push_back({"refresh every list after a registration",
                         measure(15, {},
                                 [&] {
                                     check(resets::readNameLists(store), "names");
                                     refsModels.categories->refresh();
                                     refsModels.units->refresh();
                                 }),
                         measure(15, {}, [&] {
                             raw.tx(nameListRefills());
                             raw.run("SELECT sname FROM w商品区分参照 ORDER BY seq");
                             raw.run("SELECT sname FROM w単位参照 ORDER BY seq");
                         })});
        lines.push_back(dropDownRow(store, raw, "m."));
    }
    {
        products::Detail d;
        d.code = gen::productCode(4242);
        d.name = gen::productName(4242);
        d.unit = "個";
        d.price = Currency::fromWhole(120);
        d.proper = 12;
        d.category = "青果";
        lines.push_back({"register one product",
                         measure(15, {}, [&] { check(products::entry商品詳細(store, d), "one"); }),
                         measure(15, {}, [&] {
                             raw.tx({"UPDATE m.商品マスタ SET 品名 = ?, 単位 = '個', 単価 = 120, "
                                     "適正数 = 12, 商品区分 = '青果' WHERE id = (SELECT id FROM "
                                     "m.商品マスタ WHERE code = ? ORDER BY id LIMIT 1)"},
                                    {d.name, d.code});
                         })});
    }
}

void printRows(Store& store, Raw& raw, const QString& root, std::vector<Line>& lines) {
    const QDate day(2026, 1, 1);
    // Printing a 500-line sheet.
    {
        check(sheet::read在庫表(store, day, QString()), "load");
        const report::Definition def = sheet::sheetReport({"2026年01月01日", "", "1,234,567"});
        const QString all = columns::list(sheet::Columns);
        // The print copy: the lines and each one's shelf, its product's by
        // code, else by name (the first product of each); then each line's
        // texts at their places.
        QString fromLines = all;
        fromLines.replace(QRegularExpression("(^|, )"), "\\1w.");
        const QString shelfBy =
            "(SELECT 棚番 FROM m.商品マスタ p WHERE p.%1 = w.%1 AND p.棚番 IS NOT NULL ORDER BY "
            "p.id LIMIT 1)";
        const auto copy = [&] {
            raw.tx({"DELETE FROM w在庫表印刷",
                    "INSERT INTO w在庫表印刷 (" + all + ", 棚番) SELECT " + fromLines +
                        ", coalesce(" + shelfBy.arg("code") + ", " + shelfBy.arg("品名") +
                        ") FROM w在庫表 w WHERE w.品名 IS NOT NULL ORDER BY w.seq"});
            placeTexts(raw,
                       "SELECT " + report::boundFields(def).join(", ") +
                           " FROM w在庫表印刷 ORDER BY seq",
                       def.detail.height);
        };
        auto rows = work::readFields(store, "w在庫表印刷", report::boundFields(def));
        lines.push_back({"lay out a 500-line sheet report",
                         measure(9, {},
                                 [&] {
                                     check(sheet::fillSheetPrint(store), "print table");
                                     rows = work::readFields(store, "w在庫表印刷",
                                                             report::boundFields(def));
                                     check(rows, "rows");
                                     report::layout(def, rows.value);
                                 }),
                         measure(9, {}, copy)});
        const QString pdf = root + "/sheet.pdf";
        const QVector<report::Page> pages = report::layout(def, rows.value);
        lines.push_back(
            {"write a 500-line sheet report as PDF",
             measure(5, {},
                     [&] {
                         if (!report::writePdf(report::layout(def, rows.value), pdf, "在庫表"))
                             std::exit(1);
                     }),
             measure(5, {}, [&] { pdfAtPoints(pages, root + "/floor.pdf"); })});
    }
}

void eraseRows(Store& store, Raw& raw, const QString& root, int products,
               std::vector<Line>& lines) {
    // Erasing everything, from a full ledger each time.
    const auto refill = [&] {
        gen::products(store, products);
        gen::sheets(store, 100, 40);
    };
    int e = 0;
    lines.push_back(
        {"erase all data", measure(5, refill, [&] { check(allDelete(store), "erase"); }),
         measure(5, refill, [&] {
             raw.run(QString("VACUUM m INTO '%1/raw-backup-%2.mdb'").arg(root).arg(e++));
             raw.tx({"DELETE FROM m.在庫表", "DELETE FROM m.商品マスタ", "DELETE FROM m.自社情報",
                     "UPDATE m.コードマスタ SET sname = NULL"});
         })});
}

void historyRows(const QString& root, std::vector<Line>& lines) {
    // The stock over time, in a data folder of its own: three years of daily
    // sheets in 20 categories (5 lines each), then a date of 10,000 lines and
    // two dates of 5,000 lines each.
    {
        const QString hdir = root + "/history";
        Store hs;
        check(hs.open(hdir), "open history");
        gen::dailyCounts(hs, QDate(2023, 1, 1), 3 * 365, 20, 5);
        const QDate big(2027, 3, 31), a(2027, 9, 30), b(2027, 12, 31);
        gen::dailyCounts(hs, big, 1, 20, 500);
        gen::dailyCounts(hs, a, 1, 20, 250);
        gen::dailyCounts(hs, b, 1, 20, 250);
        Raw hraw(hdir, "history");
        lines.push_back({"list of saved sheets, 3 years of daily sheets in 20 categories",
                         measure(9, {}, [&] { check(history::savedSheets(hs), "list"); }),
                         measure(9, {}, [&] {
                             hraw.run("SELECT 日付, 商品区分, 行数, 金額 FROM m.在庫表集計 ORDER "
                                      "BY 日付 DESC, 商品区分");
                         })});
        lines.push_back(
            {"valuation summary of a date with 20 categories and 10,000 lines",
             measure(15, {}, [&] { check(history::summary(hs, big), "summary"); }),
             measure(15, {}, [&] {
                 hraw.run("SELECT 商品区分, count(*), total(数量), total(金額) FROM m.在庫表 WHERE "
                          "日付 = ? GROUP BY 商品区分",
                          {dateKey(big)});
             })});
        lines.push_back(
            {"compare two dates of 5,000 lines each",
             measure(15, {}, [&] { check(history::compare(hs, QString(), a, b), "compare"); }),
             measure(15, {}, [&] {
                 for (const QDate& d : {a, b})
                     hraw.run("SELECT code, 品名, 数量, 金額 FROM m.在庫表 WHERE 日付 = ?",
                              {dateKey(d)});
             })});
    }
}

void backupRows(Store& store, Raw& raw, const QString& root, int products,
                std::vector<Line>& lines) {
    // Backups: the daily copy at start (none made yet today), and a restore.
    // Last: a restore replaces the main file under the floor's connection.
    {
        gen::products(store, products);
        gen::sheets(store, 100, 40);
        const QDateTime now = QDateTime::currentDateTime();
        int b = 0;
        lines.push_back(
            {"automatic backup at start, " + QLocale(QLocale::English).toString(products) +
                 " products and 100 sheets",
             measure(
                 9, [&] { QDir(backup::folder(store)).removeRecursively(); },
                 [&] { check(backup::dailyCopy(store, now), "daily copy"); }),
             measure(9, {}, [&] {
                 raw.run(QString("VACUUM m INTO '%1/raw-daily-%2.mdb'").arg(root).arg(b++));
             })});
        const Result<QString> copy = backup::makeCopy(store, backup::Kind::Manual, now, root);
        check(copy, "copy");
        lines.push_back(
            {"restore a backup",
             measure(5, {}, [&] { check(backup::restore(store, copy.value, now), "restore"); }),
             // The least a restore may do: the data put aside, the copy put in
             // and every page of it checked once (an unsound copy never goes in).
             measure(5, {}, [&] {
                 raw.run(QString("VACUUM m INTO '%1/raw-aside-%2.mdb'").arg(root).arg(b++));
                 const QString in = QString("%1/raw-restored-%2.mdb").arg(root).arg(b++);
                 QFile::copy(copy.value, in);
                 raw.run("ATTACH DATABASE '" + in + "' AS r");
                 raw.run("PRAGMA r.integrity_check");
                 raw.run("DETACH DATABASE r");
             })});
    }
}

void largeImportRows(const QString& root, std::vector<Line>& lines) {
    // Imports at 100,000 products, in a data folder of their own.
    {
        Store big;
        const QString bigDir = root + "/large";
        check(big.open(bigDir), "open");
        gen::products(big, 100000);
        Raw raw(bigDir, "raw-large");
        check(products::read商品情報(big, QString()), "read");
        const auto records = exchange::productRecords(big);
        check(records, "records");
        const QByteArray bytes =
            exchange::encodeCsv(records.value.rows, exchange::Encoding::Utf8Bom).value;
        const double peak = peakMegabytes([&] {
            const auto table = exchange::parseCsv(bytes);
            check(table, "parse");
            check(exchange::previewProducts(big, table.value), "preview");
        });
        csvRows(big, raw, root, 100000, 3, lines);
        lines.push_back(registerOneRow(big, raw, "100,000", "m."));
        lines.push_back(dropDownRow(big, raw, "m."));
        std::printf("peak memory of the 100,000-product preview: %.0f MB\n", peak);
        big.close();
    }
}

// Time and peak memory of one product import preview of a user's file.
int previewFile(const QString& path) {
    QTemporaryDir data;
    Store store;
    check(store.open(data.path()), "open");
    QElapsedTimer e;
    e.start();
    qsizetype lines = 0;
    const double peak = peakMegabytes([&] {
        const auto table = exchange::readTableFile(path);
        check(table, "read");
        const auto preview = exchange::previewProducts(store, table.value);
        check(preview, "preview");
        lines = preview.value.lines.size();
    });
    std::printf("%lld records previewed in %.0f ms, peak %.0f MB\n", (long long)lines,
                e.nsecsElapsed() / 1e6, peak);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser cl;
    cl.addHelpOption();
    const QCommandLineOption productsOpt("products", "the large-ledger rows at N products", "N");
    const QCommandLineOption floorWindow("floor-window", "the start-up floor (internal)", "WxH");
    const QCommandLineOption floorControls("floor-controls", "its controls (internal)", "S");
    const QCommandLineOption floorData("floor-data", "its data folder (internal)", "DIR");
    const QCommandLineOption floorServer("floor-server", "its server (internal)", "URL");
    const QCommandLineOption serverOnly("server-rows", "only the rows on a server 2.5 ms away");
    cl.addOption(serverOnly);
    const QCommandLineOption phonesOnly("phone-rows", "only the phone's scan over HTTPS");
    cl.addOption(phonesOnly);
    const QCommandLineOption exchangeOnly("exchange-rows",
                                          "only the CSV and workbook rows at 10,000 products");
    cl.addOption(exchangeOnly);
    const QCommandLineOption backupOnly("backup-rows", "only the backup rows at 10,000 products");
    cl.addOption(backupOnly);
    const QCommandLineOption printOnly("print-rows", "only the rows of a 500-line sheet printed");
    cl.addOption(printOnly);
    const QCommandLineOption importFile("import-file",
                                        "time and peak memory of a product import preview", "CSV");
    cl.addOption(importFile);
    cl.addOption(productsOpt);
    cl.addOptions({floorWindow, floorControls, floorData, floorServer});
    cl.process(app);
    if (cl.isSet(floorWindow))
        return showFloorWindow(cl.value(floorData), cl.value(floorWindow), cl.value(floorControls),
                               cl.value(floorServer));
    if (cl.isSet(importFile))
        return previewFile(cl.value(importFile));
    const int products = cl.isSet(productsOpt) ? cl.value(productsOpt).toInt() : 10000;
    const QString root = QDir::current().absoluteFilePath("stolva-bench-data");
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    std::vector<Line> lines;
    const QString dir = root + "/main";
    if (cl.isSet(phonesOnly)) {
        phoneRows(root, lines);
        print(lines);
        QDir(root).removeRecursively();
        return 0;
    }
    if (cl.isSet(exchangeOnly)) {
        Store store;
        check(store.open(dir), "open");
        gen::products(store, products);
        Raw raw(dir, "raw");
        csvRows(store, raw, root, products, 9, lines);
        print(lines);
        store.close();
        QDir(root).removeRecursively();
        return 0;
    }
    if (cl.isSet(printOnly)) {
        Store store;
        check(store.open(dir), "open");
        gen::products(store, products);
        gen::sheets(store, 1, 500);
        // The products on shelves, as the counting rows of the full table leave them.
        store.exec(Db::Main, "UPDATE 商品マスタ SET 棚番 = 'S' || (id % 50)");
        Raw raw(dir, "raw");
        printRows(store, raw, root, lines);
        print(lines);
        store.close();
        QDir(root).removeRecursively();
        return 0;
    }
    if (cl.isSet(backupOnly)) {
        Store store;
        check(store.open(dir), "open");
        Raw raw(dir, "raw");
        backupRows(store, raw, root, products, lines);
        print(lines);
        store.close();
        QDir(root).removeRecursively();
        return 0;
    }
    if (cl.isSet(serverOnly)) {
        serverRows(root, products, lines);
        print(lines);
        QDir(root).removeRecursively();
        return 0;
    }

    if (cl.isSet(productsOpt)) {
        Store store;
        check(store.open(dir), "open");
        gen::products(store, products);
        gen::sheets(store, 1, 500);
        Raw raw(dir, "raw");
        largeRows(store, raw, dir, products, true, lines);
        print(lines);
        store.close();
        QDir(root).removeRecursively();
        return 0;
    }

    firstStartRows(root, lines);

    Store store;
    check(store.open(dir), "open");
    gen::products(store, products);
    gen::sheets(store, 100, 40);
    gen::sheets(store, 1, 500); // 2026-01-01 becomes a 500-line sheet below
    Raw raw(dir, "raw");

    resetAndCodeRows(store, raw, dir, lines);

    sheetRows(store, raw, lines);

    countingRows(store, raw, lines);

    printRows(store, raw, root, lines);

    largeRows(store, raw, dir, products, false, lines);

    // CSV with Excel: the whole master out, then back in with every price changed.
    csvRows(store, raw, root, products, 9, lines);

    eraseRows(store, raw, root, products, lines);

    historyRows(root, lines);

    backupRows(store, raw, root, products, lines);

    largeImportRows(root, lines);
    phoneRows(root, lines);
    serverRows(root, products, lines);

    print(lines);
    store.close();
    QDir(root).removeRecursively();
    return 0;
}
