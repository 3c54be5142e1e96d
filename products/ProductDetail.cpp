#include "products/ProductTab.h"

#include "codes/CodeOps.h"
#include "msg/Msg.h"
#include "widgets/Controls.h"
#include "widgets/Grids.h"
#include "widgets/NumberBox.h"
#include "work/WorkResets.h"
#include "work/WorkRows.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

// The detail panel of the product tab: one product read, typed and
// registered by its code, keyed like the sheet (Enter and the arrows move on).
using namespace products;

QWidget* ProductTab::buildDetailPanel() {
    m_panel = new QGroupBox(QStringLiteral("商品詳細"), this);
    m_panel->setObjectName("Cn商品詳細");
    auto* title = makeLabel(m_panel, "Label33", "商品詳細");
    title->hide(); // the frame's own title shows it
    m_code = new QLineEdit(m_panel);
    m_code->setObjectName("txt商品コード");
    m_code->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_name = new QLineEdit(m_panel);
    m_name->setObjectName("txt品名");
    m_unit = new QComboBox(m_panel);
    m_unit->setObjectName("cmb単位");
    m_unit->setEditable(true);
    m_unit->setInsertPolicy(QComboBox::NoInsert);
    m_price = new NumberBox("##,###,##0", m_panel);
    m_price->setObjectName("num単価");
    m_price->setDecimals(4);
    m_proper = new NumberBox("##,###,##0", m_panel);
    m_proper->setObjectName("num適正数");
    m_cat = new QComboBox(m_panel);
    m_cat->setObjectName("cmb商品区分");
    m_cat->setEditable(true);
    m_cat->setInsertPolicy(QComboBox::NoInsert);
    m_shelf = new QLineEdit(m_panel);
    m_shelf->setObjectName("txt棚番");
    m_shelf->setMaxLength(columns::MaxTextLength);
    m_rate = new QComboBox(m_panel);
    m_rate->setObjectName("cmb税率");
    m_rate->addItem(QStringLiteral("10 %"), StandardTaxRate);
    m_rate->addItem(QStringLiteral("8 %（軽減税率）"), ReducedTaxRate);
    m_rate->setToolTip(QStringLiteral("消費税率。飲食料品は軽減税率 8 %"));
    // A field holds 255 characters: the boxes stop there.
    m_code->setMaxLength(columns::MaxTextLength);
    m_name->setMaxLength(columns::MaxTextLength);
    m_unit->lineEdit()->setMaxLength(columns::MaxTextLength);
    m_cat->lineEdit()->setMaxLength(columns::MaxTextLength);

    auto* form = new QGridLayout;
    const QVector<QPair<QLabel*, QWidget*>> rows{
        {makeLabel(m_panel, "Label9", "コード"), m_code},
        {makeLabel(m_panel, "Label21", "品　名"), m_name},
        {makeLabel(m_panel, "Label22", "単 位"), m_unit},
        {makeLabel(m_panel, "Label23", "単　価"), m_price},
        {makeLabel(m_panel, "Label5", "適正数"), m_proper},
        {makeLabel(m_panel, "Label6", "商品区分"), m_cat},
        {makeLabel(m_panel, "Label棚番", "棚　番"), m_shelf},
        {makeLabel(m_panel, "Label税率", "税　率"), m_rate}};
    for (int i = 0; i < rows.size(); ++i) {
        rows[i].first->setBuddy(rows[i].second);
        form->addWidget(rows[i].first, i, 0);
        form->addWidget(rows[i].second, i, 1);
    }
    m_code->setMinimumWidth(twips(this, 2600));

    QPushButton* save = makeButton(m_panel, "cmd詳細登録", "登録");
    save->setToolTip(QStringLiteral("詳細にある商品情報を登録"));
    QPushButton* clear = makeButton(m_panel, "cmd詳細クリア", "クリア");
    clear->setToolTip(
        QStringLiteral(":商品情報画面を消去します。登録済みデータは削除されません。"));
    QPushButton* close = makeButton(m_panel, "cmd詳細閉じる", "閉じる");
    close->setToolTip(QStringLiteral("詳細画面を閉じます"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(save);
    buttons->addWidget(clear);
    buttons->addWidget(close);

    auto* v = new QVBoxLayout(m_panel);
    v->addLayout(form);
    v->addStretch(1);
    v->addLayout(buttons);
    m_panel->hide();

    m_fieldOrder = {m_code, m_name, m_unit, m_price, m_proper, m_cat, m_shelf, m_rate};
    connect(m_price, &NumberBox::refused, this,
            [] { ShowMsg(MsgKind::入力, MsgCase::数字のみ, "単価"); });
    connect(m_proper, &NumberBox::refused, this,
            [] { ShowMsg(MsgKind::入力, MsgCase::数字のみ, "適正数"); });
    for (QWidget* w : {static_cast<QWidget*>(m_code), static_cast<QWidget*>(m_name),
                       static_cast<QWidget*>(m_price), static_cast<QWidget*>(m_proper),
                       static_cast<QWidget*>(m_shelf)})
        w->installEventFilter(this);
    m_unit->installEventFilter(this);

    connect(save, &QPushButton::clicked, this, &ProductTab::Entry商品詳細);
    connect(clear, &QPushButton::clicked, this, &ProductTab::Clear商品詳細);
    connect(close, &QPushButton::clicked, this, &ProductTab::closeDetail);
    // The name is looked up when the user has changed it, not when the panel
    // was filled from the list.
    connect(m_name, &QLineEdit::textEdited, this, [this] { m_nameEdited = true; });
    connect(m_name, &QLineEdit::editingFinished, this, &ProductTab::lookUpEditedName);
    return m_panel;
}

bool ProductTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_selector && event->type() == QEvent::KeyPress) {
        const auto* k = static_cast<QKeyEvent*>(event);
        if (!k->text().isEmpty() && k->text().at(0).isPrint())
            return true;
    }
    if (watched == m_unit && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        // The box settles its completion on leaving; only then is the unit it
        // shows the one the user chose, and a new one becomes a slot.
        static_cast<QObject*>(m_unit)->event(event);
        registerUnit(m_unit->currentText());
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        const int at = m_fieldOrder.indexOf(static_cast<QWidget*>(watched));
        const bool enter = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
        if (watched == m_unit) {
            if (enter) {
                m_proper->setFocus();
                return true;
            }
        } else if (at >= 0 && (enter || k->key() == Qt::Key_Down)) {
            m_fieldOrder[at + 1]->setFocus();
            return true;
        } else if (at > 0 && k->key() == Qt::Key_Up) {
            m_fieldOrder[at - 1]->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ProductTab::registerUnit(const QString& unit) {
    const Result<bool> added = codes::autoEntry(m_store, codes::kindUnit(), unit);
    if (!added)
        ShowError(QStringLiteral("単位「%1」をコード表に登録できませんでした。").arg(unit),
                  added.error());
    else if (added.value)
        emit namesChanged();
}

void ProductTab::openDetail() {
    const QModelIndex cur = m_grid->currentIndex();
    if (cur.isValid() && !isEmptyValue(m_model->value(cur.row(), ColName))) {
        const int r = cur.row();
        m_code->setText(m_model->value(r, ColCode).toString());
        m_name->setText(m_model->value(r, ColName).toString());
        m_price->setValue(
            Currency::fromVariant(m_model->value(r, ColPrice)).value_or(Currency()).toVariant());
        m_unit->setEditText(m_model->value(r, ColUnit).toString());
        const QVariant proper = m_model->value(r, ColProper);
        m_proper->setValue(proper.isNull() ? QVariant(0) : proper);
        m_cat->setEditText(m_model->value(r, ColCategory).toString());
        m_shelf->setText(m_model->value(r, ColShelf).toString());
        showRate(m_model->value(r, ColRate));
        // The panel holds the row's product as the list read it.
        const Result<QPair<qint64, qint64>> from = readFrom(m_store, m_model->keyAt(r));
        m_readId = from ? from.value.first : 0;
        m_readVersion = from ? from.value.second : 0;
    } else {
        Clear商品詳細();
    }
    m_nameEdited = false;
    m_panel->show();
    m_name->setFocus();
}

void ProductTab::lookUpEditedName() {
    if (!m_nameEdited)
        return;
    m_nameEdited = false;
    Read商品詳細();
}

void ProductTab::openDetailForCode(const QString& code) {
    Clear商品詳細();
    m_code->setText(code);
    m_panel->show();
    m_name->setFocus();
}

void ProductTab::Read商品詳細() {
    const QString name = m_name->text();
    if (name.isEmpty())
        return;
    // Only a new product takes another's values by its name; what the user
    // filled in is never emptied by a look-up.
    const Result<std::optional<Detail>> found = lookUp商品詳細(m_store, name, m_code->text());
    if (!found) {
        emit readFailed(found.error());
        return;
    }
    if (!found.value)
        return;
    const Detail& d = *found.value;
    m_readId = d.id;
    m_readVersion = d.version;
    if (!d.unit.isEmpty())
        m_unit->setEditText(d.unit);
    if (!d.price.isZero())
        m_price->setValue(d.price.toVariant());
    if (d.proper != 0)
        m_proper->setValue(qlonglong(d.proper));
    if (!d.category.isEmpty())
        m_cat->setEditText(d.category);
    if (!d.shelf.isEmpty())
        m_shelf->setText(d.shelf);
    if (d.rate != StandardTaxRate)
        showRate(d.rate);
}

void ProductTab::showRate(const QVariant& rate) {
    const int at = m_rate->findData(isEmptyValue(rate) ? StandardTaxRate : rate.toInt());
    m_rate->setCurrentIndex(std::max(0, at));
}

void ProductTab::takeStored() {
    const Result<std::optional<Detail>> stored =
        m_readId ? readProduct(m_store, m_readId) : read商品詳細(m_store, m_name->text());
    if (!stored) {
        ShowError(QStringLiteral("商品を読み込めませんでした。"), stored.error());
        return;
    }
    const Detail d = stored.value.value_or(Detail());
    m_readId = d.id;
    m_readVersion = d.version;
    if (stored.value) {
        m_code->setText(d.code);
        m_name->setText(d.name);
    }
    m_unit->setEditText(d.unit);
    m_price->setValue(d.price.toVariant());
    m_proper->setValue(qlonglong(d.proper));
    m_cat->setEditText(d.category);
    m_shelf->setText(d.shelf);
    showRate(d.rate);
}

void ProductTab::Entry商品詳細() {
    lookUpEditedName();
    const QString code = m_code->text();
    const QString name = m_name->text();
    if (code.isEmpty() || name.isEmpty())
        return;
    if (ShowMsg(MsgKind::登録, MsgCase::確認, code + " " + name) != True)
        return;
    Detail d;
    d.code = code;
    d.name = name;
    d.unit = m_unit->currentText();
    d.price = Currency::fromVariant(m_price->value()).value_or(Currency());
    d.proper = m_proper->value().isNull() ? 0 : m_proper->value().toLongLong();
    d.category = m_cat->currentText();
    d.shelf = m_shelf->text().trimmed();
    d.rate = m_rate->currentData().toInt();
    d.id = m_readId;
    d.version = m_readVersion;
    Result<qint64> saved = entry商品詳細(m_store, d);
    if (!saved && saved.status.kind == ErrorKind::Conflict) {
        const int answer =
            AskChoice(QStringLiteral("他で変更された商品"), saved.error(),
                      {QStringLiteral("自分の内容で上書き"), QStringLiteral("相手の内容を読み込む"),
                       QStringLiteral("キャンセル")},
                      2);
        if (answer == 1) {
            takeStored();
            return;
        }
        if (answer != 0)
            return;
        saved = entry商品詳細(m_store, d, true);
    }
    if (!saved) {
        ShowError(QStringLiteral("商品 %1 を登録できませんでした。").arg(code + " " + name),
                  saved.error());
        return;
    }
    m_readVersion = saved.value;
    emit productsChanged();
    Read商品情報();
    emit statusMessage(QStringLiteral("商品 %1 を登録しました").arg(code + " " + name));
    m_grid->selectionModel()->clearCurrentIndex();
    for (int r = 0; r < m_model->rowCount(); ++r) {
        if (m_model->value(r, ColCode).toString() == code) {
            m_grid->setCurrentIndex(m_model->index(r, ColCode));
            m_grid->scrollTo(m_model->index(r, ColCode));
            break;
        }
    }
}

void ProductTab::Clear商品詳細() {
    m_nameEdited = false;
    m_readId = m_readVersion = 0;
    m_code->clear();
    m_name->clear();
    m_unit->setEditText(QString());
    m_price->setValue(0);
    m_proper->setValue(0);
    m_cat->setEditText(QString());
    m_shelf->clear();
    showRate(StandardTaxRate);
}

void ProductTab::closeDetail() {
    m_panel->hide();
    m_grid->setFocus();
}
