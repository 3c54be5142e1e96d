#include "exchange/CsvDialogs.h"

#include "msg/Msg.h"
#include "widgets/Grids.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace exchange {

namespace {

const QString Utf8Filter = QStringLiteral("CSV UTF-8 (Excel 用) (*.csv)");
const QString Cp932Filter = QStringLiteral("CSV Shift_JIS (*.csv)");

// The folder the last CSV was written to or read from, for the next dialog.
QString& lastFolder() {
    static QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
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
    int rowCount(const QModelIndex& = QModelIndex()) const override { return int(m_rows.size()); }
    int columnCount(const QModelIndex& = QModelIndex()) const override {
        return int(m_headers.size());
    }
    QVariant data(const QModelIndex& i, int role) const override {
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

  private:
    QVBoxLayout* m_options;
};

QString fileLine(const QString& path, Encoding e) {
    return QStringLiteral("%1（%2）").arg(QFileInfo(path).fileName(), encodingName(e));
}

} // namespace

QString suggestedName(const QStringList& parts) {
    QStringList safe;
    for (QString p : parts) {
        // A character some file system refuses becomes "_".
        for (QChar& c : p)
            if (QStringLiteral("\\/:*?\"<>|").contains(c) || c.unicode() < 0x20)
                c = '_';
        if (!p.trimmed().isEmpty())
            safe << p.trimmed();
    }
    return safe.join('_') + QStringLiteral(".csv");
}

QString chooseSaveFile(QWidget* parent, const QString& suggested, Encoding* encoding) {
    QFileDialog dlg(parent, QStringLiteral("CSV 出力"), lastFolder());
    dlg.setObjectName("dlgCSV出力");
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilters({Utf8Filter, Cp932Filter});
    dlg.setDefaultSuffix("csv");
    dlg.selectFile(suggested);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    *encoding = dlg.selectedNameFilter() == Cp932Filter ? Encoding::Cp932 : Encoding::Utf8Bom;
    const QString path = dlg.selectedFiles().first();
    lastFolder() = QFileInfo(path).absolutePath();
    return path;
}

QString exportRecords(QWidget* parent, const QStringList& nameParts,
                      const QVector<QStringList>& records) {
    Encoding encoding = Encoding::Utf8Bom;
    const QString path = chooseSaveFile(parent, suggestedName(nameParts), &encoding);
    if (path.isEmpty())
        return path;
    if (Status s = writeCsvFile(path, records, encoding); !s) {
        ShowError(QStringLiteral("CSV に書き出せませんでした。"), s.error);
        return QString();
    }
    return path;
}

QString chooseOpenFile(QWidget* parent) {
    QFileDialog dlg(parent, QStringLiteral("CSV 取込"), lastFolder());
    dlg.setObjectName("dlgCSV選択");
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setNameFilters(
        {QStringLiteral("CSV (*.csv *.txt)"), QStringLiteral("すべてのファイル (*)")});
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    const QString path = dlg.selectedFiles().first();
    lastFolder() = QFileInfo(path).absolutePath();
    return path;
}

bool confirmProducts(QWidget* parent, const QString& path, ProductPreview& preview) {
    static const QStringList actions{QStringLiteral("追加"), QStringLiteral("更新"),
                                     QStringLiteral("変更なし"), QStringLiteral("エラー"),
                                     QStringLiteral("コード変更")};
    auto* model =
        new PreviewModel({QStringLiteral("行"), QStringLiteral("判定"), QStringLiteral("コード"),
                          QStringLiteral("品名"), QStringLiteral("理由")},
                         nullptr);
    for (const ProductLine& l : preview.lines)
        model->add({QString::number(l.line), actions[int(l.action)], oneLine(l.code),
                    oneLine(l.name), l.reason},
                   l.action == RowAction::Error);
    QStringList summary{fileLine(path, preview.encoding),
                        QStringLiteral("追加 %1 件・更新 %2 件・変更なし %3 件・コード変更 %4 件・"
                                       "エラー %5 件")
                            .arg(preview.count(RowAction::New))
                            .arg(preview.count(RowAction::Update))
                            .arg(preview.count(RowAction::Unchanged))
                            .arg(preview.count(RowAction::CodeChange))
                            .arg(preview.count(RowAction::Error))};
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
    PreviewDialog dlg(parent, QStringLiteral("商品情報の CSV 取込"), summary, model, any);
    auto* codes = new QCheckBox(QStringLiteral("コード変更の行も取り込む"), &dlg);
    codes->setObjectName("chkコード変更");
    codes->setEnabled(changes > 0);
    dlg.addOption(codes);
    const bool ok = dlg.exec() == QDialog::Accepted;
    preview.writeCodeChanges = codes->isChecked();
    return ok;
}

bool confirmCounts(QWidget* parent, const QString& path, const CountPreview& preview,
                   bool* addUnknown) {
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
    QStringList summary{
        fileLine(path, preview.encoding),
        QStringLiteral("数量を設定 %1 件・行を追加 %2 件・未登録 %3 件・エラー %4 件")
            .arg(preview.count(RowAction::Update))
            .arg(preview.count(RowAction::New) - preview.unknown())
            .arg(preview.unknown())
            .arg(preview.count(RowAction::Error))};
    if (!preview.ignoredColumns.isEmpty())
        summary << QStringLiteral("読まない列: %1").arg(preview.ignoredColumns.join("、"));
    if (preview.errorsNotShown)
        summary << QStringLiteral("エラーは最初の %1 件を表示しています（ほか %2 件）。")
                       .arg(MaxShownErrors)
                       .arg(preview.errorsNotShown);
    PreviewDialog dlg(parent, QStringLiteral("在庫表の CSV 取込"), summary, model, good > 0);
    auto* add = new QCheckBox(QStringLiteral("未登録の商品を品名だけの行として追加する"), &dlg);
    add->setObjectName("chk未登録追加");
    add->setEnabled(preview.unknown() > 0);
    dlg.addOption(add);
    const bool ok = dlg.exec() == QDialog::Accepted;
    *addUnknown = add->isChecked();
    return ok;
}

WorkProgress::WorkProgress(QWidget* parent, const QString& label)
    : m_dialog(label, QStringLiteral("キャンセル"), 0, 0, parent) {
    m_dialog.setObjectName("dlg取込中");
    m_dialog.setWindowTitle(QStringLiteral("CSV取込"));
    m_dialog.setWindowModality(Qt::WindowModal);
    m_dialog.setMinimumDuration(500);
    m_dialog.setAutoReset(false);
}

Progress WorkProgress::callback() {
    return [this](qint64 done, qint64 total) {
        m_dialog.setMaximum(int(std::min<qint64>(total, INT_MAX)));
        m_dialog.setValue(int(std::min<qint64>(done, INT_MAX)));
        return !m_dialog.wasCanceled();
    };
}

void showReadFailure(const QString& reason) {
    ShowError(QStringLiteral("CSV を取り込めませんでした。"), reason);
}

} // namespace exchange
