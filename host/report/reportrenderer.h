#pragma once

#include <QFont>
#include <functional>

#include "report/reportresult.h"

class QPagedPaintDevice;
class QPainter;

namespace host {

// Lays a report out on pages and paints them, the same for the preview, the printer and
// PDF. The layout is a walk over the rows that either only counts pages (the first pass, for
// "Página n de m") or paints each page as it comes, so nothing is kept per page: memory does
// not grow with the page count.
class ReportRenderer {
  public:
    explicit ReportRenderer(const ReportResult& result);

    // Called after each page painted with (pages done, page count); false stops the painting.
    using Progress = std::function<bool(int page, int pages)>;

    // Pages the report takes on the device (its page rectangle and resolution).
    int countPages(QPagedPaintDevice& device);
    // Paints every page on the device, starting new pages on it as needed; the painter must be
    // active on device. Returns false when progress asked to stop.
    bool paint(QPainter& painter, QPagedPaintDevice& device, const Progress& progress = {});

  private:
    struct Metrics;
    struct Sink;
    bool walk(Sink& sink, const Metrics& m);
    Metrics metricsFor(QPagedPaintDevice& device) const;

    const ReportResult& m_result;
    QFont m_body;
    QFont m_bold;
    QFont m_title;
    QFont m_small;
};

}  // namespace host
