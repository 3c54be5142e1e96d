#pragma once

#include "exchange/Import.h"
#include "exchange/Workbook.h"

#include <QDialog>
#include <QProgressDialog>
#include <functional>
#include <optional>

class QWidget;

// The dialogs of exchange with Excel (CSV and workbooks): where to write,
// what to read, and the preview of an import before anything is written.
namespace exchange {

// What a file is written as.
enum class FileFormat { Workbook, CsvUtf8, CsvCp932 };

// A file name with the date, safe on every file system:
// 在庫表_2026-12-08_果物.xlsx.
QString suggestedName(const QStringList& parts, const QString& suffix = QStringLiteral("xlsx"));
// Asks where to write, offering an Excel workbook (the default), CSV in
// UTF-8 for Excel, or Shift_JIS; a typed name ending in .csv or .xlsx decides
// whatever type is selected. Empty when the user cancelled.
QString chooseSaveFile(QWidget* parent, const QString& suggested, FileFormat* format);
// Asks where (the name made of nameParts and the date) and writes the records;
// a failure is reported. The path written, empty when cancelled or failed.
QString exportRecords(QWidget* parent, const QStringList& nameParts, const Records& records);
// Asks where to save a report as PDF, suggesting the name made of nameParts
// in the folder of the last export (at first the user's documents). Empty
// when the user cancelled.
QString choosePdfFile(QWidget* parent, const QStringList& nameParts);
// The same for any file written whole (a journal): the dialog's title and
// object name, its type filter and the name suggested (its suffix the default).
QString chooseFileToWrite(QWidget* parent, const QString& title, const QString& objectName,
                          const QString& filter, const QString& suggested);
// Asks which CSV or workbook to read; empty when the user cancelled.
QString chooseOpenFile(QWidget* parent);
// 「取り込めませんでした。」 with the reason.
void showReadFailure(const QString& reason);

// What the user chose in a preview: the workbook's sheet, and the columns
// taken for the fields (empty: by the header's names).
struct Choice {
    int sheet = 0;
    QHash<QString, int> columns;
};
enum class Answer { Import, Cancel, Again };

// Shows the product preview (or, when the header could not be used, why,
// with the columns to choose); Again when the user chose another sheet or
// other columns (in `choice`). The preview's writeCodeChanges follows
// chkコード変更.
Answer confirmProducts(QWidget* parent, const QString& path, const Table& table,
                       Result<ProductPreview>& preview, Choice* choice);
// The preview of a count import; addUnknown tells whether unknown products
// are to become lines.
Answer confirmCounts(QWidget* parent, const QString& path, const Table& table,
                     const Result<CountPreview>& preview, Choice* choice, bool* addUnknown);

// The columns chosen before for a header of these cells, and remembering them.
QHash<QString, int> rememberedColumns(const QStringList& header);
void rememberColumns(const QStringList& header, const QHash<QString, int>& columns);

// A progress window for a long import step: shown once the step takes half a
// second, with キャンセル, which stops the step with nothing written.
class WorkProgress {
  public:
    WorkProgress(QWidget* parent, const QString& label);
    Progress callback();
    // The step is over (done or failed): the window goes and never shows
    // later over whatever comes next.
    void finish();

  private:
    QProgressDialog m_dialog;
};

// Both imports: asks for a file, reads it and shows its preview behind a
// progress dialog, again as often as the user picks another sheet or other
// columns. The preview to import, or nothing (cancelled, or the file could
// not be read: the failure then shown); `path` receives the file.
template <typename Preview>
std::optional<Preview>
previewFile(QWidget* parent, QString* path,
            const std::function<Result<Preview>(const Table&, const Progress&)>& build,
            const std::function<Answer(const Table&, Result<Preview>&, Choice*)>& confirm) {
    *path = chooseOpenFile(parent);
    if (path->isEmpty())
        return std::nullopt;
    Choice choice;
    bool askedMemory = false;
    for (;;) {
        Result<Table> table;
        Result<Preview> preview;
        {
            // Up while the file is read and matched only, never over the preview.
            WorkProgress reading(parent, QStringLiteral("ファイルを読んでいます…"));
            table = readTableFile(*path, choice.sheet);
            if (table) {
                table.value.chosen = choice.columns;
                preview = build(table.value, reading.callback());
            }
        }
        if (!table) {
            showReadFailure(table.status.error);
            return std::nullopt;
        }
        if (!preview && !preview.value.header.problem) {
            showReadFailure(preview.status.error);
            return std::nullopt;
        }
        // A header seen before: the columns the user chose for it then.
        if (!askedMemory && choice.columns.isEmpty()) {
            askedMemory = true;
            choice.columns = rememberedColumns(preview.value.header.cells);
            if (!choice.columns.isEmpty())
                continue;
        }
        switch (confirm(table.value, preview, &choice)) {
        case Answer::Again:
            continue;
        case Answer::Cancel:
            return std::nullopt;
        case Answer::Import:
            if (!choice.columns.isEmpty())
                rememberColumns(preview.value.header.cells, choice.columns);
            return preview.value;
        }
    }
}

} // namespace exchange
