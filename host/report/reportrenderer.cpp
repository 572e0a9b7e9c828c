#include "report/reportrenderer.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>

#include "report/reportformat.h"

namespace host {

namespace {

// A group's key as its heading and subtotal show it.
QString groupKeyText(const ReportGroup& g, const ReportSectionData& data, int row, int keyField,
                     int kindField, int nameField) {
    const QString key = data.value(row, keyField).toString();
    QString shown;
    if (g.format == ColumnFormat::Registration) {
        shown = reportformat::registration(
            key, kindField < 0 ? QString() : data.value(row, kindField).toString());
    } else {
        shown = g.labels.value(key.trimmed(), key);
    }
    if (nameField >= 0) {
        shown = QStringLiteral("%1 - %2").arg(shown, data.value(row, nameField).toString());
    }
    return shown;
}

QString countText(int n) {
    return n == 1 ? QStringLiteral("1 registro") : QStringLiteral("%1 registros").arg(n);
}

}  // namespace

// Sizes in device pixels for one device.
struct ReportRenderer::Metrics {
    QRectF page;      // the printable area, origin at the painter's (0, 0)
    double line = 0;  // a row, a group line, a total line
    double titleLine = 0;
    double smallLine = 0;
    double pad = 0;  // space between a cell's text and its edges
    double criteriaHeight = 0;
    double bodyTop = 0;
    double bodyBottom = 0;
    // Left edge and width of each column, per section.
    std::vector<std::vector<std::pair<double, double>>> columns;
};

// Where the walk's lines go: painted on a painter, or only counted.
struct ReportRenderer::Sink {
    QPainter* painter = nullptr;
    QPagedPaintDevice* device = nullptr;
    int pages = 0;       // pages started so far
    int totalPages = 0;  // known in the painting pass
    Progress progress;
    bool stopped = false;
};

ReportRenderer::ReportRenderer(const ReportResult& result) : m_result(result) {
    // Without shaping, Latin text is laid out glyph by glyph: no "fi" ligature that a reader
    // of the PDF would copy out as one odd character, and less work per cell.
    m_body = QFont(QStringLiteral("DejaVu Sans"));
    m_body.setStyleStrategy(QFont::PreferNoShaping);
    m_body.setPointSizeF(7.5);
    m_bold = m_body;
    m_bold.setBold(true);
    m_title = m_body;
    m_title.setPointSizeF(12);
    m_title.setBold(true);
    m_small = m_body;
    m_small.setPointSizeF(7);
}

ReportRenderer::Metrics ReportRenderer::metricsFor(QPagedPaintDevice& device) const {
    Metrics m;
    const QRect paint = device.pageLayout().paintRectPixels(device.logicalDpiX());
    m.page = QRectF(0, 0, paint.width(), paint.height());
    const QFontMetricsF body(m_body, &device), title(m_title, &device), small(m_small, &device);
    m.line = body.height() * 1.35;
    m.titleLine = title.height() * 1.5;
    m.smallLine = small.height() * 1.3;
    m.pad = body.averageCharWidth() * 0.5;
    m.criteriaHeight = m_result.criteria.isEmpty()
                           ? 0
                           : small
                                 .boundingRect(QRectF(0, 0, m.page.width(), 1e6), Qt::TextWordWrap,
                                               m_result.criteria)
                                 .height();
    m.bodyTop = m.smallLine + m.titleLine + m.criteriaHeight + m.smallLine * 0.6;
    m.bodyBottom = m.page.height() - m.smallLine * 1.6;
    for (const ReportSection& sec : m_result.definition.sections) {
        double total = 0;
        for (const ReportColumn& c : sec.columns) {
            total += c.width;
        }
        std::vector<std::pair<double, double>> cols;
        double x = 0;
        for (const ReportColumn& c : sec.columns) {
            const double w = m.page.width() * c.width / total;
            cols.emplace_back(x, w);
            x += w;
        }
        m.columns.push_back(std::move(cols));
    }
    return m;
}

int ReportRenderer::countPages(QPagedPaintDevice& device) {
    Sink sink;
    sink.device = &device;
    walk(sink, metricsFor(device));
    return sink.pages;
}

bool ReportRenderer::paint(QPainter& painter, QPagedPaintDevice& device, const Progress& progress) {
    const Metrics m = metricsFor(device);
    Sink counter;
    counter.device = &device;
    walk(counter, m);
    Sink sink;
    sink.painter = &painter;
    sink.device = &device;
    sink.totalPages = counter.pages;
    sink.progress = progress;
    return walk(sink, m);
}

bool ReportRenderer::walk(Sink& sink, const Metrics& m) {
    const ReportResult& r = m_result;
    QPainter* p = sink.painter;
    double y = m.bodyBottom + 1;  // the first line starts a page
    int headerSection = -1;       // the section whose column heading a new page repeats

    const auto text = [p](const QRectF& rect, int flags, const QString& s) {
        p->drawText(rect, flags | Qt::TextSingleLine, s);
    };
    // A cell: cut to its width with an ellipsis when it does not fit, drawn at its baseline
    // (a rectangle would send every cell through the text layout, the costliest part of a
    // long report).
    const QFontMetricsF bodyMetrics(m_body, sink.device), boldMetrics(m_bold, sink.device);
    const auto cellText = [&](const QFont& font, double x, double w, double top, double h,
                              Qt::Alignment align, const QString& s) {
        if (s.isEmpty()) {
            return;
        }
        const QFontMetricsF& fm = &font == &m_bold ? boldMetrics : bodyMetrics;
        const double room = w - 2 * m.pad;
        double width = fm.horizontalAdvance(s);
        QString shown = s;
        if (width > room) {
            shown = fm.elidedText(s, Qt::ElideRight, room);
            width = fm.horizontalAdvance(shown);
        }
        double left = x + m.pad;
        if (align & Qt::AlignRight) {
            left = x + w - m.pad - width;
        } else if (align & Qt::AlignHCenter) {
            left = x + (w - width) / 2;
        }
        p->drawText(QPointF(left, top + (h - fm.height()) / 2 + fm.ascent()), shown);
    };

    const auto columnHeading = [&](int si) {
        const ReportSection& sec = r.definition.sections[size_t(si)];
        if (p) {
            p->setFont(m_bold);
            for (int c = 0; c < sec.columns.size(); ++c) {
                const auto [x, w] = m.columns[size_t(si)][size_t(c)];
                cellText(m_bold, x, w, y, m.line, sec.columns[c].align, sec.columns[c].caption);
            }
            p->drawLine(QPointF(0, y + m.line), QPointF(m.page.width(), y + m.line));
            p->setFont(m_body);
        }
        y += m.line * 1.1;
    };

    const auto endPage = [&]() {
        if (sink.pages == 0) {
            return;
        }
        if (p) {
            p->setFont(m_small);
            const double top = m.page.height() - m.smallLine * 1.2;
            p->drawLine(QPointF(0, top - m.smallLine * 0.2),
                        QPointF(m.page.width(), top - m.smallLine * 0.2));
            text(QRectF(0, top, m.page.width(), m.smallLine), Qt::AlignLeft | Qt::AlignVCenter,
                 r.footerText());
            text(QRectF(0, top, m.page.width(), m.smallLine), Qt::AlignRight | Qt::AlignVCenter,
                 r.definition.code);
            if (sink.progress && !sink.progress(sink.pages, sink.totalPages)) {
                sink.stopped = true;
            }
        }
    };

    const auto startPage = [&]() {
        endPage();
        if (sink.stopped) {
            return false;
        }
        if (p && sink.pages > 0) {
            sink.device->newPage();
        }
        ++sink.pages;
        if (p) {
            p->setFont(m_small);
            const QRectF top(0, 0, m.page.width(), m.smallLine);
            text(top, Qt::AlignLeft | Qt::AlignVCenter, r.company);
            text(top, Qt::AlignRight | Qt::AlignVCenter,
                 QStringLiteral("Página %1 de %2").arg(sink.pages).arg(sink.totalPages));
            p->setFont(m_title);
            text(QRectF(0, m.smallLine, m.page.width(), m.titleLine), Qt::AlignCenter,
                 r.definition.title);
            p->setFont(m_small);
            if (!r.criteria.isEmpty()) {
                p->drawText(QRectF(0, m.smallLine + m.titleLine, m.page.width(), m.criteriaHeight),
                            Qt::AlignLeft | Qt::TextWordWrap, r.criteria);
            }
            const double rule = m.bodyTop - m.smallLine * 0.3;
            p->drawLine(QPointF(0, rule), QPointF(m.page.width(), rule));
            p->setFont(m_body);
        }
        y = m.bodyTop;
        if (headerSection >= 0) {
            columnHeading(headerSection);
        }
        return true;
    };

    // Makes room for h below y, starting a page when the current one has not got it.
    const auto room = [&](double h) {
        if (y + h <= m.bodyBottom) {
            return true;
        }
        return startPage();
    };

    // A line of a group subtotal or of the totals: the text, then the sums under their columns.
    const auto sumLine = [&](int si, const QString& label, const std::vector<double>& sums,
                             const QStringList& fields) {
        if (!room(m.line)) {
            return false;
        }
        if (p) {
            const ReportSection& sec = r.definition.sections[size_t(si)];
            p->setFont(m_bold);
            double labelEnd = m.page.width();
            for (int c = 0; c < sec.columns.size(); ++c) {
                const int k = fields.indexOf(sec.columns[c].field);
                if (k < 0) {
                    continue;
                }
                const auto [x, w] = m.columns[size_t(si)][size_t(c)];
                labelEnd = std::min(labelEnd, x);
                const double v = sums[size_t(k)];
                cellText(m_bold, x, w, y, m.line, Qt::AlignRight,
                         sec.columns[c].format == ColumnFormat::Integer
                             ? QString::number(qRound64(v))
                             : reportformat::money(v));
            }
            cellText(m_bold, 0, labelEnd, y, m.line, Qt::AlignLeft, label);
            p->setFont(m_body);
        }
        y += m.line;
        return true;
    };

    for (int si = 0; si < int(r.sections.size()); ++si) {
        const ReportSection& sec = r.definition.sections[size_t(si)];
        const ReportSectionData& data = r.sections[size_t(si)];
        headerSection = -1;
        if (si > 0) {
            y += m.line * 0.8;
        }
        // A section's title and heading never end a page without a row under them.
        const double heading = (sec.title.isEmpty() ? 0 : m.line * 1.2) + m.line * 2.1;
        if (!room(heading)) {
            return false;
        }
        if (!sec.title.isEmpty()) {
            if (p) {
                p->setFont(m_bold);
                text(QRectF(0, y, m.page.width(), m.line * 1.2), Qt::AlignLeft | Qt::AlignVCenter,
                     sec.title);
                p->setFont(m_body);
            }
            y += m.line * 1.2;
        }
        columnHeading(si);
        headerSection = si;

        std::vector<int> colField, kindField;
        for (const ReportColumn& c : sec.columns) {
            colField.push_back(data.fieldIndex(c.field));
            kindField.push_back(c.kindField.isEmpty() ? -1 : data.fieldIndex(c.kindField));
        }
        const int levels = int(sec.groups.size());
        std::vector<int> groupField;
        std::vector<std::vector<int>> groupSumField;
        for (const ReportGroup& g : sec.groups) {
            groupField.push_back(data.fieldIndex(g.field));
            std::vector<int> f;
            for (const QString& s : g.sums) {
                f.push_back(data.fieldIndex(s));
            }
            groupSumField.push_back(std::move(f));
        }
        std::vector<int> totalSumField;
        for (const QString& s : sec.totals.sums) {
            totalSumField.push_back(data.fieldIndex(s));
        }
        std::vector<QString> keys(static_cast<size_t>(levels));
        std::vector<int> counts(static_cast<size_t>(levels), 0);
        std::vector<std::vector<double>> sums(static_cast<size_t>(levels));
        std::vector<double> totals(totalSumField.size(), 0.0);

        std::vector<int> groupKind, groupName;
        for (const ReportGroup& g : sec.groups) {
            groupKind.push_back(g.kindField.isEmpty() ? -1 : data.fieldIndex(g.kindField));
            groupName.push_back(g.nameField.isEmpty() ? -1 : data.fieldIndex(g.nameField));
        }
        // What a group starting at row is called in its heading and its subtotal.
        std::vector<QString> titles(static_cast<size_t>(levels));
        const auto groupTitle = [&](int level, int row) {
            return groupKeyText(sec.groups[level], data, row, groupField[size_t(level)],
                                groupKind[size_t(level)], groupName[size_t(level)]);
        };
        const auto closeGroups = [&](int downTo) {
            for (int level = levels - 1; level >= downTo; --level) {
                const ReportGroup& g = sec.groups[level];
                QString label = QStringLiteral("Total de %1").arg(titles[size_t(level)]);
                if (g.count) {
                    label += QStringLiteral(" (%1)").arg(countText(counts[size_t(level)]));
                }
                if (!sumLine(si, label, sums[size_t(level)], g.sums)) {
                    return false;
                }
            }
            return true;
        };

        const int rows = data.rowCount();
        if (rows == 0) {
            if (!room(m.line)) {
                return false;
            }
            if (p) {
                text(QRectF(0, y, m.page.width(), m.line), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Nenhum registro encontrado."));
            }
            y += m.line;
        }
        for (int row = 0; row < rows; ++row) {
            // A group is the run of rows that show the same heading, so codes a definition
            // labels alike ("2" and "3" of one colour) print as one group.
            int changed = levels;
            QString heading;
            for (int level = 0; level < levels; ++level) {
                heading = groupTitle(level, row);
                if (row == 0 || heading != keys[size_t(level)]) {
                    changed = level;
                    break;
                }
            }
            if (row > 0 && changed < levels && !closeGroups(changed)) {
                return false;
            }
            for (int level = changed; level < levels; ++level) {
                keys[size_t(level)] = level == changed ? heading : groupTitle(level, row);
                counts[size_t(level)] = 0;
                titles[size_t(level)] = keys[size_t(level)];
                sums[size_t(level)].assign(groupSumField[size_t(level)].size(), 0.0);
                if (!room(m.line * 2)) {
                    return false;
                }
                if (p) {
                    p->setFont(m_bold);
                    text(QRectF(0, y, m.page.width(), m.line), Qt::AlignLeft | Qt::AlignVCenter,
                         sec.groups[level].caption.isEmpty()
                             ? titles[size_t(level)]
                             : QStringLiteral("%1: %2").arg(sec.groups[level].caption,
                                                            titles[size_t(level)]));
                    p->setFont(m_body);
                }
                y += m.line;
            }
            if (!room(m.line)) {
                return false;
            }
            if (p) {
                for (int c = 0; c < sec.columns.size(); ++c) {
                    const QVariant& v = data.value(row, colField[size_t(c)]);
                    const QString kind = kindField[size_t(c)] < 0
                                             ? QString()
                                             : data.value(row, kindField[size_t(c)]).toString();
                    const auto [x, w] = m.columns[size_t(si)][size_t(c)];
                    cellText(m_body, x, w, y, m.line, sec.columns[c].align,
                             reportformat::cell(sec.columns[c], v, kind));
                }
            }
            y += m.line;
            for (int level = 0; level < levels; ++level) {
                ++counts[size_t(level)];
                for (size_t k = 0; k < groupSumField[size_t(level)].size(); ++k) {
                    sums[size_t(level)][k] +=
                        data.value(row, groupSumField[size_t(level)][k]).toDouble();
                }
            }
            for (size_t k = 0; k < totalSumField.size(); ++k) {
                totals[k] += data.value(row, totalSumField[k]).toDouble();
            }
        }
        if (rows > 0 && !closeGroups(0)) {
            return false;
        }
        if (sec.totals.enabled) {
            QString label = sec.totals.caption;
            if (sec.totals.count) {
                label += QStringLiteral(" (%1)").arg(countText(rows));
            }
            if (!room(m.line * 1.2)) {
                return false;
            }
            if (p) {
                p->drawLine(QPointF(0, y + m.line * 0.1),
                            QPointF(m.page.width(), y + m.line * 0.1));
            }
            y += m.line * 0.2;
            if (!sumLine(si, label, totals, sec.totals.sums)) {
                return false;
            }
        }
        if (sink.stopped) {
            return false;
        }
    }
    if (sink.pages == 0 && !startPage()) {
        return false;
    }
    endPage();
    return !sink.stopped;
}

}  // namespace host
