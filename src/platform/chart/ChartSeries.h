#pragma once

#include <QColor>
#include <QList>
#include <QString>

class ChartModel;

// What a series tells the model that owns it. The model implements it, so that a series knows
// nothing of the model beyond these three notices.
class ChartSeriesOwner {
public:
    // Its look or title changed.
    virtual void seriesLookChanged(int seriesIndex) = 0;
    // The series has just got the points [first, end); the owner decides which of them the
    // drawing must hear of.
    virtual void seriesPointsAdded(int seriesIndex, int first, int end) = 0;
    virtual void seriesCleared(int seriesIndex) = 0;

protected:
    ~ChartSeriesOwner() = default;
};

// One point of a chart series. An invalid colour means "the series' own colour".
struct ChartPoint {
    double x = 0;
    double y = 0;
    QString label;
    QColor color;
};
// A series grows by tens of thousands of points; its storage may move them as plain memory.
Q_DECLARE_TYPEINFO(ChartPoint, Q_RELOCATABLE_TYPE);

// The chart's marker shapes, numbered from 1 as the series builder counts them: it picks shape
// (n div 18) + 1 for the n-th series, so series are told apart by shape in runs of 18 colours.
enum class ChartMarkerShape {
    Circle = 1,
    Rectangle,
    Diamond,
    Triangle,
    Star,
    Pentagon,
};
inline constexpr int kChartMarkerShapeCount = 6;

// The shape numbered `number`. Numbers past the end of the list start over at the circle, so a
// chart with more than 6 × 18 series still gets a shape for every series; numbers below 1 give
// the circle.
ChartMarkerShape chartMarkerShapeFromNumber(int number);

// A line series of the chart model. Owned by its ChartModel; every change is announced through
// the model's signals, so the view never has to poll.
class ChartSeries {
public:
    ChartSeries(const ChartSeries&) = delete;
    ChartSeries& operator=(const ChartSeries&) = delete;
    ~ChartSeries();

    int index() const { return m_index; }

    int lineWidth() const { return m_lineWidth; }
    void setLineWidth(int width);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    ChartMarkerShape markerShape() const { return m_markerShape; }
    void setMarkerShape(ChartMarkerShape shape);
    int markerSize() const { return m_markerSize; }
    void setMarkerSize(int size);
    bool isMarkerVisible() const { return m_markerVisible; }
    void setMarkerVisible(bool visible);
    QString title() const { return m_title; }
    void setTitle(const QString& title);
    bool isShownInLegend() const { return m_shownInLegend; }
    void setShownInLegend(bool shown);
    // Marks are the value labels drawn at the points.
    bool areMarksVisible() const { return m_marksVisible; }
    void setMarksVisible(bool visible);
    // An inactive series keeps its points but is not drawn.
    bool isActive() const { return m_active; }
    void setActive(bool active);
    // A companion shows an earlier period beside the series `partner`, drawn dashed: its points
    // stand at the partner's bucket times, `timeShift` days after the dates they are the sums of.
    void setCompanion(int partner, double timeShift);
    bool isCompanion() const { return m_partner >= 0; }
    // The index of the series a companion stands beside; -1 for any other series.
    int partner() const { return m_partner; }
    double timeShift() const { return m_timeShift; }
    // The date a point is the sum of: its x, less the time shift of a companion.
    double ownTime(int index) const { return m_points.at(index).x - m_timeShift; }

    // Amortised O(1): the extraction adds one point per bucket, tens of thousands per run.
    void addPoint(double x, double y, QString label = QString(), const QColor& color = QColor());
    // The same as addPoint for each of `points` in order, for a caller that built the points
    // elsewhere. An empty series takes the list over whole, its spare capacity included, so a
    // caller that knows how many points will follow can make room for them all in its first
    // list; otherwise `points` is left empty with its storage, for the caller's next batch.
    void addPoints(QList<ChartPoint>&& points);
    void clear();
    // Empties the series as clear() does, but hands the points over, so that a caller on another
    // thread can free a big run's labels instead of the user interface thread.
    QList<ChartPoint> takePoints();
    int count() const { return int(m_points.size()); }
    const ChartPoint& point(int index) const { return m_points.at(index); }
    const QList<ChartPoint>& points() const { return m_points; }

    // 0 for a series without points, as the statistics expect for an empty series.
    double maxY() const { return m_points.isEmpty() ? 0.0 : m_maxY; }
    double minY() const { return m_points.isEmpty() ? 0.0 : m_minY; }

private:
    friend class ChartModel;
    ChartSeries(ChartSeriesOwner* owner, int index, const QColor& color);
    void changed();

    ChartSeriesOwner* m_owner;
    int m_index;
    int m_lineWidth = 1;
    QColor m_color;
    ChartMarkerShape m_markerShape = ChartMarkerShape::Circle;
    int m_markerSize = 6;
    bool m_markerVisible = false;
    QString m_title;
    bool m_shownInLegend = true;
    bool m_marksVisible = false;
    bool m_active = true;
    int m_partner = -1;
    double m_timeShift = 0;
    QList<ChartPoint> m_points;
    double m_maxY = 0;
    double m_minY = 0;
};
