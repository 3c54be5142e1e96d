#pragma once

#include <QStyledItemDelegate>
#include <QTableView>
#include <QVector>
#include <functional>

class QAbstractItemModel;

// Twips (1/1440 inch) to pixels at the widget's logical DPI.
int twips(const QWidget* w, int tw);

// Opens (true) or closes (false) the input method on a widget.
void ImeOpen(QWidget* widget, bool open);

// A grid view whose input method follows the column of the current cell
// (the view itself would open it in every editable cell).
class GridView : public QTableView {
    Q_OBJECT
  public:
    using QTableView::QTableView;
    std::function<bool(int column)> imeColumns;

    // The other pane of a two-pane grid: the cursor crosses into it at the
    // edge of this pane's columns (arrows, Tab, Shift+Tab).
    void setPartner(GridView* partner) { m_partner = partner; }

  protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

  private:
    void applyIme(const QModelIndex& current);
    GridView* m_partner = nullptr;
};

// Common look of the ledger's grids: fixed row height, no new-row line,
// editing by typing, F2 or double-click.
void setupGrid(QTableView* view);

// Base of the grid editors: Enter commits the cell, closes the editor and is
// then reported, so the grid's owner can steer the cursor.
class EnterDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  signals:
    void enterCommitted();

  protected:
    bool eventFilter(QObject* editor, QEvent* event) override;
};

// An in-cell drop-down: an editable combo box over a reference list; the typed
// or picked text goes into the cell. Given the widths of its columns (twips),
// the list is a table with headers.
class ComboDelegate : public EnterDelegate {
    Q_OBJECT
  public:
    ComboDelegate(QAbstractItemModel* list, int listColumn, QVector<int> tableTwips = {},
                  QObject* parent = nullptr);
    // A list too long to share: each editor makes its own two (its drop-down
    // and its proposals), filtered as the user types when they are ListFilters.
    using ListMaker = std::function<QAbstractItemModel*(QObject* parent)>;
    ComboDelegate(ListMaker make, int listColumn, QVector<int> tableTwips = {},
                  QObject* parent = nullptr);
    // Makes one delegate per view (a delegate serves the editors of one view).
    static std::function<EnterDelegate*(QObject*)> factory(QAbstractItemModel* list, int listColumn,
                                                           QVector<int> tableTwips = {});
    static std::function<EnterDelegate*(QObject*)> factory(ListMaker make, int listColumn,
                                                           QVector<int> tableTwips = {});
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

  private:
    QAbstractItemModel* m_list = nullptr;
    ListMaker m_make;
    int m_listColumn;
    QVector<int> m_tableTwips;
};

// The editors of a grid: Enter is reported to the grid's owner after the cell
// is committed, so it can steer the cursor; the input method follows the column.
class GridDelegate : public EnterDelegate {
    Q_OBJECT
  public:
    explicit GridDelegate(QObject* parent = nullptr) : EnterDelegate(parent) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
};

// The sheet grid: two panes over one model and one selection model. The left
// pane holds the code and name and never scrolls sideways; the right pane holds
// the rest and scrolls; both scroll their rows together.
class TwoPaneGrid : public QWidget {
    Q_OBJECT
  public:
    TwoPaneGrid(QAbstractItemModel* model, QVector<int> leftColumns, QVector<int> hiddenColumns,
                QWidget* parent = nullptr);
    GridView* pane(int n) const { return n == 0 ? m_left : m_right; }
    // The pane that holds (or last held) the cursor: 0 left, 1 right.
    int currentPane() const { return m_currentPane; }
    QModelIndex currentIndex() const;
    // Moves the cursor into a pane and column of a row and gives that pane the focus.
    void setCurrent(int paneNo, int row, int column);
    void setColumnWidth(int column, int px);
    // Each pane gets its own delegate from make(parent), so each owns its editors.
    void setColumnDelegate(int column, const std::function<EnterDelegate*(QObject*)>& make);
    // Called on Enter (editing or not) with the cell; true when handled.
    std::function<bool(const QModelIndex&)> onEnter;
    void fitLeftPane();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void watchDelegate(EnterDelegate* d);
    void moveToNextCell();
    void followCurrent(const QModelIndex& cur);
    void alignRows();
    GridView* m_left;
    GridView* m_right;
    QVector<int> m_leftColumns;
    int m_currentPane = 0;
};
