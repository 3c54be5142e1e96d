#pragma once

#include "sheet/Scan.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;

// The scan box above the sheet: what a barcode scanner types (F8 reaches it
// from anywhere on the tab), the misreads of the session and the codes that
// wait for a product. Counting itself is the sheet's.
class ScanPanel : public QWidget {
    Q_OBJECT
  public:
    ScanPanel(Store& store, QWidget* parent);
    // A code no product has waits in the list with its count.
    void wait(const QString& code, qint64 count);
    // The waiting codes that now have a product, taken out of the list.
    QVector<QPair<QString, qint64>> takeKnown();
    // A new sheet starts with no waiting scans.
    void forget();
    int waiting() const { return int(m_session.waiting().size()); }
    // Scans go straight into the saved count (chk直接記録), no 登録 needed.
    bool direct() const;

  signals:
    void countRequested(const QString& code, qint64 count);
    // The user asked to register a scanned code that no product has.
    void registerCodeRequested(const QString& code);
    void statusMessage(const QString& text);

  private:
    void entered();
    void showWaiting();
    Store& m_store;
    sheet::ScanSession m_session;
    QLineEdit* m_box;
    QLabel* m_misreads;
    QListWidget* m_waiting;
    QCheckBox* m_direct;
};
