#include "widgets/Grids.h"

#include "base/ListFilter.h"

#include "base/StaleList.h"
#include "base/Values.h"

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

#include <algorithm>

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
    // F4 or Alt+Down opens a drop-down cell's list at once, without F2 first.
    const bool openList = event->key() == Qt::Key_F4 ||
                          (event->key() == Qt::Key_Down && event->modifiers() & Qt::AltModifier);
    if (openList && state() != EditingState && cur.isValid() &&
        (cur.flags() & Qt::ItemIsEditable) &&
        qobject_cast<ComboDelegate*>(itemDelegateForColumn(cur.column()))) {
        if (edit(cur, EditKeyPressed, event)) {
            if (auto* combo = qobject_cast<QComboBox*>(indexWidget(cur)))
                combo->showPopup();
            return;
        }
    }
    if (event->key() == Qt::Key_Delete && state() != EditingState && cur.isValid() &&
        (cur.flags() & Qt::ItemIsEditable)) {
        model()->setData(cur, QString(), Qt::EditRole);
        return;
    }
    QTableView::keyPressEvent(event);
}

QModelIndex GridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex cur = currentIndex();
    const bool forward = action == MoveRight || action == MoveNext;
    const bool back = action == MoveLeft || action == MovePrevious;
    if (m_partner && cur.isValid() && (forward || back)) {
        const int step = forward ? 1 : -1;
        const int columns = model()->columnCount();
        auto nextShown = [&](const QTableView* v) {
            int c = cur.column() + step;
            while (c >= 0 && c < columns && v->isColumnHidden(c))
                c += step;
            return c >= 0 && c < columns ? c : -1;
        };
        // At the edge of this pane the cursor goes on into the other pane.
        if (nextShown(this) < 0) {
            if (const int c = nextShown(m_partner); c >= 0)
                return model()->index(cur.row(), c);
        }
    }
    return QTableView::moveCursor(action, modifiers);
}

void GridView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // Tab out of the last cell of a pane edits the next cell in the other pane.
    if (m_partner && (hint == QAbstractItemDelegate::EditNextItem ||
                      hint == QAbstractItemDelegate::EditPreviousItem)) {
        const QModelIndex next = moveCursor(
            hint == QAbstractItemDelegate::EditNextItem ? MoveNext : MovePrevious, Qt::NoModifier);
        if (next.isValid() && isColumnHidden(next.column())) {
            QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
            selectionModel()->setCurrentIndex(next, QItemSelectionModel::ClearAndSelect);
            if (next.flags() & Qt::ItemIsEditable)
                m_partner->edit(next);
            return;
        }
    }
    QTableView::closeEditor(editor, hint);
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
    if (auto* line = qobject_cast<QLineEdit*>(e))
        line->setMaxLength(MaxTextLength);
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

namespace {
// Enter (or Tab) in an open completion list ends the cell in the same press
// with the exact match of the typed text, else the entry the user moved to,
// else the typed text. The key then goes on to the editor.
class CompletionKeys : public QObject {
  public:
    CompletionKeys(QComboBox* combo, QCompleter* completer)
        : QObject(combo), m_combo(combo), m_completer(completer) {
        completer->popup()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* k = static_cast<QKeyEvent*>(event);
        const bool enter = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
        if (!enter && k->key() != Qt::Key_Tab && k->key() != Qt::Key_Backtab)
            return false;
        QAbstractItemView* popup = m_completer->popup();
        if (!popup->isVisible())
            return false;
        const QString pick = proposal(popup);
        popup->hide();
        if (!pick.isNull())
            m_combo->setEditText(pick);
        QKeyEvent again(QEvent::KeyPress, k->key(), k->modifiers(), k->text());
        QCoreApplication::sendEvent(m_combo, &again);
        return true;
    }

  private:
    // The exact match of the typed text, else the proposal the user moved to;
    // otherwise (null) the typed text stays: a new name is never replaced by
    // the first proposal unasked.
    QString proposal(QAbstractItemView* popup) const {
        const QString typed = m_combo->currentText();
        QAbstractItemModel* m = popup->model();
        const int col = m_completer->completionColumn();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->index(r, col).data().toString() == typed)
                return typed;
        const QModelIndex pick = popup->currentIndex();
        return pick.isValid() ? m->index(pick.row(), col).data().toString() : QString();
    }
    QComboBox* m_combo;
    QCompleter* m_completer;
};

// A one-column list wide enough for its longest name.
void fitListToNames(QComboBox* combo, QAbstractItemModel* list, int column) {
    const QFontMetrics fm(combo->view()->font());
    int widest = 0;
    for (int r = 0; r < list->rowCount(); ++r)
        widest = std::max(widest, fm.horizontalAdvance(list->index(r, column).data().toString()));
    combo->view()->setMinimumWidth(widest + 4 * fm.averageCharWidth() +
                                   combo->view()->verticalScrollBar()->sizeHint().width());
}
} // namespace

ComboDelegate::ComboDelegate(QAbstractItemModel* list, int listColumn, QVector<int> tableTwips,
                             QObject* parent)
    : EnterDelegate(parent), m_list(list), m_listColumn(listColumn),
      m_tableTwips(std::move(tableTwips)) {}

ComboDelegate::ComboDelegate(ListMaker make, int listColumn, QVector<int> tableTwips,
                             QObject* parent)
    : EnterDelegate(parent), m_make(std::move(make)), m_listColumn(listColumn),
      m_tableTwips(std::move(tableTwips)) {}

std::function<EnterDelegate*(QObject*)>
ComboDelegate::factory(QAbstractItemModel* list, int listColumn, QVector<int> tableTwips) {
    return [=](QObject* parent) { return new ComboDelegate(list, listColumn, tableTwips, parent); };
}

std::function<EnterDelegate*(QObject*)> ComboDelegate::factory(ListMaker make, int listColumn,
                                                               QVector<int> tableTwips) {
    return [=](QObject* parent) { return new ComboDelegate(make, listColumn, tableTwips, parent); };
}

QWidget* ComboDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                     const QModelIndex&) const {
    if (auto* refs = dynamic_cast<StaleList*>(m_list))
        refs->ensureFresh();
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    QAbstractItemModel* list = m_make ? m_make(combo) : m_list;
    // The proposals have a list of their own, filtered as the user types,
    // so the drop-down's rows never change under the typed text.
    QAbstractItemModel* proposals = m_make ? m_make(combo) : m_list;
    combo->setModel(list);
    combo->setModelColumn(m_listColumn);
    combo->setMaxVisibleItems(16);
    // A name typed in full is kept as typed: completion only proposes.
    auto* completer = new QCompleter(proposals, combo);
    completer->setCompletionColumn(m_listColumn);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    combo->setCompleter(completer);
    // Proposals follow what is typed, input-method text included.
    // Queued: the line edit settles its own completion after reporting the edit.
    connect(
        combo->lineEdit(), &QLineEdit::textEdited, completer,
        [completer, combo, proposals] {
            const QString t = combo->currentText();
            if (!t.isEmpty() && combo->isVisible()) {
                if (auto* filter = dynamic_cast<ListFilter*>(proposals))
                    filter->filterTo(t);
                completer->setCompletionPrefix(t);
                completer->complete();
            }
        },
        Qt::QueuedConnection);
    new CompletionKeys(combo, completer);
    if (!m_tableTwips.isEmpty()) {
        auto* view = new QTableView(combo);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->verticalHeader()->hide();
        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
        combo->setView(view);
        // Wide enough for every column of the list, as its column table says.
        int total = 0;
        for (int c = 0; c < list->columnCount() && c < m_tableTwips.size(); ++c) {
            const int w = twips(view, m_tableTwips[c]);
            view->setColumnWidth(c, w);
            total += w;
        }
        view->setMinimumWidth(total + view->verticalScrollBar()->sizeHint().width() + 4);
    } else {
        fitListToNames(combo, list, m_listColumn);
    }
    combo->setAttribute(Qt::WA_InputMethodEnabled, true);
    combo->lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, true);
    combo->lineEdit()->setMaxLength(MaxTextLength);
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
    if (auto* filter = dynamic_cast<ListFilter*>(combo->model()))
        filter->startAt(text);
    combo->setCurrentIndex(text.isEmpty() ? -1 : combo->findText(text, Qt::MatchExactly));
    combo->setEditText(text);
    // As in a plain text cell: what the user types replaces the cell.
    combo->lineEdit()->selectAll();
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
    m_left->setPartner(m_right);
    m_right->setPartner(m_left);
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
    // A scroll bar under the right pane shortens it; the left pane keeps the
    // same height so the rows stay side by side at every position.
    connect(m_right->horizontalScrollBar(), &QScrollBar::rangeChanged, this,
            [this] { alignRows(); });
    connect(m_left->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& cur) { followCurrent(cur); });
    setFocusProxy(m_left);
}

void TwoPaneGrid::alignRows() {
    const bool bar = m_right->horizontalScrollBar()->maximum() > 0;
    m_left->setHorizontalScrollBarPolicy(bar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_left->verticalScrollBar()->setValue(m_right->verticalScrollBar()->value());
}

// The pane that shows the current column holds the cursor and, when the grid
// has the focus, the focus too.
void TwoPaneGrid::followCurrent(const QModelIndex& cur) {
    const int paneNo = m_leftColumns.contains(cur.column()) ? 0 : 1;
    m_currentPane = paneNo;
    GridView* v = pane(paneNo);
    GridView* other = pane(1 - paneNo);
    if (cur.isValid() && other->hasFocus()) {
        v->setFocus();
        v->scrollTo(cur);
    }
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
    v->setFocus();
    v->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
    v->scrollTo(idx);
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

void TwoPaneGrid::setColumnDelegate(int column,
                                    const std::function<EnterDelegate*(QObject*)>& make) {
    for (GridView* v : {m_left, m_right}) {
        EnterDelegate* d = make(v);
        v->setItemDelegateForColumn(column, d);
        watchDelegate(d);
    }
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
