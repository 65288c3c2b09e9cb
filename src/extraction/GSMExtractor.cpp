#include "extraction/GSMExtractor.h"

#include "extraction/QueryLiterals.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartPalette.h"
#include "platform/data/ClientDataSet.h"
#include "platform/ui/MessageBoxes.h"

#include <QGuiApplication>

TGSMExtractor::TGSMExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo,
                             double stepMultiplier, TClientDataSet* dataSet, ChartModel* chart,
                             QWidget* ownerWindow, const TGSMColor& colors, QSlider* pageBar)
    : TGraphExtractor(stepUnit, dateFrom, dateTo, stepMultiplier, dataSet, chart, ownerWindow,
                      pageBar)
    , m_colors(colors) {}

TGSMExtractor::~TGSMExtractor() {
    StopRun();
}

void TGSMExtractor::SetLiterLow(double value) {
    if (m_literLow != value)
        m_literLow = value;
}

void TGSMExtractor::SetLiterHigh(double value) {
    if (m_literHigh != value)
        m_literHigh = value;
}

QString TGSMExtractor::BuildSQL(TDateTime dateFrom, TDateTime dateTo) const {
    QString sql = QStringLiteral("SELECT * FROM LogTran WHERE Data >= ") +
                  QuotedSqlString(DateTimeToQueryText(true, dateFrom)) +
                  QStringLiteral(" AND Data < ") +
                  QuotedSqlString(DateTimeToQueryText(true, dateTo));
    if (m_literLow > 0)
        sql += QStringLiteral(" AND Liter >= ") + FloatToQueryText(m_literLow);
    if (m_literHigh > 0)
        sql += QStringLiteral(" AND Liter < ") + FloatToQueryText(m_literHigh);
    return sql + QStringLiteral(" ORDER BY Data, GSMName");
}

QString TGSMExtractor::GradeFilter(const QStringList& grades) {
    QStringList quoted;
    quoted.reserve(grades.size());
    for (const QString& grade : grades)
        quoted << QuotedSqlString(grade);
    return QStringLiteral("GsmName in (") + quoted.join(QLatin1Char(',')) + QLatin1Char(')');
}

void TGSMExtractor::Aggregate(int seriesIndex) {
    TGraphExtractor::Aggregate(
        seriesIndex, SchemaAmount(QStringLiteral("Liter"), QString(), QStringLiteral("Summa")));
}

void TGSMExtractor::Execute() {
    while (!Terminated()) {
        RunOnce();
        Suspend();
    }
}

QString TGSMExtractor::BuildQuery(TDateTime dateFrom, TDateTime dateTo) {
    return BuildSQL(dateFrom, dateTo);
}

void TGSMExtractor::FillSeries() {
    TClientDataSet& set = *DataSet();
    const TQueryItems items = Items();
    if (!MultiGraph()) {
        QStringList grades;
        grades.reserve(items.size());
        for (const TQueryItem& item : items)
            grades << item.Name;
        set.setFilter(GradeFilter(grades));
        set.setFiltered(true);
        Aggregate(0);
        return;
    }
    for (int i = 0; i < items.size(); ++i) {
        const QString& grade = items.at(i).Name;
        set.setFilter(GradeFilter({grade}));
        set.setFiltered(true);
        SetSeriesIndex(i);
        m_currentColor = 0;
        for (const TGSMColorItem& color : m_colors) {
            if (color.Name == grade) {
                m_currentColor = color.Color;
                break;
            }
        }
        Synchronize([this, i] {
            ChartModel* chart = Chart();
            if (!chart)
                return;
            if (chart->seriesCount() < i + 1) {
                AddSeries();
                SetSeriesIndex(chart->seriesCount() - 1);
            }
            if (m_currentColor != 0)
                if (ChartSeries* series = chart->series(SeriesIndex()))
                    series->setColor(colorFromSystemValue(m_currentColor));
        });
        Aggregate(SeriesIndex());
    }
}

void TGSMExtractor::ReportError(const QString& message) {
    // The plain message dialog: the application's title, no icon, one OK button.
    MessageBoxes::show(nullptr, QGuiApplication::applicationDisplayName(),
                       message + QLatin1Char(' '), MessageBoxes::Icon::None);
}

void AddFuelWindowSeries(ChartModel& chart) {
    const QList<QColor> colors{
        QColor(0, 0, 255),    QColor(),           QColor(0, 255, 0),   QColor(255, 255, 0),
        QColor(64, 128, 128), QColor(64, 0, 128), QColor(255, 0, 255), QColor(64, 0, 0)};
    for (const QColor& color : colors) {
        ChartSeries* series = chart.addSeries();
        series->setLineWidth(3);
        series->setMarkerShape(ChartMarkerShape::Circle);
        series->setMarkerSize(6);
        series->setMarkerVisible(true);
        series->setMarksVisible(false);
        series->setShownInLegend(false);
        if (color.isValid())
            series->setColor(color);
    }
}
