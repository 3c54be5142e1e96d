#include "app/HelpWindow.h"

#include "widgets/Controls.h"

#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

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
    fitPictures(760);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(m_browser);
    fitToScreen(this, QSize(820, 900));
}

void HelpWindow::fitPictures(int width) {
    // A screenshot is as wide as the window: the page reads without scrolling sideways.
    QTextCursor cursor(m_browser->document());
    for (QTextBlock b = m_browser->document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            QTextImageFormat image = f.charFormat().toImageFormat();
            if (!image.isValid())
                continue;
            const QImage picture = qvariant_cast<QImage>(
                m_browser->document()->resource(QTextDocument::ImageResource, image.name()));
            if (picture.isNull() || picture.width() <= width)
                continue;
            image.setWidth(width);
            image.setHeight(double(picture.height()) * width / picture.width());
            cursor.setPosition(f.position());
            cursor.setPosition(f.position() + f.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
}

void HelpWindow::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    fitPictures(std::max(320, m_browser->viewport()->width() - 40));
}
