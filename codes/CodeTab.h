#pragma once

#include "codes/CodeOps.h"

#include "store/Store.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QRadioButton;
class QTableView;
class QVBoxLayout;
class WorkTableModel;

// The tab "設定・情報": the slot editor of the code master, erasing all data,
// and the program's information.
class CodeTab : public QWidget {
    Q_OBJECT
  public:
    explicit CodeTab(Store& store, QWidget* parent = nullptr);

    void Clearコード表();
    void Readコード表();
    void Entryコード();
    // The kind the option buttons choose: "商品区分" or "単位".
    QString kind() const;

    WorkTableModel* model() const { return m_model; }
    // The program's information and the support notice.
    void setProgramInfo(const QString& info, const QString& support);
    // A section of the settings column, above erasing all data.
    void addSection(QWidget* section);
    // A section under the slot list (the left column), where there is room.
    void addSectionBelowSlots(QWidget* section);

  signals:
    // ヘルプ: the guide is wanted.
    void guideRequested();
    // The slots changed: every list of names is out of date.
    void namesChanged();
    void statusMessage(const QString& text);
    void hintRequested(const QString& ctlName);
    // 実行 beside "すべてのデータを削除し初期状態に戻す" was pressed.
    void eraseRequested();

  private:
    void refreshGrid();
    Store& m_store;
    WorkTableModel* m_model;
    QTableView* m_grid;
    QRadioButton* m_optCategory;
    QRadioButton* m_optUnit;
    QLabel* m_info;
    QLabel* m_support;
    QVBoxLayout* m_right;
    QVBoxLayout* m_left;
    // The kind and names the editor last read; none after クリア.
    std::optional<QPair<QString, codes::SlotNames>> m_read;
};
