#include "windows/Value.h"

#include "extraction/StatTexts.h"
#include "platform/chart/ChartModel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

#include <memory>

QPointer<TfmValue> fmValue;

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, int pixelSize, const QColor& color,
                  const QRect& geometry) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setGeometry(geometry);
    return label;
}

} // namespace

const QStringList& ValueWeekdayNames() {
    static const QStringList names{QStringLiteral("Понедельник"), QStringLiteral("Вторник"),
                                   QStringLiteral("Среда"),       QStringLiteral("Четверг"),
                                   QStringLiteral("Пятница"),     QStringLiteral("Суббота"),
                                   QStringLiteral("Воскресение")};
    return names;
}

QString ValuePointDateText(TDateTime value, const TFormatSettings& settings) {
    const QString pattern = settings.shortDateFormat + QLatin1Char(' ') + settings.longTimeFormat;
    const int weekday = decodeDateTime(value).dayOfWeek;
    return formatDateTime(pattern, value, settings) + QStringLiteral(", ") +
           ValueWeekdayNames().value(weekday - 1);
}

TfmValue::TfmValue(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("fmValue"));
    setWindowTitle(QStringLiteral("Значение"));
    setFixedSize(425, 86);
    setModal(true);
    const QColor highlight = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    lbName = makeLabel(this, "lbName", 16, QColor(255, 0, 255), QRect(0, 0, 425, 25));
    lbName->setAlignment(Qt::AlignCenter);
    lbName->setWordWrap(true);
    lbX = makeLabel(this, "lbX", 15, QColor(255, 0, 0), QRect(8, 35, 165, 19));
    lbY = makeLabel(this, "lbY", 15, QColor(255, 0, 0), QRect(8, 56, 129, 28));
    lbY->setWordWrap(true);
    lbY->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbXValue = makeLabel(this, "lbXValue", 15, highlight, QRect(176, 32, 245, 22));
    lbYValue = makeLabel(this, "lbYValue", 15, highlight, QRect(176, 59, 245, 22));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfmValue::ShowPoint(const ChartModel& chart, int seriesIndex, int pointIndex,
                         const TFormatSettings& settings) {
    const ChartSeries* series = chart.series(seriesIndex);
    const ChartPoint& point = series->point(pointIndex);
    lbX->setText(chart.bottomAxisTitle());
    lbY->setText(chart.leftAxisTitle());
    // A point of an earlier period stands at a date of this one; it is named by its own.
    lbXValue->setText(ValuePointDateText(series->ownTime(pointIndex), settings));
    lbYValue->setText(StatValueText(point.y, settings));
    lbName->setText(series->title());
    // The date line with a long weekday name is wider than the designed window in some fonts:
    // the window grows rather than cut it off.
    const int needed =
        lbXValue->x() + lbXValue->fontMetrics().horizontalAdvance(lbXValue->text()) + 12;
    const int width = qMax(425, needed);
    setFixedSize(width, 86);
    lbName->setFixedWidth(width);
    lbXValue->setFixedWidth(width - lbXValue->x() - 4);
    lbYValue->setFixedWidth(width - lbYValue->x() - 4);
}

void TfmValue::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ShowChartPointValue(QWidget* parent, const ChartModel& chart, int seriesIndex,
                         int pointIndex) {
    const ChartSeries* series = chart.series(seriesIndex);
    if (!series || pointIndex < 0 || pointIndex >= series->count())
        return;
    if (!fmValue)
        fmValue = new TfmValue(parent);
    // Freed when it closes, also when showing it fails; the guarded reference clears itself.
    const std::unique_ptr<TfmValue> window(fmValue.data());
    fmValue->ShowPoint(chart, seriesIndex, pointIndex, TFormatSettings::workstation());
    fmValue->exec();
}
