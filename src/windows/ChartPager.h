#pragma once

#include <QString>

#include <array>

class ChartModel;
class QSlider;
class QSpinBox;

// Where pnButtonsResize puts the four navigation buttons of a bar `barWidth` wide standing at
// `barLeft` in its parent: a quarter of the width each, sbtBegin at barLeft and the others at a
// quarter, a half and three quarters of the width.
struct TNavigButtonPlace {
    int left = 0;
    int width = 0;
};
std::array<TNavigButtonPlace, 4> NavigButtonPlaces(int barWidth, int barLeft);

// The paging of a statistics chart shared by the fuel and goods windows: what their navigation
// buttons, page bar, points-per-page box and labels check box do to the chart. It keeps no state
// of its own; the chart model holds the page, the points per page and the zoom.
class TChartPager {
public:
    TChartPager(ChartModel* chart, QSlider* pageBar, QSpinBox* pointsPerPage);

    // NavigBtnClick for the button of that object name ("sbtBegin", "sbtBack", "sbtForward",
    // "sbtEnd"); any other name changes nothing and gives false.
    bool Navigate(const QString& buttonName);
    // TrackBar1Change.
    void PageBarChanged(int position);
    // ResizeBtnClick for "sbtMult2" or "sbtDiv2": the box's value doubled or halved; the box keeps
    // it within its range, and its change signal runs PointsPerPageChanged.
    bool Resize(const QString& buttonName);
    // SpinEdit1Change.
    void PointsPerPageChanged(int value);
    // chbShowLabelsClick.
    void ShowLabels(bool shown);

private:
    int firstSeriesPointCount() const;
    void showPageIndicator();

    ChartModel* m_chart;
    QSlider* m_pageBar;
    QSpinBox* m_pointsPerPage;
};
