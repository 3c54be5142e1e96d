#pragma once

#include "products/ProductOps.h"
#include "products/ProductReport.h"
#include "work/RefModels.h"
#include "work/WorkResets.h"

#include <QWidget>
#include <functional>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableView;
class GridView;
class NumberBox;

// The tab "商品情報": the product list and the product detail panel.
class ProductTab : public QWidget {
    Q_OBJECT
  public:
    ProductTab(Store& store, const RefModels& refs, QWidget* parent = nullptr);

    // True when the list has no unsaved edits or the user agrees to lose them.
    bool confirmDiscard();

    void Read商品情報();
    void Entry商品情報();
    void Clear商品情報();
    void LineDelete商品情報();
    void openDetail();
    // Opens an empty detail panel with the code filled in, to register it.
    void openDetailForCode(const QString& code);
    void Read商品詳細();
    // The product the panel read, as stored now (the answer 相手の内容を読み込む).
    void takeStored();
    void Entry商品詳細();
    void Clear商品詳細();
    void closeDetail();
    // The list as shown to a CSV file the user names.
    void exportCsv();
    // Products from a CSV file into the master, after a preview.
    void importCsv();

    // The category and unit names to offer; with keepChoices each box keeps
    // what it shows. A unit typed in the panel is kept either way.
    void setNameLists(const resets::CombLists& lists, bool keepChoices);
    // The list as edited, headed by the panel's category.
    void print();
    // The category the last list report was headed with.
    QString PrintCategory;
    WorkTableModel* model() const { return m_model; }

  signals:
    // The code or product master changed: every list of names is out of date.
    void namesChanged();
    // The product master changed (and with it perhaps the names).
    void productsChanged();
    // The list report laid out, to show in the print preview.
    void printoutReady(const report::Printout& printout);
    void hintRequested(const QString& ctlName);
    // One line on what an action did, for the status bar.
    void statusMessage(const QString& text);
    // A read failed where no dialog is shown (a look-up while typing).
    void readFailed(const QString& error);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void refreshGrid();
    void registerUnit(const QString& unit);
    void lookUpEditedName();
    QWidget* buildDetailPanel();

    Store& m_store;
    RefModels m_refs;
    WorkTableModel* m_model;
    GridView* m_grid;
    QComboBox* m_selector;
    QGroupBox* m_panel;
    QLineEdit* m_code;
    QLineEdit* m_name;
    QComboBox* m_unit;
    NumberBox* m_price;
    NumberBox* m_proper;
    QComboBox* m_cat;
    QLineEdit* m_shelf;
    QComboBox* m_rate;
    // The panel's 税率 as stored (empty: the standard rate).
    void showRate(const QVariant& rate);
    QVector<QWidget*> m_fieldOrder;
    bool m_dirty = false;      // a list cell was committed since the last read or register
    bool m_nameEdited = false; // txt品名 changed by the user since filled or looked up
    // The product the detail panel read, and its version then.
    qint64 m_readId = 0, m_readVersion = 0;
};
