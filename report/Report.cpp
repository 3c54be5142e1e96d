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
// Where each item of a section finds its field in a row, worked out again
// only when a row's fields are not those of the row before.
class FieldPlaces {
  public:
    explicit FieldPlaces(const Section& s) : m_section(s) {}
    const std::vector<int>& of(const RowValues& row) {
        if (m_at.empty() || row.fields() != m_fields) {
            m_fields = row.fields();
            m_at.clear();
            for (const Item& it : m_section.items)
                m_at.push_back(it.kind == ItemKind::Field ? row.indexOf(it.field) : -1);
        }
        return m_at;
    }

  private:
    const Section& m_section;
    RowValues::Fields m_fields;
    std::vector<int> m_at;
};

void place(Page& page, const Section& s, int top, int left, const RowValues* row,
           FieldPlaces* places = nullptr) {
    const std::vector<int>* at = row && places ? &places->of(*row) : nullptr;
    for (qsizetype n = 0; n < s.items.size(); ++n) {
        const Item& it = s.items[n];
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
            if (at)
                p.text = (*at)[n] < 0 ? QString() : fieldText(row->at((*at)[n]), it.format);
            else if (row)
                p.text = fieldText(row->value(it.field), it.format);
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
    FieldPlaces detailPlaces(def.detail), headerPlaces(def.groupHeader);
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
            place(pages.last(), def.groupHeader, y, def.marginLeft, &row, &headerPlaces);
            y += def.groupHeader.height;
        }
        place(pages.last(), def.detail, y, def.marginLeft, &row, &detailPlaces);
        y += def.detail.height;
    }
    closePage();
    return pages;
}

} // namespace report
