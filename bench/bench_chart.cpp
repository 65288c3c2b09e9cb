// Filling a chart: what a run costs on the UI thread for the points it adds, against Qt Charts
// taking the same number of points in one replace, and the growth from N to 4N points, which
// must stay near 4 (appending is O(1)). Run by hand: QT_QPA_PLATFORM=offscreen ./bench_chart
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"

#include <QApplication>
#include <QChart>
#include <QElapsedTimer>
#include <QLineSeries>

#include <cstdio>

namespace {

// A hidden chart takes `points` points, is shown and draws its first page.
double fillModel(int points) {
    ChartModel model;
    ChartView view(&model);
    view.resize(900, 600);
    model.setVisible(false);
    ChartSeries* series = model.addSeries();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < points; ++i)
        series->addPoint(40000 + i / 1440.0, i % 97, QStringLiteral("01.08.09 00:00"));
    model.setVisible(true);
    QCoreApplication::processEvents();
    return double(timer.nsecsElapsed());
}

// The floor: Qt Charts getting all points at once, no labels.
double replaceAll(int points) {
    QChart chart;
    auto* line = new QLineSeries;
    chart.addSeries(line);
    QList<QPointF> list;
    list.reserve(points);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < points; ++i)
        list.append(QPointF(40000 + i / 1440.0, i % 97));
    line->replace(list);
    return double(timer.nsecsElapsed());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int n = 43200; // a month at one-minute steps
    fillModel(1000);     // warm-up: fonts, first layout
    const double model1 = fillModel(n);
    const double model4 = fillModel(4 * n);
    const double bare = replaceAll(n);
    std::printf("points                         %d\n", n);
    std::printf("chart model, hidden, then shown %.2f ms\n", model1 / 1e6);
    std::printf("Qt Charts replace (reference)   %.2f ms\n", bare / 1e6);
    std::printf("ratio model / reference         %.2f\n", model1 / bare);
    std::printf("growth 4N / N (linear: ~4)      %.2f\n", model4 / model1);
    return 0;
}
