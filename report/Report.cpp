#include "report/Report.h"

#include "base/Values.h"

namespace report {

Item item(ItemKind kind, const QString& name, const QString& text, int left, int top, int width,
          int height, Qt::Alignment align, double fontPt, bool bold) {
    Item i;
    i.kind = kind;
    i.name = name;
    i.text = text;
    i.left = left;
    i.top = top;
    i.width = width;
    i.height = height;
    i.align = align;
    i.fontPt = fontPt;
    i.bold = bold;
    return i;
}

Item label(const QString& name, const QString& text, int left, int top, int width, int height,
           Qt::Alignment align, double fontPt, bool bold) {
    return item(ItemKind::Label, name, text, left, top, width, height, align, fontPt, bold);
}

Item field(const QString& name, const QString& f, const QString& format, int left, int top,
           int width, int height, Qt::Alignment align) {
    Item i = item(ItemKind::Field, name, QString(), left, top, width, height, align, 10);
    i.field = f;
    i.format = format;
    return i;
}

Item rule(const QString& name, int left, int top, int right) {
    return item(ItemKind::Line, name, QString(), left, top, right - left, 0);
}

QStringList boundFields(const Definition& def) {
    QStringList fields;
    if (!def.groupField.isEmpty())
        fields << def.groupField;
    for (const Section* sec : {&def.pageHeader, &def.groupHeader, &def.detail, &def.pageFooter})
        for (const Item& i : sec->items)
            if (i.kind == ItemKind::Field && !fields.contains(i.field))
                fields << i.field;
    return fields;
}

QString fieldText(const QVariant& value, const QString& format) {
    if (!format.isEmpty())
        return formatNumber(value, format);
    return value.isNull() ? QString() : value.toString();
}

namespace {
void place(Page& page, const Section& s, int top, int left, const RowValues* row) {
    for (const Item& it : s.items) {
        if (!it.visible)
            continue;
        Placed p{it.name,   it.kind,  QRect(left + it.left, top + it.top, it.width, it.height),
                 QString(), it.align, it.fontPt,
                 it.bold};
        switch (it.kind) {
        case ItemKind::Label:
        case ItemKind::TextBox:
            p.text = it.text;
            break;
        case ItemKind::Field:
            p.text = row ? fieldText(row->value(it.field), it.format) : QString();
            break;
        case ItemKind::PageNumber:
            p.text = QString::number(page.number);
            break;
        case ItemKind::Line:
        case ItemKind::Box:
        case ItemKind::Picture:
            break;
        }
        page.items.append(std::move(p));
    }
}
} // namespace

QVector<Page> layout(const Definition& def, const QVector<RowValues>& rows) {
    QVector<Page> pages;
    const int bodyTop = def.marginTop;
    const int bodyBottom = def.paperHeight - def.marginBottom - def.pageFooter.height;
    // A page's items as a full page of rows has them (group headings aside).
    const qsizetype itemsPerPage =
        def.pageHeader.items.size() + def.pageFooter.items.size() +
        (def.detail.height > 0 ? (bodyBottom - bodyTop) / def.detail.height : 1) *
            def.detail.items.size();
    auto newPage = [&] {
        Page p;
        p.number = int(pages.size()) + 1;
        p.items.reserve(itemsPerPage);
        place(p, def.pageHeader, bodyTop, def.marginLeft, nullptr);
        pages.append(p);
        return bodyTop + def.pageHeader.height;
    };
    auto closePage = [&] {
        place(pages.last(), def.pageFooter, bodyBottom, def.marginLeft, nullptr);
    };
    int y = newPage();
    QVariant group;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const RowValues& row = rows[i];
        const bool heads =
            !def.groupField.isEmpty() && (i == 0 || row.value(def.groupField) != group);
        const int block = def.detail.height + (heads ? def.groupHeader.height : 0);
        // A block (a heading with its first row) never breaks across pages.
        if (y + block > bodyBottom && y > bodyTop + def.pageHeader.height) {
            closePage();
            y = newPage();
        }
        if (heads) {
            group = row.value(def.groupField);
            place(pages.last(), def.groupHeader, y, def.marginLeft, &row);
            y += def.groupHeader.height;
        }
        place(pages.last(), def.detail, y, def.marginLeft, &row);
        y += def.detail.height;
    }
    closePage();
    return pages;
}

} // namespace report
