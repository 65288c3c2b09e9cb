#include "windows/ChartPager.h"

#include "platform/chart/ChartModel.h"

#include <QSlider>
#include <QSpinBox>

std::array<TNavigButtonPlace, 4> NavigButtonPlaces(int barWidth, int barLeft) {
    const int quarter = barWidth / 4;
    return {{{barLeft, quarter},
             {quarter, quarter},
             {barWidth / 2, quarter},
             {int(3 * qint64(barWidth) / 4), quarter}}};
}

TChartPager::TChartPager(ChartModel* chart, QSlider* pageBar, QSpinBox* pointsPerPage)
    : m_chart(chart)
    , m_pageBar(pageBar)
    , m_pointsPerPage(pointsPerPage) {}

int TChartPager::firstSeriesPointCount() const {
    const ChartSeries* first = m_chart->series(0);
    return first ? first->count() : 0;
}

void TChartPager::showPageIndicator() {
    QStringList lines = m_chart->titleLines();
    if (lines.size() < 2)
        return;
    lines[1] = PageIndicatorText(m_chart->currentPage(), m_chart->pageCount());
    m_chart->setTitleLines(lines);
}

bool TChartPager::Navigate(const QString& buttonName) {
    int page = 0;
    if (buttonName == QLatin1String("sbtForward"))
        page = m_chart->currentPage() + 1;
    else if (buttonName == QLatin1String("sbtBack"))
        page = m_chart->currentPage() - 1;
    else if (buttonName == QLatin1String("sbtBegin"))
        page = 1;
    else if (buttonName == QLatin1String("sbtEnd"))
        page = firstSeriesPointCount() / m_chart->pointsPerPage() + 1;
    else
        return false;
    if (m_chart->isZoomed())
        m_chart->undoZoom();
    // The chart keeps the page within 1..pageCount, so next on the last page and back on the
    // first stay where they are, and the end of a chart of whole pages is its last page.
    m_chart->setCurrentPage(page);
    showPageIndicator();
    m_pageBar->setValue(m_chart->currentPage());
    return true;
}

void TChartPager::PageBarChanged(int position) {
    if (m_chart->isZoomed())
        m_chart->undoZoom();
    m_chart->setCurrentPage(position);
    showPageIndicator();
}

bool TChartPager::Resize(const QString& buttonName) {
    if (buttonName == QLatin1String("sbtMult2"))
        m_pointsPerPage->setValue(
            int(qMin(qint64(m_pointsPerPage->value()) * 2, qint64(m_pointsPerPage->maximum()))));
    else if (buttonName == QLatin1String("sbtDiv2"))
        m_pointsPerPage->setValue(m_pointsPerPage->value() / 2);
    else
        return false;
    return true;
}

void TChartPager::PointsPerPageChanged(int value) {
    if (value < 2)
        return;
    if (m_chart->isZoomed())
        m_chart->undoZoom();
    m_chart->setPointsPerPage(value);
    showPageIndicator();
    // At least 1: a bar whose maximum fell below its minimum would show a page 0.
    m_pageBar->setMaximum(m_chart->pageCount());
}

void TChartPager::ShowLabels(bool shown) {
    for (int i = 0; i < m_chart->seriesCount(); ++i)
        m_chart->series(i)->setMarksVisible(shown);
}
