#pragma once

#include "report/Report.h"

class QFontMetricsF;
class QPainter;
class QPagedPaintDevice;

// Painting laid-out report pages on a printer, a PDF or the screen.
namespace report {

// The text as painted into a box `width` wide: elided with "…" when too long.
QString fittedText(const QString& text, const QFontMetricsF& metrics, double width);
// Paints one page; `scale` is device pixels per twip.
void paint(const Page& page, QPainter& painter, double scale);
// Paints every page on a paged device (a printer or a PDF writer); false when
// the device could not be painted on.
bool paintAll(const QVector<Page>& pages, QPagedPaintDevice& device);
// Writes the pages as a PDF file.
// Written whole: a failure (a full disk) keeps the old file; error says why.
bool writePdf(const QVector<Page>& pages, const QString& path, const QString& title,
              QString* error = nullptr);

} // namespace report
