#include "app/HelpWindow.h"

#include "widgets/Controls.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("dlgヘルプ");
    setWindowTitle(QStringLiteral("Stolva の使い方"));
    setModal(false);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName("txtヘルプ");
    m_browser->setOpenExternalLinks(true);
    m_browser->setSearchPaths({QStringLiteral(":/guide")});
    m_browser->setSource(QUrl(QStringLiteral("qrc:/guide/使い方.md")),
                         QTextDocument::MarkdownResource);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(m_browser);
    fitToScreen(this, QSize(820, 900));
}
