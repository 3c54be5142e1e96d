#pragma once

#include "exchange/Import.h"

#include <QDialog>
#include <QProgressDialog>
#include <functional>
#include <optional>

class QWidget;

// The dialogs of CSV exchange: where to write, what to read, and the preview
// of an import before anything is written.
namespace exchange {

// A file name with the date, safe on every file system:
// 在庫表_2026-12-08_果物.csv.
QString suggestedName(const QStringList& parts);
// Asks where to write the CSV, offering UTF-8 for Excel (the default) or
// Shift_JIS; empty when the user cancelled.
QString chooseSaveFile(QWidget* parent, const QString& suggested, Encoding* encoding);
// Asks where (the name made of nameParts and the date) and writes the records;
// a failure is reported. The path written, empty when cancelled or failed.
QString exportRecords(QWidget* parent, const QStringList& nameParts,
                      const QVector<QStringList>& records);
// Asks which CSV to read; empty when the user cancelled.
QString chooseOpenFile(QWidget* parent);
// 「CSV を取り込めませんでした。」 with the reason.
void showReadFailure(const QString& reason);

// The preview of a product import; true when the user chose 取込.
// Shows the product preview; true when the user chose to import. The
// preview's writeCodeChanges follows chkコード変更.
bool confirmProducts(QWidget* parent, const QString& path, ProductPreview& preview);
// The preview of a count import; addUnknown tells whether unknown products
// are to become lines.
bool confirmCounts(QWidget* parent, const QString& path, const CountPreview& preview,
                   bool* addUnknown);

// A progress window for a long import step: shown once the step takes half a
// second, with キャンセル, which stops the step with nothing written.
class WorkProgress {
  public:
    WorkProgress(QWidget* parent, const QString& label);
    Progress callback();

  private:
    QProgressDialog m_dialog;
};

// Asks for a CSV file and reads its preview behind a progress dialog: the
// first step of both imports. Empty when the user chose no file or the file
// could not be read (the failure then shown); `path` receives the file.
template <typename Preview>
std::optional<Preview>
readPreview(QWidget* parent, QString* path,
            const std::function<Result<Preview>(const Table&, const Progress&)>& build) {
    *path = chooseOpenFile(parent);
    if (path->isEmpty())
        return std::nullopt;
    WorkProgress reading(parent, QStringLiteral("CSV を読んでいます…"));
    const Result<Table> table = readCsvFile(*path);
    const Result<Preview> preview =
        table ? build(table.value, reading.callback()) : Result<Preview>{};
    if (!table || !preview) {
        showReadFailure((table ? preview.status : table.status).error);
        return std::nullopt;
    }
    return preview.value;
}

} // namespace exchange
