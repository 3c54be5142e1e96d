#include "sheet/SaveQuestion.h"

#include "msg/Msg.h"

namespace sheet {

namespace {
QString categoryShown(const QString& category) {
    return category.isEmpty() ? QStringLiteral("（区分なし）") : category;
}
QString linesShown(const Unloaded& u) {
    return u.savedAt.isEmpty() ? QStringLiteral("%1行").arg(u.lines)
                               : QStringLiteral("%1行・%2 保存").arg(u.lines).arg(u.savedAt);
}
// The first five, then how many more.
QString shortList(const QStringList& items) {
    QString out = items.mid(0, 5).join(QStringLiteral("、"));
    if (items.size() > 5)
        out += QStringLiteral(" ほか %1 件").arg(items.size() - 5);
    return out;
}

// Products someone changed after the sheet's lines got their values, where
// the user typed a field: the master keeps what is stored unless the user
// chooses to overwrite. False when the user cancels the save.
bool askConflicts(const MasterEffect& effect, SaveMode* mode) {
    if (effect.conflicts.isEmpty())
        return true;
    const int answer = AskChoice(
        QStringLiteral("他で変更された商品"),
        QStringLiteral("次の商品は、この在庫表に値を入力した後に他で変更されています（保存済み → "
                       "入力）: %1")
            .arg(shortList(effect.conflicts)),
        {QStringLiteral("商品マスタはそのまま"), QStringLiteral("入力した値で上書き"),
         QStringLiteral("キャンセル")},
        0, QStringLiteral("どちらを選んでも在庫表は保存されます。"), effect.conflicts.join('\n'));
    if (answer == 2 || answer < 0)
        return false;
    if (answer == 1)
        mode->overwrite = effect.conflictVersions;
    return true;
}
} // namespace

bool askSave(Store& store, const QDate& date, const QString& shownDate, const QString& category,
             const LoadedFrom& loaded, int waitingCodes, SaveMode* mode) {
    const Result<QVector<Unloaded>> unloaded = unloadedSheets(store, date, category, loaded);
    const Result<MasterEffect> effect = masterEffect(store);
    const Result<QStringList> elsewhere = otherCategoryLines(store, category);
    if (!unloaded || !effect || !elsewhere) {
        ShowError(QStringLiteral("在庫表を登録できませんでした。"), (!unloaded ? unloaded.status
                                                                     : !effect ? effect.status
                                                                               : elsewhere.status)
                                                                        .error);
        return false;
    }
    // What the save does beyond the sheet, beneath the question.
    QStringList notes, details;
    if (!effect.value.added.isEmpty() || !effect.value.changed.isEmpty()) {
        notes << QStringLiteral("商品マスタ: 追加 %1 件・変更 %2 件")
                     .arg(effect.value.added.size())
                     .arg(effect.value.changed.size());
        if (!effect.value.added.isEmpty())
            details << QStringLiteral("追加:") << effect.value.added;
        if (!effect.value.changed.isEmpty())
            details << QStringLiteral("変更:") << effect.value.changed;
    }
    if (!elsewhere.value.isEmpty()) {
        notes << QStringLiteral("ほかの商品区分の商品 %1 件は %2 として保存されます（商品の区分は"
                                "変わりません）: %3")
                     .arg(elsewhere.value.size())
                     .arg(category, shortList(elsewhere.value));
        details << QStringLiteral("%1 として保存:").arg(category) << elsewhere.value;
    }
    if (waitingCodes > 0)
        notes << QStringLiteral("未登録のコード %1 件は保存されません").arg(waitingCodes);
    mode->expected = loaded.date == date ? loaded.versions : Versions{};
    if (unloaded.value.isEmpty()) {
        if (ShowMsg(MsgKind::登録, MsgCase::確認, shownDate + "の在庫表", notes.join('\n'),
                    details.join('\n')) != True)
            return false;
        return askConflicts(effect.value, mode);
    }
    QString text;
    if (!category.isEmpty()) {
        text = QStringLiteral("%1・%2 には保存済みの在庫表があります（%3）。")
                   .arg(shownDate, category, linesShown(unloaded.value.first()));
    } else {
        QStringList each;
        for (const Unloaded& u : unloaded.value)
            each << QStringLiteral("%1（%2）").arg(categoryShown(u.category), linesShown(u));
        text = QStringLiteral("%1 には保存済みの在庫表があります: %2。")
                   .arg(shownDate, each.join(QStringLiteral("、")));
    }
    notes.prepend(QStringLiteral("置き換えると保存済みの行は消えます。追加すると同じ商品の数量は"
                                 "合計されます。"));
    const int answer = AskChoice(
        QStringLiteral("登録の確認"), text,
        {QStringLiteral("置き換える"), QStringLiteral("追加する"), QStringLiteral("キャンセル")}, 2,
        notes.join('\n'));
    if (answer == 2)
        return false;
    for (const Unloaded& u : unloaded.value)
        (*mode->expected)[u.category] = u.version;
    mode->add = answer == 1;
    return askConflicts(effect.value, mode);
}

} // namespace sheet
