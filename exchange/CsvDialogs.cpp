#include "exchange/CsvDialogs.h"

#include "msg/Msg.h"
#include "widgets/Controls.h"
#include "widgets/Grids.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>
#include <functional>

namespace exchange {

namespace {

const QString BookFilter = QStringLiteral("Excel ブック (*.xlsx)");
const QString Utf8Filter = QStringLiteral("CSV UTF-8 (Excel 用) (*.csv)");
const QString Cp932Filter = QStringLiteral("CSV Shift_JIS (*.csv)");

// The folder the last CSV was written to or read from, for the next dialog.
QString& lastFolder() {
    // The user's documents at first; a home without one starts at home, not where Stolva runs.
    static QString folder = [] {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QDir(documents).exists() ? documents : QDir::homePath();
    }();
    return folder;
}

QString encodingName(Encoding e) {
    return e == Encoding::Cp932   ? QStringLiteral("Shift_JIS")
           : e == Encoding::Utf16 ? QStringLiteral("Unicode テキスト (UTF-16)")
           : e == Encoding::Utf8  ? QStringLiteral("UTF-8")
                                  : QStringLiteral("UTF-8 (BOM 付き)");
}

// The preview's records as rows of text, error rows marked.
class PreviewModel : public QAbstractTableModel {
  public:
    PreviewModel(QStringList headers, QObject* parent)
        : QAbstractTableModel(parent), m_headers(std::move(headers)) {}
    void add(const QStringList& row, bool error) {
        m_rows << row;
        m_errors << error;
    }
    // The last column worded only for the rows the table shows.
    void setLastColumn(std::function<QString(int)> text) { m_last = std::move(text); }
    int rowCount(const QModelIndex& = QModelIndex()) const override { return int(m_rows.size()); }
    int columnCount(const QModelIndex& = QModelIndex()) const override {
        return int(m_headers.size());
    }
    QVariant data(const QModelIndex& i, int role) const override {
        if ((role == Qt::DisplayRole || role == Qt::ToolTipRole) && m_last &&
            i.column() == columnCount() - 1)
            return m_last(i.row());
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return m_rows[i.row()].value(i.column());
        if (role == Qt::ForegroundRole && m_errors[i.row()])
            return QBrush(Qt::darkRed);
        if (role == Qt::TextAlignmentRole && i.column() == 0)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o == Qt::Horizontal && role == Qt::DisplayRole)
            return m_headers.value(section);
        return QVariant();
    }

  private:
    QStringList m_headers;
    QVector<QStringList> m_rows;
    QVector<bool> m_errors;
    std::function<QString(int)> m_last;
};

// A line break inside a name shows as one line in the table.
QString oneLine(const QString& s) {
    QString t = s;
    return t.replace(QStringLiteral("\r\n"), QStringLiteral("⏎"))
        .replace('\n', QStringLiteral("⏎"));
}

// The dialog both previews share: a summary, the records, 取込 and キャンセル.
class PreviewDialog : public QDialog {
  public:
    PreviewDialog(QWidget* parent, const QString& title, const QStringList& summary,
                  PreviewModel* model, bool canImport)
        : QDialog(parent) {
        setObjectName("dlgCSV取込");
        setWindowTitle(title);
        model->setParent(this);
        auto* v = new QVBoxLayout(this);
        for (const QString& line : summary) {
            auto* l = new QLabel(line, this);
            l->setWordWrap(true);
            l->setTextInteractionFlags(Qt::TextSelectableByMouse);
            v->addWidget(l);
        }
        auto* view = new QTableView(this);
        view->setObjectName("Grid取込確認");
        view->setModel(model);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->verticalHeader()->hide();
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
        view->horizontalHeader()->setStretchLastSection(true);
        // 判定 and the reason read without widening (the reason's whole text
        // is its tooltip).
        for (int c = 0; c + 1 < model->columnCount(); ++c)
            view->setColumnWidth(c, twips(this, c == 0 ? 600 : c == 1 ? 1300 : 1600));
        view->setMinimumWidth(twips(this, 600 + 1300 + 1600 * (model->columnCount() - 3) + 5000));
        v->addWidget(view, 1);
        m_options = new QVBoxLayout;
        v->addLayout(m_options);
        auto* buttons = new QDialogButtonBox(this);
        QPushButton* ok = buttons->addButton(QStringLiteral("取込"), QDialogButtonBox::AcceptRole);
        ok->setObjectName("cmd取込実行");
        ok->setEnabled(canImport);
        QPushButton* cancel =
            buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
        cancel->setObjectName("cmd取込取消");
        (canImport ? ok : cancel)->setDefault(true);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        v->addWidget(buttons);
        resize(twips(this, 11000), twips(this, 7000));
        view->setFocus();
    }
    void addOption(QWidget* w) { m_options->addWidget(w); }

    // The sheet of a workbook and the column of each field, as read; a
    // change reads the file again with the user's choice (result Again).
    void addChoices(const Table& table, const HeaderUse& header, Choice* choice) {
        auto* row = new QHBoxLayout;
        const auto changed = [this, choice, table] {
            choice->sheet = m_sheet ? m_sheet->currentIndex() : table.sheet;
            choice->columns.clear();
            for (auto it = m_columns.constBegin(); it != m_columns.constEnd(); ++it)
                if (it.value()->currentIndex() > 0)
                    choice->columns.insert(it.key(), it.value()->currentIndex() - 1);
            done(AgainResult);
        };
        if (table.sheets.size() > 1) {
            m_sheet = new QComboBox(this);
            m_sheet->setObjectName("cmbシート");
            m_sheet->addItems(table.sheets);
            m_sheet->setCurrentIndex(table.sheet);
            row->addWidget(labelFor(QStringLiteral("シート"), m_sheet));
            row->addWidget(m_sheet);
            connect(m_sheet, &QComboBox::activated, this, changed);
        }
        QStringList items{QStringLiteral("（なし）")};
        for (int i = 0; i < header.cells.size(); ++i)
            items << QStringLiteral("%1: %2").arg(columnLetter(i), header.cells[i]);
        for (const QString& field : header.fields) {
            auto* box = new QComboBox(this);
            box->setObjectName("cmb列_" + field);
            box->addItems(items);
            box->setCurrentIndex(header.columns.value(field, -1) + 1);
            row->addWidget(labelFor(field, box));
            row->addWidget(box);
            m_columns.insert(field, box);
            connect(box, &QComboBox::activated, this, changed);
        }
        row->addStretch(1);
        m_options->addLayout(row);
    }
    static constexpr int AgainResult = 2;

  private:
    QLabel* labelFor(const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text + QStringLiteral("(&%1)").arg(++m_mnemonic % 10), this);
        l->setBuddy(buddy);
        return l;
    }
    static QString columnLetter(int i) {
        QString s;
        for (++i; i > 0; i = (i - 1) / 26)
            s.prepend(QChar('A' + (i - 1) % 26));
        return s;
    }
    QVBoxLayout* m_options;
    QComboBox* m_sheet = nullptr;
    QMap<QString, QComboBox*> m_columns;
    int m_mnemonic = 0;
};

Answer answerOf(int result) {
    return result == QDialog::Accepted            ? Answer::Import
           : result == PreviewDialog::AgainResult ? Answer::Again
                                                  : Answer::Cancel;
}

QString fileLine(const QString& path, const Table& t) {
    return QStringLiteral("%1（%2）")
        .arg(QFileInfo(path).fileName(),
             t.sheets.isEmpty()
                 ? encodingName(t.encoding)
                 : QStringLiteral("Excel ブック・シート「%1」").arg(t.sheets.value(t.sheet)));
}

// The key a header's chosen columns are kept under: the header's cells.
QString headerKey(const QStringList& header) {
    return QStringLiteral("列の対応/") +
           QString::fromLatin1(
               QCryptographicHash::hash(header.join('\t').toUtf8(), QCryptographicHash::Sha1)
                   .toHex());
}

} // namespace

QString suggestedName(const QStringList& parts, const QString& suffix) {
    QStringList safe;
    for (QString p : parts) {
        // A character some file system refuses becomes "_".
        for (QChar& c : p)
            if (QStringLiteral("\\/:*?\"<>|").contains(c) || c.unicode() < 0x20)
                c = '_';
        if (!p.trimmed().isEmpty())
            safe << p.trimmed();
    }
    return safe.join('_') + "." + suffix;
}

QString chooseSaveFile(QWidget* parent, const QString& suggested, FileFormat* format) {
    QFileDialog dlg(parent, QStringLiteral("書き出し"), lastFolder());
    dlg.setObjectName("dlgCSV出力");
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilters({BookFilter, Utf8Filter, Cp932Filter});
    dlg.setDefaultSuffix("xlsx");
    dlg.selectFile(suggested);
    // Another type: the name's ending follows it.
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg](const QString& filter) {
        const QString suffix =
            filter == BookFilter ? QStringLiteral("xlsx") : QStringLiteral("csv");
        dlg.setDefaultSuffix(suffix);
        if (auto* name = dlg.findChild<QLineEdit*>("fileNameEdit")) {
            QString text = name->text();
            if (text.endsWith(".csv", Qt::CaseInsensitive) ||
                text.endsWith(".xlsx", Qt::CaseInsensitive))
                name->setText(text.left(text.lastIndexOf('.')) + "." + suffix);
        }
    });
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    const QString path = dlg.selectedFiles().first();
    const QString filter = dlg.selectedNameFilter();
    // A typed ending decides whatever type is selected.
    if (path.endsWith(".xlsx", Qt::CaseInsensitive))
        *format = FileFormat::Workbook;
    else if (path.endsWith(".csv", Qt::CaseInsensitive))
        *format = filter == Cp932Filter ? FileFormat::CsvCp932 : FileFormat::CsvUtf8;
    else
        *format = filter == BookFilter    ? FileFormat::Workbook
                  : filter == Cp932Filter ? FileFormat::CsvCp932
                                          : FileFormat::CsvUtf8;
    lastFolder() = QFileInfo(path).absolutePath();
    return path;
}

QString choosePdfFile(QWidget* parent, const QStringList& nameParts) {
    return chooseFileToWrite(parent, QStringLiteral("PDFに保存"), "dlgPDF保存",
                             QStringLiteral("PDF (*.pdf)"),
                             suggestedName(nameParts, QStringLiteral("pdf")));
}

QString chooseFileToWrite(QWidget* parent, const QString& title, const QString& objectName,
                          const QString& filter, const QString& suggested) {
    QFileDialog dlg(parent, title, lastFolder());
    dlg.setObjectName(objectName);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilter(filter);
    dlg.setDefaultSuffix(QFileInfo(suggested).suffix());
    dlg.selectFile(suggested);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    const QString path = dlg.selectedFiles().first();
    lastFolder() = QFileInfo(path).absolutePath();
    return path;
}

QString exportRecords(QWidget* parent, const QStringList& nameParts, const Records& records) {
    FileFormat format = FileFormat::Workbook;
    const QString path = chooseSaveFile(parent, suggestedName(nameParts), &format);
    if (path.isEmpty())
        return path;
    Records book = records;
    if (book.title.isEmpty())
        book.title = nameParts.join(' ').trimmed();
    const Status s =
        format == FileFormat::Workbook
            ? writeWorkbookFile(path, book)
            : writeCsvFile(path, records.rows,
                           format == FileFormat::CsvCp932 ? Encoding::Cp932 : Encoding::Utf8Bom);
    if (!s) {
        ShowError(QStringLiteral("書き出せませんでした。"), s.error);
        return QString();
    }
    return path;
}

QString chooseOpenFile(QWidget* parent) {
    QFileDialog dlg(parent, QStringLiteral("取り込むファイル"), lastFolder());
    dlg.setObjectName("dlgCSV選択");
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilters({QStringLiteral("CSV・Excel ブック (*.csv *.txt *.xlsx)"),
                        QStringLiteral("すべてのファイル (*)")});
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    const QString path = dlg.selectedFiles().first();
    lastFolder() = QFileInfo(path).absolutePath();
    return path;
}

QHash<QString, int> rememberedColumns(const QStringList& header) {
    QHash<QString, int> out;
    if (header.isEmpty())
        return out;
    const QVariantMap saved = rememberedValue(headerKey(header)).toMap();
    for (auto it = saved.constBegin(); it != saved.constEnd(); ++it)
        out.insert(it.key(), it.value().toInt());
    return out;
}

void rememberColumns(const QStringList& header, const QHash<QString, int>& columns) {
    QVariantMap m;
    for (auto it = columns.constBegin(); it != columns.constEnd(); ++it)
        m.insert(it.key(), it.value());
    keepValue(headerKey(header), m);
}

Answer confirmProducts(QWidget* parent, const QString& path, const Table& table,
                       Result<ProductPreview>& read, Choice* choice) {
    static const QStringList actions{QStringLiteral("追加"), QStringLiteral("更新"),
                                     QStringLiteral("変更なし"), QStringLiteral("エラー"),
                                     QStringLiteral("コード変更")};
    ProductPreview& preview = read.value;
    auto* model =
        new PreviewModel({QStringLiteral("行"), QStringLiteral("判定"), QStringLiteral("コード"),
                          QStringLiteral("品名"), QStringLiteral("理由")},
                         nullptr);
    for (const ProductLine& l : preview.lines)
        model->add(
            {QString::number(l.line), actions[int(l.action)], oneLine(l.code), oneLine(l.name)},
            l.action == RowAction::Error);
    model->setLastColumn([&preview](int row) { return changeReason(preview.lines[row]); });
    QStringList summary{fileLine(path, table)};
    if (!read) {
        summary << read.status.error
                << QStringLiteral("下で、どの列が品名か（ほかの項目も）選んでください。");
    } else {
        summary << QStringLiteral(
                       "追加 %1 件・更新 %2 件・変更なし %3 件・コード変更 %4 件・エラー %5 件")
                       .arg(preview.count(RowAction::New))
                       .arg(preview.count(RowAction::Update))
                       .arg(preview.count(RowAction::Unchanged))
                       .arg(preview.count(RowAction::CodeChange))
                       .arg(preview.count(RowAction::Error));
    }
    if (!preview.ignoredColumns.isEmpty())
        summary << QStringLiteral("読まない列: %1").arg(preview.ignoredColumns.join("、"));
    if (!preview.namesNotFitting.isEmpty())
        summary << QStringLiteral("30 件の枠に入らない名称: %1")
                       .arg(preview.namesNotFitting.join("、"));
    if (preview.count(RowAction::Error))
        summary << QStringLiteral(
            "エラーの行は取り込みません。ファイルを直して、もう一度取り込めます。");
    if (preview.errorsNotShown)
        summary << QStringLiteral("エラーは最初の %1 件を表示しています（ほか %2 件）。")
                       .arg(MaxShownErrors)
                       .arg(preview.errorsNotShown);
    const int changes = preview.count(RowAction::CodeChange);
    if (changes)
        summary << QStringLiteral(
            "コード変更の行は、品名の同じ商品（コードなし）にファイルのコードを"
            "付けます。印を付けたときだけ取り込みます。");
    const bool any = preview.count(RowAction::New) + preview.count(RowAction::Update) + changes > 0;
    PreviewDialog dlg(parent, QStringLiteral("商品情報の取込"), summary, model, read && any);
    dlg.addChoices(table, preview.header, choice);
    auto* codes = new QCheckBox(QStringLiteral("コード変更の行も取り込む"), &dlg);
    codes->setObjectName("chkコード変更");
    codes->setEnabled(changes > 0);
    dlg.addOption(codes);
    const Answer a = answerOf(dlg.exec());
    preview.writeCodeChanges = codes->isChecked();
    return a;
}

Answer confirmCounts(QWidget* parent, const QString& path, const Table& table,
                     const Result<CountPreview>& read, Choice* choice, bool* addUnknown) {
    const CountPreview& preview = read.value;
    auto* model =
        new PreviewModel({QStringLiteral("行"), QStringLiteral("判定"), QStringLiteral("コード"),
                          QStringLiteral("品名"), QStringLiteral("数量"), QStringLiteral("理由")},
                         nullptr);
    for (const CountLine& l : preview.lines) {
        const QString action = l.action == RowAction::Error ? QStringLiteral("エラー")
                               : !l.known                   ? QStringLiteral("未登録")
                               : l.action == RowAction::New ? QStringLiteral("行を追加")
                                                            : QStringLiteral("数量を設定");
        model->add({QString::number(l.line), action, l.code, oneLine(l.name),
                    l.action == RowAction::Error ? QString() : QString::number(l.quantity),
                    l.reason},
                   l.action == RowAction::Error || !l.known);
    }
    const int good = int(preview.lines.size()) - preview.errorsShown;
    QStringList summary{fileLine(path, table)};
    if (!read)
        summary << read.status.error
                << QStringLiteral("下で、どの列が数量か（ほかの項目も）選んでください。");
    else
        summary << QStringLiteral("数量を設定 %1 件・行を追加 %2 件・未登録 %3 件・エラー %4 件")
                       .arg(preview.count(RowAction::Update))
                       .arg(preview.count(RowAction::New) - preview.unknown())
                       .arg(preview.unknown())
                       .arg(preview.count(RowAction::Error));
    if (!preview.ignoredColumns.isEmpty())
        summary << QStringLiteral("読まない列: %1").arg(preview.ignoredColumns.join("、"));
    if (preview.errorsNotShown)
        summary << QStringLiteral("エラーは最初の %1 件を表示しています（ほか %2 件）。")
                       .arg(MaxShownErrors)
                       .arg(preview.errorsNotShown);
    PreviewDialog dlg(parent, QStringLiteral("在庫表の取込"), summary, model, read && good > 0);
    dlg.addChoices(table, preview.header, choice);
    auto* add = new QCheckBox(QStringLiteral("未登録の商品を品名だけの行として追加する"), &dlg);
    add->setObjectName("chk未登録追加");
    add->setEnabled(preview.unknown() > 0);
    dlg.addOption(add);
    const Answer a = answerOf(dlg.exec());
    *addUnknown = add->isChecked();
    return a;
}

WorkProgress::WorkProgress(QWidget* parent, const QString& label)
    : m_dialog(label, QStringLiteral("キャンセル"), 0, 0, parent) {
    m_dialog.setObjectName("dlg取込中");
    m_dialog.setWindowTitle(QStringLiteral("取込"));
    m_dialog.setWindowModality(Qt::WindowModal);
    m_dialog.setMinimumDuration(500);
    m_dialog.setAutoReset(false);
}

void WorkProgress::finish() {
    m_dialog.reset(); // stops the timer that would show it
    m_dialog.hide();
}

Progress WorkProgress::callback() {
    return [this](qint64 done, qint64 total) {
        m_dialog.setMaximum(int(std::min<qint64>(total, INT_MAX)));
        m_dialog.setValue(int(std::min<qint64>(done, INT_MAX)));
        return !m_dialog.wasCanceled();
    };
}

void showReadFailure(const QString& reason) {
    ShowError(QStringLiteral("取り込めませんでした。"), reason);
}

} // namespace exchange
