#include "widgets/Grids.h"

#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

int twips(const QWidget* w, int tw) {
    const int dpi = w ? w->logicalDpiX() : 96;
    return tw * dpi / 1440;
}

void ImeOpen(QWidget* widget, bool open) {
    if (!widget)
        return;
    widget->setAttribute(Qt::WA_InputMethodEnabled, open);
    if (widget->hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImEnabled);
}

void GridView::applyIme(const QModelIndex& current) {
    if (imeColumns && current.isValid())
        ImeOpen(this, imeColumns(current.column()));
}

void GridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    applyIme(current);
}

void GridView::keyPressEvent(QKeyEvent* event) {
    // Delete empties the cell under the cursor, as committing an empty edit would.
    const QModelIndex cur = currentIndex();
    if (event->key() == Qt::Key_Delete && state() != EditingState && cur.isValid() &&
        (cur.flags() & Qt::ItemIsEditable)) {
        model()->setData(cur, QString(), Qt::EditRole);
        return;
    }
    QTableView::keyPressEvent(event);
}

void GridView::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    applyIme(currentIndex());
}

void setupGrid(QTableView* view) {
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    view->verticalHeader()->setMinimumSectionSize(view->fontMetrics().height() + 4);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    view->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                          QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->horizontalHeader()->setHighlightSections(false);
    view->setItemDelegate(new GridDelegate(view));
}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    // The editor sits on the view's viewport and follows the view's input method,
    // which the view sets by the column of the current cell.
    QWidget* e = QStyledItemDelegate::createEditor(parent, option, index);
    if (e && parent && parent->parentWidget())
        e->setAttribute(Qt::WA_InputMethodEnabled,
                        parent->parentWidget()->testAttribute(Qt::WA_InputMethodEnabled));
    return e;
}

bool EnterDelegate::eventFilter(QObject* object, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            auto* editor = qobject_cast<QWidget*>(object);
            if (auto* combo = qobject_cast<QComboBox*>(object))
                if (combo->view()->isVisible())
                    return QStyledItemDelegate::eventFilter(object, event);
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            emit enterCommitted();
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

ComboDelegate::ComboDelegate(QAbstractItemModel* list, int listColumn, bool table, QObject* parent)
    : EnterDelegate(parent), m_list(list), m_listColumn(listColumn), m_table(table) {}

QWidget* ComboDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                     const QModelIndex&) const {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setModel(m_list);
    combo->setModelColumn(m_listColumn);
    combo->setMaxVisibleItems(16);
    // A name typed in full is kept as typed: completion only proposes.
    auto* completer = new QCompleter(m_list, combo);
    completer->setCompletionColumn(m_listColumn);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    combo->setCompleter(completer);
    if (m_table) {
        auto* view = new QTableView(combo);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->verticalHeader()->hide();
        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
        combo->setView(view);
        // Wide enough for every column of the list.
        const int em = view->fontMetrics().horizontalAdvance(QChar(0x3042));
        const int widths[] = {6, 18, 4, 6, 5, 9};
        int total = 0;
        for (int c = 0; c < m_list->columnCount(); ++c) {
            const int w = (c < 6 ? widths[c] : 6) * em;
            view->setColumnWidth(c, w);
            total += w;
        }
        view->setMinimumWidth(total + view->verticalScrollBar()->sizeHint().width() + 4);
    }
    combo->setAttribute(Qt::WA_InputMethodEnabled, true);
    combo->lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, true);
    // Picking an entry from the list puts it into the cell at once.
    connect(combo, QOverload<int>::of(&QComboBox::activated), this, [this, combo](int) {
        emit const_cast<ComboDelegate*>(this)->commitData(combo);
        emit const_cast<ComboDelegate*>(this)->closeEditor(combo, QAbstractItemDelegate::NoHint);
    });
    return combo;
}

void ComboDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* combo = static_cast<QComboBox*>(editor);
    const QString text = index.data(Qt::EditRole).toString();
    // The list opens at the cell's entry when it has one.
    combo->setCurrentIndex(text.isEmpty() ? -1 : combo->findText(text, Qt::MatchExactly));
    combo->setEditText(text);
}

void ComboDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                 const QModelIndex& index) const {
    auto* combo = static_cast<QComboBox*>(editor);
    const QString text = combo->currentText();
    if (text != index.data(Qt::EditRole).toString())
        model->setData(index, text, Qt::EditRole);
}

TwoPaneGrid::TwoPaneGrid(QAbstractItemModel* model, QVector<int> leftColumns,
                         QVector<int> hiddenColumns, QWidget* parent)
    : QWidget(parent), m_left(new GridView(this)), m_right(new GridView(this)),
      m_leftColumns(std::move(leftColumns)) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(0);
    h->addWidget(m_left);
    h->addWidget(m_right, 1);
    for (GridView* v : {m_left, m_right}) {
        v->setModel(model);
        setupGrid(v);
        v->installEventFilter(this);
        v->viewport()->installEventFilter(this);
    }
    m_right->setSelectionModel(m_left->selectionModel());
    watchDelegate(static_cast<EnterDelegate*>(m_left->itemDelegate()));
    watchDelegate(static_cast<EnterDelegate*>(m_right->itemDelegate()));
    m_left->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_left->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_left->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_right->verticalHeader()->hide();
    m_right->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    for (int c = 0; c < model->columnCount(); ++c) {
        const bool left = m_leftColumns.contains(c);
        const bool hidden = hiddenColumns.contains(c);
        m_left->setColumnHidden(c, hidden || !left);
        m_right->setColumnHidden(c, hidden || left);
    }
    m_left->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Room for "500" and more, so the numbers never push the columns sideways.
    m_left->verticalHeader()->setFixedWidth(m_left->fontMetrics().horizontalAdvance("0000") + 8);
    // The left pane never scrolls sideways, whatever cell is shown.
    connect(m_left->horizontalScrollBar(), &QScrollBar::valueChanged, m_left, [this](int v) {
        if (v != 0)
            m_left->horizontalScrollBar()->setValue(0);
    });
    // Rows scroll together whichever pane moves them.
    connect(m_right->verticalScrollBar(), &QScrollBar::valueChanged, m_left->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(m_left->verticalScrollBar(), &QScrollBar::valueChanged, m_right->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(m_left->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& cur) {
                m_currentPane = m_leftColumns.contains(cur.column()) ? 0 : 1;
                emit currentCellChanged(cur);
            });
    setFocusProxy(m_left);
}

QModelIndex TwoPaneGrid::currentIndex() const {
    return m_left->selectionModel()->currentIndex();
}

void TwoPaneGrid::setCurrent(int paneNo, int row, int column) {
    QTableView* v = pane(paneNo);
    const QModelIndex idx = v->model()->index(row, column);
    if (!idx.isValid())
        return;
    m_currentPane = paneNo;
    v->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
    v->scrollTo(idx);
    v->setFocus();
}

void TwoPaneGrid::setColumnWidth(int column, int px) {
    m_left->setColumnWidth(column, px);
    m_right->setColumnWidth(column, px);
}

// The grid's own Enter: on to the next shown cell of the line.
void TwoPaneGrid::moveToNextCell() {
    const QModelIndex cur = currentIndex();
    QTableView* v = pane(m_currentPane);
    for (int c = cur.column() + 1; c < v->model()->columnCount(); ++c) {
        if (!v->isColumnHidden(c)) {
            setCurrent(m_currentPane, cur.row(), c);
            return;
        }
    }
}

void TwoPaneGrid::watchDelegate(EnterDelegate* d) {
    connect(d, &EnterDelegate::enterCommitted, this, [this] {
        if (!onEnter || !onEnter(currentIndex()))
            moveToNextCell();
    });
}

void TwoPaneGrid::setColumnDelegate(int column, EnterDelegate* delegate) {
    m_left->setItemDelegateForColumn(column, delegate);
    m_right->setItemDelegateForColumn(column, delegate);
    watchDelegate(delegate);
}

void TwoPaneGrid::fitLeftPane() {
    int w = m_left->verticalHeader()->width() + 2 * m_left->frameWidth();
    for (int c : m_leftColumns)
        w += m_left->columnWidth(c);
    m_left->setFixedWidth(w);
}

bool TwoPaneGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_left || watched == m_right)
            m_currentPane = watched == m_left ? 0 : 1;
    }
    if (event->type() == QEvent::KeyPress && (watched == m_left || watched == m_right)) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            if (!onEnter || !onEnter(currentIndex()))
                moveToNextCell();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
