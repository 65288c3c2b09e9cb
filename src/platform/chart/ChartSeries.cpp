#include "platform/chart/ChartSeries.h"

#include <algorithm>
#include <utility>

ChartMarkerShape chartMarkerShapeFromNumber(int number) {
    if (number < 1)
        return ChartMarkerShape::Circle;
    return ChartMarkerShape((number - 1) % kChartMarkerShapeCount + 1);
}

ChartSeries::ChartSeries(ChartSeriesOwner* owner, int index, const QColor& color)
    : m_owner(owner)
    , m_index(index)
    , m_color(color) {}

ChartSeries::~ChartSeries() = default;

void ChartSeries::changed() {
    m_owner->seriesLookChanged(m_index);
}

void ChartSeries::setLineWidth(int width) {
    width = std::max(width, 0);
    if (width == m_lineWidth)
        return;
    m_lineWidth = width;
    changed();
}

void ChartSeries::setColor(const QColor& color) {
    if (!color.isValid() || color == m_color)
        return;
    m_color = color;
    changed();
}

void ChartSeries::setMarkerShape(ChartMarkerShape shape) {
    if (shape == m_markerShape)
        return;
    m_markerShape = shape;
    changed();
}

void ChartSeries::setMarkerSize(int size) {
    size = std::max(size, 1);
    if (size == m_markerSize)
        return;
    m_markerSize = size;
    changed();
}

void ChartSeries::setMarkerVisible(bool visible) {
    if (visible == m_markerVisible)
        return;
    m_markerVisible = visible;
    changed();
}

void ChartSeries::setTitle(const QString& title) {
    if (title == m_title)
        return;
    m_title = title;
    changed();
}

void ChartSeries::setShownInLegend(bool shown) {
    if (shown == m_shownInLegend)
        return;
    m_shownInLegend = shown;
    changed();
}

void ChartSeries::setMarksVisible(bool visible) {
    if (visible == m_marksVisible)
        return;
    m_marksVisible = visible;
    changed();
}

void ChartSeries::setActive(bool active) {
    if (active == m_active)
        return;
    m_active = active;
    changed();
}

void ChartSeries::addPoint(double x, double y, QString label, const QColor& color) {
    if (m_points.isEmpty()) {
        m_maxY = y;
        m_minY = y;
    } else {
        m_maxY = std::max(m_maxY, y);
        m_minY = std::min(m_minY, y);
    }
    m_points.append(ChartPoint{x, y, std::move(label), color});
    m_owner->seriesPointsAdded(m_index, int(m_points.size()) - 1, int(m_points.size()));
}

void ChartSeries::setCompanion(int partner, double timeShift) {
    if (partner == m_partner && timeShift == m_timeShift)
        return;
    m_partner = partner;
    m_timeShift = timeShift;
    changed();
}

void ChartSeries::addPoints(QList<ChartPoint>&& points) {
    if (points.isEmpty())
        return;
    const int first = int(m_points.size());
    if (m_points.isEmpty()) {
        m_maxY = points.constFirst().y;
        m_minY = m_maxY;
    }
    for (const ChartPoint& p : std::as_const(points)) {
        m_maxY = std::max(m_maxY, p.y);
        m_minY = std::min(m_minY, p.y);
    }
    if (m_points.isEmpty()) {
        m_points = std::move(points);
        points = QList<ChartPoint>();
    } else {
        m_points.append(std::move(points));
        points.clear();
    }
    m_owner->seriesPointsAdded(m_index, first, int(m_points.size()));
}

QList<ChartPoint> ChartSeries::takePoints() {
    QList<ChartPoint> points = std::exchange(m_points, QList<ChartPoint>());
    if (!points.isEmpty()) {
        m_maxY = 0;
        m_minY = 0;
        m_owner->seriesCleared(m_index);
    }
    return points;
}

void ChartSeries::clear() {
    if (m_points.isEmpty())
        return;
    // Keep the capacity: the next run refills the series with as many points again.
    m_points.resize(0);
    m_maxY = 0;
    m_minY = 0;
    m_owner->seriesCleared(m_index);
}
