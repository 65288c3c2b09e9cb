#pragma once

// QPointer needs the complete type wherever the view is included.
#include "platform/chart/ChartModel.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class ChartCanvas;
class ChartMarks;
class ChartSeries;
class QCategoryAxis;
class QChart;
class QChartView;
class QImage;
class QLineSeries;
class QValueAxis;

// How many points apart the bottom axis labels must be so that labels `labelExtent` pixels wide
// (padding included) fit, when `pointCount` evenly spaced points fill an axis of `axisLength`
// pixels. 1: every point labelled; `pointCount`: only the first.
int chartLabelStride(int pointCount, double axisLength, double labelExtent);

// Shows a ChartModel with Qt Charts, one page at a time: the model keeps every point, the view
// hands Qt Charts only the current page's points. Model changes are coalesced: the view refreshes
// at most once per pass of the event loop, and not at all while it is hidden, so a run that adds
// tens of thousands of points to the hidden chart costs one refresh when the chart is shown.
//
// Mouse: a drag to the right and down zooms into the dragged rectangle; a drag to the left undoes
// the zoom; a click on a point reports it through pointClicked.
class ChartView : public QWidget {
    Q_OBJECT

public:
    // The model is not owned; it must outlive the view or the view goes blank when it is deleted.
    explicit ChartView(ChartModel* model, QWidget* parent = nullptr);
    ~ChartView() override;

    ChartModel* model() const { return m_model; }

    // Applies pending model changes now instead of on the next pass of the event loop.
    void refreshNow();
    // The chart as displayed: current page, zoom, titles and legend.
    QImage renderImage();
    // Writes renderImage() as a BMP file, replacing `path` as a whole (a new file renamed over the
    // old one), so a link planted at that name is replaced rather than written through. Throws
    // EOSError when the file cannot be written.
    void saveToBmp(const QString& path);

    // The marks (value labels) drawn on the current page, series by series, in the statistics
    // number format.
    QStringList markTexts() const;

    // The Qt Charts objects, for layout and for inspecting what is drawn.
    QChart* chart() const { return m_chart; }
    QChartView* chartView() const;

signals:
    // seriesIndex and pointIndex index the model: pointIndex counts from the series' first point,
    // not from the first point of the page.
    void pointClicked(int seriesIndex, int pointIndex);
    // Emitted after every refresh, that is every time the view hands the model to Qt Charts.
    void refreshed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class ChartCanvas;
    struct LabelCandidate {
        double x;
        QString label;
    };

    void markDirty();
    void refresh();
    void syncSeries();
    void applySeriesLook(const ChartSeries& series, QLineSeries* line);
    void updatePageData();
    void updateBottomLabels(bool force);
    void updateTitles();
    void updateLegend();
    void modelDestroyed();
    void onPointAdded(int seriesIndex, int pointIndex);

    void clickAt(const QPointF& chartPos);
    void dragFinished(const QPointF& fromChartPos, const QPointF& toChartPos);

    QPointer<ChartModel> m_model;
    QChart* m_chart = nullptr;
    ChartCanvas* m_canvas = nullptr;
    ChartMarks* m_marks = nullptr;
    QCategoryAxis* m_axisX = nullptr;
    QValueAxis* m_axisY = nullptr;
    QList<QLineSeries*> m_lines;
    QList<LabelCandidate> m_labelCandidates;
    int m_labelStride = 0;
    bool m_dirty = true;
    bool m_refreshQueued = false;
};
