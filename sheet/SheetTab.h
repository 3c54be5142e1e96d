#pragma once

#include "app/RefModels.h"
#include "app/WorkResets.h"
#include "sheet/SheetOps.h"

#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class DateBox;
class NumberBox;
class TwoPaneGrid;
class WorkTableModel;

// The tab "在庫表": one dated inventory sheet being counted.
class SheetTab : public QWidget {
    Q_OBJECT
  public:
    SheetTab(Store& store, const RefModels& refs, QWidget* parent = nullptr);

    // Set by the main window: show rebuilt selectors and reference lists.
    std::function<void(const resets::CombLists&)> showComb;
    // Set by the main window: print the sheet.
    std::function<void()> print;

    void Clear在庫表();
    void Read在庫表();
    void Entry在庫表();
    void Delete在庫表();
    void LineDelete在庫表();
    void Read商品マスタto在庫表();
    void Calc明細();

    QComboBox* categoryBox() const { return m_category; }
    DateBox* dateBox() const { return m_date; }
    NumberBox* totalBox() const { return m_total; }
    WorkTableModel* model() const { return m_model; }
    TwoPaneGrid* grid() const { return m_grid; }
    QPushButton* hintButton() const { return m_hint; }

  private:
    void afterEdit(int row, int column);
    bool enterKey(const QModelIndex& index);
    bool requireDate();
    void toFirstLine();
    void refreshGrid();
    void setProgress(int value);

    Store& m_store;
    RefModels m_refs;
    WorkTableModel* m_model;
    TwoPaneGrid* m_grid;
    DateBox* m_date;
    QComboBox* m_category;
    NumberBox* m_total;
    QProgressBar* m_bar;
    QPushButton* m_hint;
};
