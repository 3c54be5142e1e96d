// The sheet tab's actions on saved sheets: load, save, delete, close,
// fill from the master, CSV, and the views of saved sheets.
#include "backup/BackupOps.h"
#include "sheet/SheetTab.h"

#include "exchange/CsvDialogs.h"
#include "exchange/Export.h"
#include "msg/Msg.h"
#include "sheet/SaveQuestion.h"
#include "sheet/ScanPanel.h"
#include "sheet/SheetHeading.h"
#include "widgets/DateBox.h"
#include "widgets/Grids.h"
#include "work/WorkResets.h"
#include "work/WorkRows.h"
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QProgressBar>

using namespace sheet;

void SheetTab::Read在庫表() {
    if (!requireDate() || !confirmDiscard())
        return;
    loadSheet(m_date->value(), m_category->currentText());
}

void SheetTab::loadSheet(const QDate& date, const QString& category) {
    m_bar->show();
    setProgress(10);
    sheet::LoadedFrom from;
    const Result<int> loaded = sheet::read在庫表(
        m_store, date, category, [this](int v) { setProgress(v); }, &from);
    if (!loaded) {
        m_bar->hide();
        ShowError(QStringLiteral("在庫表を読み込めませんでした。"), loaded.error());
        return;
    }
    // The heading names the sheet only once it is on screen.
    m_date->setValue(date);
    if (m_category->currentText() != category) {
        m_category->setCurrentIndex(m_category->findText(category));
        m_category->setEditText(category);
    }
    m_loaded = from;
    m_dirty = false;
    m_imported.clear();
    m_heading->showRecordedElsewhere(false);
    m_scanPanel->forget();
    refreshGrid();
    toFirstLine();
    Calc明細();
    setProgress(100);
    m_bar->hide();
    emit statusMessage(QStringLiteral("%1 の在庫表を読み込みました（%2行）")
                           .arg(sheetHeading())
                           .arg(loaded.value));
}

bool SheetTab::refuseClosed() {
    if (m_date->isNull())
        return false;
    const Result<bool> closed = sheet::isClosed(m_store, m_date->value());
    if (!closed || !closed.value)
        return false;
    ShowMsg(MsgKind::その他, MsgCase::メッセージ, closedMessage(m_date->value()));
    return true;
}

void SheetTab::showClosed() {
    const Result<bool> closed =
        m_date->isNull() ? Result<bool>{} : sheet::isClosed(m_store, m_date->value());
    m_heading->showClosed(closed && closed.value);
}

void SheetTab::Entry在庫表() {
    if (!requireDate() || refuseClosed() || !lookUpPending())
        return;
    const Result<int> named = namedLineCount(m_store);
    if (!named) {
        ShowError(QStringLiteral("在庫表を登録できませんでした。"), named.error());
        return;
    }
    if (named.value == 0)
        return;
    sheet::SaveMode mode;
    if (!sheet::askSave(m_store, m_date->value(), m_date->shownText(), m_category->currentText(),
                        m_loaded, m_scanPanel->waiting(), &mode))
        return;
    mode.counter = counter();
    mode.imported = m_imported;
    const QString heading = sheetHeading();
    m_bar->show();
    setProgress(10);
    const Result<int> saved = sheet::entry在庫表(
        m_store, m_date->value(), m_category->currentText(), [this](int v) { setProgress(v); },
        mode);
    m_bar->hide();
    if (!saved) {
        ShowError(saved.status.kind == ErrorKind::Unsure
                      ? QStringLiteral("在庫表を登録できたかどうか分かりません。")
                      : QStringLiteral(
                            "在庫表を登録できませんでした。入力した内容はそのまま残っています。"),
                  saved.error());
        return;
    }
    // The sheet is stored: whatever follows, the user is told so, and the
    // date stays on the saved one until the tab is reset.
    m_dirty = false;
    m_imported.clear();
    announce();
    const QString done =
        QStringLiteral("%1 の在庫表を%2しました（%3行）")
            .arg(heading, mode.add ? QStringLiteral("追加登録") : QStringLiteral("登録"))
            .arg(saved.value);
    emit statusMessage(done);
    if (Status s = resetSheet(); !s)
        ShowError(done + QStringLiteral("。ただし画面をクリアできませんでした。"), s.error);
}

void SheetTab::Delete在庫表() {
    if (!requireDate() || refuseClosed())
        return;
    if (ShowMsg(MsgKind::削除, MsgCase::確認, m_date->shownText()) != True)
        return;
    const Result<sheet::Deleted> deleted = sheet::delete在庫表(m_store, m_date->value(), counter());
    if (!deleted) {
        ShowError(QStringLiteral("在庫表を削除できませんでした。"), deleted.error());
        return;
    }
    announce();
    const QString done = QStringLiteral("%1 の在庫表を削除しました（%2区分・%3行）")
                             .arg(m_date->shownText())
                             .arg(deleted.value.categories)
                             .arg(deleted.value.rows);
    emit statusMessage(done);
    if (Status s = resetSheet(); !s)
        ShowError(done + QStringLiteral("。ただし画面をクリアできませんでした。"), s.error);
}

void SheetTab::LineDelete在庫表() {
    const QModelIndex cur = m_grid->currentIndex();
    if (!cur.isValid() || (isEmptyValue(m_model->value(cur.row(), ColCode)) &&
                           isEmptyValue(m_model->value(cur.row(), ColName)))) {
        ShowMsg(MsgKind::その他, MsgCase::メッセージ, "行を選択してください。");
        return;
    }
    if (refuseClosed())
        return;
    // Which line, as the user sees it: its number and its name (or code).
    const QVariant name = m_model->value(cur.row(), ColName);
    const QString line =
        QStringLiteral("%1行目 %2")
            .arg(cur.row() + 1)
            .arg((isEmptyValue(name) ? m_model->value(cur.row(), ColCode) : name).toString());
    if (ShowMsg(MsgKind::削除, MsgCase::確認, "指定された行",
                line + QStringLiteral(" を削除します。")) != True)
        return;
    std::optional<QDate> date;
    if (!m_date->isNull())
        date = m_date->value();
    const Result<LineDeleted> removed =
        sheet::lineDelete在庫表(m_store, m_model->keyAt(cur.row()), date, counter());
    if (!removed) {
        ShowError(QStringLiteral("指定された行を削除できませんでした。"), removed.error());
        return;
    }
    // The saved sheet lost the same line: the screen still shows it as saved,
    // unless another counter changed it since the screen read it.
    if (removed.value.saved && m_loaded.date == date &&
        m_loaded.versions.value(removed.value.category) == removed.value.version - 1)
        m_loaded.versions[removed.value.category] = removed.value.version;
    if (removed.value.saved)
        announce();
    refreshGrid();
    // The total follows the lines that are left.
    Calc明細();
    emit statusMessage(removed.value.saved
                           ? QStringLiteral("行を削除しました（保存済みの行も削除）")
                           : QStringLiteral("行を削除しました（%1行）").arg(removed.value.lines));
}

void SheetTab::close在庫表() {
    if (!requireDate())
        return;
    if (ShowMsg(MsgKind::その他, MsgCase::確定確認, m_date->shownText()) != True)
        return;
    if (Status s = sheet::close在庫表(m_store, m_date->value()); !s) {
        ShowError(QStringLiteral("在庫表を確定できませんでした。"), s.error);
        return;
    }
    showClosed();
    // The books keep the ledger as it was closed; the close stands whatever the copy does.
    const Result<QString> copy = backup::closingCopy(m_store, m_date->value());
    if (!copy) {
        ShowError(QStringLiteral("在庫表は確定しましたが、確定時のコピーを作れませんでした。"
                                 "確定を解除してもう一度確定すると、作り直します。"),
                  copy.error());
        return;
    }
    emit statusMessage(QStringLiteral("%1 の在庫表を確定しました（コピー: %2）")
                           .arg(m_date->shownText(), QDir::toNativeSeparators(copy.value)));
}

void SheetTab::reopen在庫表() {
    if (!requireDate())
        return;
    const Result<bool> closed = sheet::isClosed(m_store, m_date->value());
    if (closed && !closed.value) {
        emit statusMessage(
            QStringLiteral("%1 の在庫表は確定されていません").arg(m_date->shownText()));
        return;
    }
    if (ShowMsg(MsgKind::その他, MsgCase::確定解除確認, m_date->shownText()) != True)
        return;
    if (Status s = sheet::reopen在庫表(m_store, m_date->value()); !s) {
        ShowError(QStringLiteral("確定を解除できませんでした。"), s.error);
        return;
    }
    showClosed();
    emit statusMessage(QStringLiteral("%1 の在庫表の確定を解除しました").arg(m_date->shownText()));
}

void SheetTab::Read商品マスタto在庫表() {
    if (!confirmDiscard())
        return;
    if (ShowMsg(MsgKind::その他, MsgCase::確認, "商品情報を読み込みします。") != True)
        return;
    const Result<int> filled = sheet::read商品マスタto在庫表(m_store);
    if (!filled) {
        ShowError(QStringLiteral("商品情報を読み込めませんでした。"), filled.error());
        return;
    }
    m_dirty = false;
    m_loaded = {};
    refreshGrid();
    Calc明細();
    emit statusMessage(QStringLiteral("商品情報から %1 行を読み込みました").arg(filled.value));
}

void SheetTab::exportCsv() {
    Result<exchange::Records> records = exchange::sheetRecords(m_store);
    if (!records) {
        ShowError(QStringLiteral("書き出せませんでした。"), records.error());
        return;
    }
    if (records.value.rows.size() < 2) {
        emit statusMessage(QStringLiteral("書き出す行がありません"));
        return;
    }
    const QStringList name = fileNameParts();
    // A workbook's sheet is named by the date and the category.
    records.value.title = (name[1] + " " + name[2]).trimmed();
    const QString path = exchange::exportRecords(this, name, records.value);
    if (path.isEmpty())
        return;
    emit statusMessage(QStringLiteral("在庫表を %1 に書き出しました（%2行）")
                           .arg(QDir::toNativeSeparators(path))
                           .arg(records.value.rows.size() - 1));
}

void SheetTab::importCsv() {
    if (refuseClosed())
        return;
    QString path;
    bool addUnknown = false;
    const std::optional<exchange::CountPreview> preview =
        exchange::previewFile<exchange::CountPreview>(
            this, &path,
            [this](const exchange::Table& t, const exchange::Progress& p) {
                return exchange::previewCounts(m_store, t, p);
            },
            [this, &path, &addUnknown](const exchange::Table& t, Result<exchange::CountPreview>& p,
                                       exchange::Choice* c) {
                return exchange::confirmCounts(this, path, t, p, c, &addUnknown);
            });
    if (!preview)
        return;
    exchange::WorkProgress writing(this, QStringLiteral("数量を取り込んでいます…"));
    const Result<exchange::Counted> done =
        exchange::importCounts(m_store, *preview, addUnknown, writing.callback());
    writing.finish();
    if (!done) {
        ShowError(QStringLiteral("取り込めませんでした。在庫表は取り込む前のままです。"),
                  done.error());
        return;
    }
    m_dirty = true;
    for (const exchange::CountLine& l : preview->lines)
        if (l.action != exchange::RowAction::Error)
            for (const QVariant& v :
                 {QVariant(l.code), QVariant(l.name), l.product.value(0), l.product.value(1)})
                if (!isEmptyValue(v))
                    m_imported.insert(v.toString());
    refreshGrid();
    Calc明細();
    emit statusMessage(QStringLiteral("%1 から数量を取り込みました（設定 %2行・追加 %3行・"
                                      "未登録の追加 %4行）")
                           .arg(QFileInfo(path).fileName())
                           .arg(done.value.set)
                           .arg(done.value.filled)
                           .arg(done.value.unknown));
}

void SheetTab::markSavedDates() {
    const Result<QVector<QDate>> dates = savedDates(m_store);
    if (dates)
        m_date->setMarkedDates(dates.value);
}

void SheetTab::loadSaved(const QDate& date, const QString& category) {
    if (!confirmDiscard())
        return;
    loadSheet(date, category);
}

void SheetTab::print() {
    const auto fail = [](const QString& e) {
        ShowError(QStringLiteral("在庫表を印刷できませんでした。"), e);
    };
    if (Status s = sheet::fillSheetPrint(m_store); !s)
        return fail(s.error);
    const sheet::PrintHeading heading = printHeading();
    PrintDate = heading.date;
    PrintCategory = heading.category;
    PrintTotal = heading.total;
    const report::Definition def = sheet::sheetReport(heading);
    // The count forms also read each line's shelf.
    const auto rows = work::readFields(m_store, "w在庫表印刷",
                                       report::boundFields(def) << QStringLiteral("棚番"));
    if (!rows)
        return fail(rows.error());
    const auto form = [heading, rows = rows.value](sheet::Form f) {
        return [heading, rows, f] {
            return report::layout(sheet::sheetReport(heading, f),
                                  f == sheet::Form::Counted ? rows : sheet::byShelf(rows));
        };
    };
    emit printoutReady({QStringLiteral("在庫表"),
                        report::layout(def, rows.value),
                        {{QStringLiteral("数えた在庫表"), form(sheet::Form::Counted)},
                         {QStringLiteral("記入用（数量なし）"), form(sheet::Form::Blank)},
                         {QStringLiteral("記入用（数量・適正数なし）"), form(sheet::Form::Blind)}},
                        fileNameParts()});
}
