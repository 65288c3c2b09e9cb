#pragma once

#include "platform/chart/ChartSeries.h"

#include <QObject>
#include <QRectF>
#include <QStringList>

#include <memory>
#include <vector>

// The chart as the statistics code sees it: series of labelled points, titles, legend, paging
// and zoom state. It draws nothing; a ChartView shows it. The extraction fills it from
// synchronised calls on the UI thread and the windows page it, so it lives on the UI thread.
//
// Paging: a page shows `pointsPerPage` consecutive points of every series. The page count comes
// from the first series and is at least 1, so an empty chart (or one without series) has exactly
// one page, page 1 of 1, and the windows' track bar never gets a maximum below its minimum.
// The page indicator, the chart title's second line: "Страница 2 из 5".
QString PageIndicatorText(int page, int pageCount);

class ChartModel : public QObject, private ChartSeriesOwner {
    Q_OBJECT

public:
    explicit ChartModel(QObject* parent = nullptr);
    ~ChartModel() override;

    int seriesCount() const { return int(m_series.size()); }
    // nullptr for an index out of range.
    ChartSeries* series(int index) const;
    // The new series becomes the last one.
    ChartSeries* addSeries();
    // Removes the series from `first` on; no series before it changes its index.
    void removeSeriesFrom(int first);

    QStringList titleLines() const { return m_titleLines; }
    void setTitleLines(const QStringList& lines);
    QString leftAxisTitle() const { return m_leftAxisTitle; }
    void setLeftAxisTitle(const QString& title);
    QString bottomAxisTitle() const { return m_bottomAxisTitle; }
    void setBottomAxisTitle(const QString& title);
    bool isLegendVisible() const { return m_legendVisible; }
    void setLegendVisible(bool visible);
    bool isVisible() const { return m_visible; }
    void setVisible(bool visible);

    int pointsPerPage() const { return m_pointsPerPage; }
    // Values below 1 are taken as 1. The current page stays if it still exists, otherwise the
    // chart goes to its last page.
    void setPointsPerPage(int points);
    int currentPage() const { return m_currentPage; }
    // Limited to 1..pageCount().
    void setCurrentPage(int page);
    // The page count every page display uses: the first series' whole pages plus one for a
    // remainder, at least 1.
    int pageCount() const;
    // Index of the first point of every series on the current page.
    int pageFirstPoint() const { return (m_currentPage - 1) * m_pointsPerPage; }

    // Zoom into a rectangle of chart values (x, y) within the current page. A zoom belongs to the
    // page it was made on: any change of page or of the points per page undoes it.
    void zoomIn(const QRectF& valueRect);
    void undoZoom();
    bool isZoomed() const { return m_zoomed; }
    QRectF zoomRect() const { return m_zoomRect; }

signals:
    void seriesAdded(int seriesIndex);
    void seriesRemoved(int firstIndex);
    void seriesChanged(int seriesIndex);
    void pointAdded(int seriesIndex, int pointIndex);
    void pointsCleared(int seriesIndex);
    // Title lines, axis titles or legend.
    void titlesChanged();
    void pagingChanged();
    void zoomChanged();
    void visibleChanged(bool visible);

private:
    void seriesLookChanged(int seriesIndex) override;
    void seriesPointsAdded(int seriesIndex, int first, int end) override;
    void seriesCleared(int seriesIndex) override;
    void changePaging(int pointsPerPage, int page);

    std::vector<std::unique_ptr<ChartSeries>> m_series;
    QStringList m_titleLines;
    QString m_leftAxisTitle;
    QString m_bottomAxisTitle;
    bool m_legendVisible = false;
    bool m_visible = true;
    int m_pointsPerPage = 30;
    int m_currentPage = 1;
    bool m_zoomed = false;
    QRectF m_zoomRect;
};
