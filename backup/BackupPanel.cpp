#include "backup/BackupPanel.h"

#include "msg/Msg.h"
#include "widgets/Controls.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QString count(int n) {
    return n < 0 ? QStringLiteral("読めません") : QLocale().toString(n);
}

void openFolder(const QString& path) {
    QDir().mkpath(path);
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
} // namespace

BackupPanel::BackupPanel(Store& store, QWidget* parent)
    : QGroupBox(QStringLiteral("データとバックアップ"), parent), m_store(store) {
    setObjectName("grpバックアップ");
    m_path = makeLabel(this, "lblデータフォルダ", QString());
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_path->setWordWrap(true);
    QPushButton* openData = makeButton(this, "cmdデータフォルダ", "開く");
    openData->setToolTip(QStringLiteral("データフォルダをファイルマネージャーで開きます"));

    m_list = new QTreeWidget(this);
    m_list->setObjectName("lstバックアップ");
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setHeaderLabels({QStringLiteral("日時"), QStringLiteral("種類"),
                             QStringLiteral("サイズ"), QStringLiteral("在庫表"),
                             QStringLiteral("商品")});
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 5; ++c)
        m_list->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    m_list->setMinimumHeight(fontMetrics().height() * 4);

    QPushButton* now = makeButton(this, "cmdバックアップ", "今すぐバックアップ");
    QPushButton* elsewhere = makeButton(this, "cmdバックアップ保存", "別の場所へ…");
    elsewhere->setToolTip(QStringLiteral("USB メモリなど、選んだフォルダにバックアップを作ります"));
    QPushButton* restore = makeButton(this, "cmd復元", "復元");
    restore->setToolTip(QStringLiteral("選んだバックアップのデータに戻します"));
    QPushButton* fromFile = makeButton(this, "cmd復元ファイル", "ファイルから復元…");
    fromFile->setToolTip(QStringLiteral("USB メモリなどに保存したバックアップを選んで戻します"));
    QPushButton* openBackups = makeButton(this, "cmdバックアップフォルダ", "フォルダを開く");

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(makeLabel(this, "Label40", "データフォルダ"));
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(openData);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {now, elsewhere, restore, fromFile})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(openBackups);
    auto* v = new QVBoxLayout(this);
    v->addLayout(pathRow);
    v->addWidget(m_list, 1);
    v->addLayout(buttons);

    connect(openData, &QPushButton::clicked, this, [this] { openFolder(m_store.dataPath()); });
    connect(openBackups, &QPushButton::clicked, this,
            [this] { openFolder(backup::folder(m_store)); });
    connect(now, &QPushButton::clicked, this, [this] { makeNow(QString()); });
    connect(elsewhere, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(
            this, QStringLiteral("バックアップの保存先"), QDir::homePath());
        if (!dir.isEmpty())
            makeNow(dir);
    });
    const auto restoreChosen = [this] {
        if (chosen().isEmpty()) {
            ShowMsg(MsgKind::行指定, MsgCase::指定なし, QString());
            return;
        }
        emit restoreRequested(chosen());
    };
    connect(restore, &QPushButton::clicked, this, restoreChosen);
    // A copy saved elsewhere (a USB stick) is restored with the same checks.
    connect(fromFile, &QPushButton::clicked, this, [this] {
        QFileDialog dlg(this, QStringLiteral("復元するバックアップ"), QDir::homePath(),
                        QStringLiteral("Stolva のバックアップ (*.mdb);;すべてのファイル (*)"));
        dlg.setObjectName("dlg復元ファイル");
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
            emit restoreRequested(dlg.selectedFiles().first());
    });
    connect(m_list, &QTreeWidget::itemActivated, this, restoreChosen);
}

void BackupPanel::refresh() {
    m_path->setText(QDir::toNativeSeparators(m_store.dataPath()));
    const QString kept = chosen();
    m_list->clear();
    for (const backup::Copy& c : backup::list(m_store, true)) {
        auto* item = new QTreeWidgetItem(
            m_list, {QLocale().toString(c.made, QStringLiteral("yyyy/MM/dd HH:mm:ss")),
                     backup::kindName(c.kind), QLocale().formattedDataSize(c.bytes),
                     count(c.sheets), count(c.products)});
        item->setData(0, Qt::UserRole, c.path);
        item->setToolTip(0, QDir::toNativeSeparators(c.path));
        if (c.made > QDateTime::currentDateTime()) {
            // Named by a clock that was wrong: listed, marked, not today's copy.
            item->setText(0, item->text(0) + QStringLiteral(" ※未来の日時"));
            item->setToolTip(0, QStringLiteral("この PC の時計より後の日時の名前です（時計が"
                                               "ずれていたときのコピー）。毎日のコピーには"
                                               "数えません。\n") +
                                    QDir::toNativeSeparators(c.path));
        }
        for (int col = 2; col < 5; ++col)
            item->setTextAlignment(col, Qt::AlignRight | Qt::AlignVCenter);
        if (c.path == kept)
            m_list->setCurrentItem(item);
    }
}

QString BackupPanel::chosen() const {
    const QTreeWidgetItem* item = m_list->currentItem();
    return item ? item->data(0, Qt::UserRole).toString() : QString();
}

void BackupPanel::makeNow(const QString& dir) {
    const Result<QString> copy =
        backup::makeCopy(m_store, backup::Kind::Manual, QDateTime::currentDateTime(), dir);
    if (!copy) {
        ShowError(QStringLiteral("バックアップを作成できませんでした。"), copy.error());
        return;
    }
    refresh();
    emit statusMessage(
        QStringLiteral("バックアップを作成しました: %1").arg(QDir::toNativeSeparators(copy.value)));
}
