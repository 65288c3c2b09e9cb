#include "platform/chart/ChartModel.h"

#include "platform/chart/ChartPalette.h"

#include <algorithm>
#include <array>

namespace {

// Colours of series nobody has coloured: the saturated palette entries first, so that the first
// few series of a chart are easy to tell apart.
constexpr std::array<int, 12> kAutomaticColors{16, 13, 2, 17, 3, 4, 18, 1, 5, 6, 15, 14};

} // namespace

ChartModel::ChartModel(QObject* parent)
    : QObject(parent) {}

ChartModel::~ChartModel() = default;

ChartSeries* ChartModel::series(int index) const {
    if (index < 0 || index >= seriesCount())
        return nullptr;
    return m_series[std::size_t(index)].get();
}

ChartSeries* ChartModel::addSeries() {
    const int index = seriesCount();
    const QColor color =
        chartPaletteColor(kAutomaticColors[std::size_t(index) % kAutomaticColors.size()]);
    m_series.push_back(std::unique_ptr<ChartSeries>(new ChartSeries(this, index, color)));
    emit seriesAdded(index);
    return m_series.back().get();
}

void ChartModel::removeSeriesFrom(int first) {
    first = std::max(first, 0);
    if (first >= seriesCount())
        return;
    m_series.resize(std::size_t(first));
    emit seriesRemoved(first);
}

void ChartModel::setTitleLines(const QStringList& lines) {
    if (lines == m_titleLines)
        return;
    m_titleLines = lines;
    emit titlesChanged();
}

void ChartModel::setLeftAxisTitle(const QString& title) {
    if (title == m_leftAxisTitle)
        return;
    m_leftAxisTitle = title;
    emit titlesChanged();
}

void ChartModel::setBottomAxisTitle(const QString& title) {
    if (title == m_bottomAxisTitle)
        return;
    m_bottomAxisTitle = title;
    emit titlesChanged();
}

void ChartModel::setLegendVisible(bool visible) {
    if (visible == m_legendVisible)
        return;
    m_legendVisible = visible;
    emit titlesChanged();
}

void ChartModel::setVisible(bool visible) {
    if (visible == m_visible)
        return;
    m_visible = visible;
    emit visibleChanged(visible);
}

QString PageIndicatorText(int page, int pageCount) {
    return QStringLiteral("Страница %1 из %2").arg(page).arg(pageCount);
}

int ChartModel::pageCount() const {
    const int points = m_series.empty() ? 0 : m_series.front()->count();
    return std::max(1, points / m_pointsPerPage + (points % m_pointsPerPage != 0 ? 1 : 0));
}

void ChartModel::setPointsPerPage(int points) {
    changePaging(std::max(points, 1), m_currentPage);
}

void ChartModel::setCurrentPage(int page) {
    changePaging(m_pointsPerPage, page);
}

void ChartModel::changePaging(int pointsPerPage, int page) {
    const int oldPointsPerPage = m_pointsPerPage;
    const int oldPage = m_currentPage;
    m_pointsPerPage = pointsPerPage;
    m_currentPage = std::clamp(page, 1, pageCount());
    if (m_pointsPerPage == oldPointsPerPage && m_currentPage == oldPage)
        return;
    undoZoom();
    emit pagingChanged();
}

void ChartModel::seriesLookChanged(int seriesIndex) {
    emit seriesChanged(seriesIndex);
}

void ChartModel::seriesPointsAdded(int seriesIndex, int first, int end) {
    // A run appends hundreds of thousands of points on the user interface thread; only those of
    // the current page change what is drawn, and a page change redraws anyway.
    end = std::min(end, pageFirstPoint() + pointsPerPage());
    for (int index = first; index < end; ++index)
        emit pointAdded(seriesIndex, index);
}

void ChartModel::seriesCleared(int seriesIndex) {
    emit pointsCleared(seriesIndex);
    // Emptying the first series can take the current page away; a later run then starts its
    // title and track bar from a page that exists.
    if (seriesIndex == 0)
        changePaging(m_pointsPerPage, m_currentPage);
}

void ChartModel::zoomIn(const QRectF& valueRect) {
    const QRectF rect = valueRect.normalized();
    if (rect.isEmpty())
        return;
    if (m_zoomed && rect == m_zoomRect)
        return;
    m_zoomed = true;
    m_zoomRect = rect;
    emit zoomChanged();
}

void ChartModel::undoZoom() {
    if (!m_zoomed)
        return;
    m_zoomed = false;
    m_zoomRect = QRectF();
    emit zoomChanged();
}
