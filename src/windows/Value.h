#pragma once

#include "platform/core/DateTime.h"
#include "platform/core/FormatSettings.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>

class ChartModel;
class QLabel;

// Weekday names, Monday first, as the value window has always spelled them.
const QStringList& ValueWeekdayNames();

// The date line of the value window: short date, long time, ", " and the weekday name.
QString ValuePointDateText(TDateTime value, const TFormatSettings& settings);

// TfmValue: the small window that shows one chart point, opened by a click on the point.
class TfmValue : public QDialog {
    Q_OBJECT

public:
    explicit TfmValue(QWidget* parent = nullptr);

    QLabel* lbName;
    QLabel* lbX;
    QLabel* lbY;
    QLabel* lbXValue;
    QLabel* lbYValue;

    // Fills the labels from point `pointIndex` of series `seriesIndex` (indexes into the model).
    void ShowPoint(const ChartModel& chart, int seriesIndex, int pointIndex,
                   const TFormatSettings& settings);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The value window while it is shown; null otherwise.
extern QPointer<TfmValue> fmValue;

// Chart1ClickSeries of both statistics windows: shows the point in the value window, modally,
// and frees the window when it closes. Indexes outside the chart are ignored.
void ShowChartPointValue(QWidget* parent, const ChartModel& chart, int seriesIndex, int pointIndex);
