#pragma once

#include <QDialog>

class QTextBrowser;

// The guide in Japanese (docs/使い方.md, built into the program so that it
// opens without a network), in a window of its own beside the ledger.
class HelpWindow : public QDialog {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* parent = nullptr);
    QTextBrowser* browser() const { return m_browser; }

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    void fitPictures(int width);
    QTextBrowser* m_browser;
};
