#include "extraction/GraphExtractor.h"

#include "extraction/BucketPass.h"
#include "extraction/DataSetRows.h"
#include "extraction/StatTexts.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartPalette.h"
#include "platform/chart/ChartView.h"
#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"

#include <QLabel>
#include <QSlider>

#include <chrono>
#include <utility>

namespace {

// A batch of buckets goes to the user interface thread at least this often, so that the progress
// bar moves smoothly, and holds at most so many buckets, so that the thread is back in its event
// loop within a few milliseconds: moving so many points takes it well under one. Each batch also
// costs it a round trip and a repaint of the bar, which smaller batches would multiply.
constexpr auto kBatchInterval = std::chrono::milliseconds(16);
constexpr std::size_t kBatchBuckets = 16384;
// Beyond so many buckets a pass's series grows as it goes instead of being made whole up front: a
// period that long is more likely to be cancelled than looked at.
constexpr qsizetype kLargestReserve = qsizetype(1) << 22;

// Thrown inside the bucket pass when the extractor is being destroyed: nobody will look at the
// chart any more, so the run stops at the next bucket and only cleans up.
struct TRunAbandoned {};

template <class Step>
void Attempt(bool& failed, QString& error, Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        if (!failed)
            error = ExceptionMessage(e);
        failed = true;
    }
}

} // namespace

TGraphExtractor::TGraphExtractor(int stepUnit, TDateTime dateFrom, TDateTime dateTo,
                                 double stepMultiplier, TClientDataSet* dataSet, ChartModel* chart,
                                 QWidget* ownerWindow, QSlider* pageBar)
    : TExtractor(dataSet, dateFrom, dateTo, ownerWindow)
    , m_stepMultiplier(stepMultiplier)
    , m_stepUnit(stepUnit)
    , m_chart(chart)
    , m_pageBar(pageBar)
    , m_settings(TFormatSettings::workstation()) {}

TGraphExtractor::~TGraphExtractor() {
    StopRun();
    m_chart = nullptr;
    m_minLabel = nullptr;
    m_maxLabel = nullptr;
    m_countLabel = nullptr;
    m_compareLabel = nullptr;
    m_pageBar = nullptr;
    m_chartView = nullptr;
}

double TGraphExtractor::UnitLength(int stepUnit) {
    switch (stepUnit) {
    case 0:
        return 1.0 / 1440;
    case 1:
        return 1.0 / 24;
    case 2:
        return 1;
    case 3:
        return 7;
    case 4:
        return 30;
    case 5:
        return 365;
    default:
        return 1;
    }
}

void TGraphExtractor::SetStepMultiplier(double value) {
    if (m_stepMultiplier != value)
        m_stepMultiplier = value;
}

void TGraphExtractor::SetStepUnit(int value) {
    if (m_stepUnit != value)
        m_stepUnit = value;
    m_stepLength = m_stepMultiplier * UnitLength(m_stepUnit);
}

void TGraphExtractor::SetCompareMode(TCompareMode value) {
    if (m_compareMode != value)
        m_compareMode = value;
}

void TGraphExtractor::SetCompareLabel(QLabel* value) {
    if (m_compareLabel != value)
        m_compareLabel = value;
}

void TGraphExtractor::SetMultiGraph(bool value) {
    if (m_multiGraph != value)
        m_multiGraph = value;
}

void TGraphExtractor::SetTitle(const QString& value) {
    if (m_title != value)
        m_title = value;
}

void TGraphExtractor::SetFuelMode(bool value) {
    if (m_fuelMode != value)
        m_fuelMode = value;
}

void TGraphExtractor::SetMinLabel(QLabel* value) {
    if (m_minLabel != value)
        m_minLabel = value;
}

void TGraphExtractor::SetMaxLabel(QLabel* value) {
    if (m_maxLabel != value)
        m_maxLabel = value;
}

void TGraphExtractor::SetCountLabel(QLabel* value) {
    if (m_countLabel != value)
        m_countLabel = value;
}

QString TGraphExtractor::AxisTitle(bool fuelMode, int schema) {
    switch (schema) {
    case 0:
        return fuelMode ? QStringLiteral("Литры") : QStringLiteral("Продажа");
    case 1:
        return fuelMode ? QStringLiteral("Продажа") : QStringLiteral("Количество");
    case 2:
        return fuelMode ? QStringLiteral("Количество заправок")
                        : QStringLiteral("Количество продаж");
    default:
        return QString();
    }
}

double TGraphExtractor::TRowAmount::operator()() const {
    switch (kind) {
    case Kind::Nothing:
        break;
    case Kind::One:
        return 1;
    case Kind::Field:
        return first->asFloat();
    case Kind::Product:
        return first->asFloat() * second->asFloat();
    }
    return 0;
}

void TGraphExtractor::ClearChart() {
    m_settings = TFormatSettings::workstation();
    m_shownCompareMode = TCompareMode::None;
    if (!m_chart)
        return;
    int companions = m_chart->seriesCount();
    for (int i = 0; i < m_chart->seriesCount(); ++i) {
        ChartSeries* series = m_chart->series(i);
        m_retiredPoints.append(series->takePoints());
        series->setTitle(QString());
        series->setShownInLegend(false);
        if (series->isCompanion())
            companions = std::min(companions, i);
    }
    // Companions belong to the run that made them; they stand after all other series.
    m_chart->removeSeriesFrom(companions);
    m_chart->setVisible(false);
}

void TGraphExtractor::AddSeries() {
    if (!m_chart)
        return;
    ChartSeries* series = m_chart->addSeries();
    const int n = m_chart->seriesCount();
    series->setMarkerVisible(true);
    series->setMarkerSize(6);
    series->setMarkerShape(chartMarkerShapeFromNumber(n / 18 + 1));
    series->setLineWidth(3);
    series->setColor(colorFromSystemValue(kPaletteIndexFlag + quint32(18 - n % 18)));
}

void TGraphExtractor::AddPoint() {
    if (!m_chart)
        return;
    ChartSeries* series = m_chart->series(m_seriesIndex);
    if (!series)
        return;
    series->addPoint(m_pointTime, m_pointValue, PointLabelText(m_pointTime, m_settings),
                     series->color());
}

void TGraphExtractor::TitleSeries() {
    if (!m_chart)
        return;
    ChartSeries* series = m_chart->series(m_seriesIndex);
    const QString name = SeriesName(m_seriesIndex);
    if (!series || name.isNull())
        return;
    series->setTitle(name);
    series->setShownInLegend(true);
}

QString TGraphExtractor::SeriesName(int seriesIndex) const {
    return seriesIndex < Items().size() ? Items().at(seriesIndex).Name : QString();
}

void TGraphExtractor::GetMaxValue(double& value, QString& name) const {
    if (!m_chart || m_chart->seriesCount() == 0)
        return;
    if (!m_multiGraph) {
        name.clear();
        value = m_chart->series(0)->maxY();
        return;
    }
    double best = 0;
    for (int i = 0; i < m_chart->seriesCount(); ++i) {
        const ChartSeries* series = m_chart->series(i);
        // The statistics are the period's own; the earlier period only stands beside them.
        if (series->maxY() > best && series->isActive() && !series->isCompanion()) {
            best = series->maxY();
            value = best;
            name = series->title();
        }
    }
}

void TGraphExtractor::GetMinValue(double& value, QString& name) const {
    if (!m_chart || m_chart->seriesCount() == 0)
        return;
    if (!m_multiGraph) {
        name.clear();
        value = m_chart->series(0)->minY();
        return;
    }
    double best = 1e9;
    for (int i = 0; i < m_chart->seriesCount(); ++i) {
        const ChartSeries* series = m_chart->series(i);
        if (series->minY() <= best && series->isActive() && !series->isCompanion()) {
            best = series->minY();
            value = best;
            name = series->title();
        }
    }
}

ChartView* TGraphExtractor::View() const {
    return m_chartView;
}

void TGraphExtractor::SetChartView(ChartView* value) {
    if (m_chartView != value)
        m_chartView = value;
}

TStatReportFacts TGraphExtractor::ReportFacts(const QString& subject) const {
    TStatReportFacts facts;
    facts.subject = subject;
    facts.madeAt = fromQDateTime(QDateTime::currentDateTime());
    if (m_chart)
        facts.titleLines = m_chart->titleLines();
    // Both into the same variables, as the statistics labels get them.
    GetMaxValue(facts.maxValue, facts.maxName);
    facts.minValue = facts.maxValue;
    facts.minName = facts.maxName;
    GetMinValue(facts.minValue, facts.minName);
    facts.chart = m_chart;
    facts.compareMode = m_shownCompareMode;
    return facts;
}

void TGraphExtractor::ShowStatReport(const QString& subject) const {
    ShowStatisticsReport(ReportFacts(subject), m_chartView);
}

int TGraphExtractor::GetPointCount() const {
    if (!m_chart || m_chart->seriesCount() == 0)
        return 0;
    return m_chart->series(0)->count();
}

void TGraphExtractor::FinishChart() {
    const TFormatSettings settings = TFormatSettings::workstation();
    double value = 0;
    QString name;
    GetMinValue(value, name);
    if (m_minLabel)
        m_minLabel->setText(StatValueText(value, settings) + QStringLiteral("  ") + name);
    GetMaxValue(value, name);
    if (m_maxLabel)
        m_maxLabel->setText(StatValueText(value, settings) + QStringLiteral("  ") + name);
    if (m_countLabel)
        m_countLabel->setText(QString::number(GetPointCount()));
    if (m_compareLabel) {
        double current = 0;
        double earlier = 0;
        if (m_chart)
            for (const TCompareTotal& total : CompareTotals(*m_chart)) {
                current += total.current;
                earlier += total.earlier;
            }
        const bool compared = m_shownCompareMode != TCompareMode::None;
        m_compareLabel->setText(
            compared ? CompareChangeLine(m_shownCompareMode, current, earlier, settings)
                     : QString());
        m_compareLabel->setVisible(compared);
    }
    if (!m_chart)
        return;
    const QString axisTitle = AxisTitle(m_fuelMode, Schema());
    if (!axisTitle.isEmpty())
        m_chart->setLeftAxisTitle(axisTitle);
    // The "c" is the Latin letter, as the operators have always read it.
    m_chart->setTitleLines({m_title + QStringLiteral(" c ") +
                                PeriodBoundText(DateFrom(), settings) + QStringLiteral(" по ") +
                                PeriodBoundText(DateTo(), settings),
                            PageIndicatorText(m_chart->currentPage(), m_chart->pageCount())});
    if (m_chart->isZoomed())
        m_chart->undoZoom();
    if (m_pageBar) {
        // As the chart counts pages, so at least 1: a bar whose maximum fell below its minimum
        // of 1 would shift its minimum and show a page 0.
        m_pageBar->setMaximum(m_chart->pageCount());
        m_pageBar->setValue(1);
    }
    m_chart->setCurrentPage(1);
    // A compared chart names its dashed lines even without one line per item.
    if (m_multiGraph || m_shownCompareMode != TCompareMode::None)
        m_chart->setLegendVisible(true);
    m_chart->setVisible(true);
}

TGraphExtractor::TRowAmount TGraphExtractor::SchemaAmountOf(TClientDataSet& set, int schema,
                                                            const QString& schema0,
                                                            const QString& schema0Factor,
                                                            const QString& schema1) {
    TRowAmount amount;
    switch (schema) {
    case 0:
        amount.first = &set.fieldByName(schema0);
        if (schema0Factor.isEmpty()) {
            amount.kind = TRowAmount::Kind::Field;
        } else {
            amount.kind = TRowAmount::Kind::Product;
            amount.second = &set.fieldByName(schema0Factor);
        }
        break;
    case 1:
        amount.kind = TRowAmount::Kind::Field;
        amount.first = &set.fieldByName(schema1);
        break;
    case 2:
        amount.kind = TRowAmount::Kind::One;
        break;
    default:
        break;
    }
    return amount;
}

int TGraphExtractor::CompanionSeries(int partner) {
    if (!m_chart)
        return partner;
    const int index = m_companionBase + partner;
    while (m_chart->seriesCount() <= index)
        m_chart->addSeries();
    ChartSeries* companion = m_chart->series(index);
    if (const ChartSeries* series = m_chart->series(partner)) {
        companion->setColor(series->color());
        companion->setLineWidth(series->lineWidth());
        companion->setMarkerShape(series->markerShape());
        companion->setMarkerSize(series->markerSize());
        companion->setMarkerVisible(series->isMarkerVisible());
        companion->setMarksVisible(series->areMarksVisible());
        companion->setTitle(CompareSeriesName(m_shownCompareMode, series->title()));
    }
    companion->setCompanion(partner, DateFrom() - m_passFrom);
    companion->setShownInLegend(true);
    return index;
}

void TGraphExtractor::Aggregate(int seriesIndex, const TRowAmount& amount) {
    TClientDataSet& set = *DataSet();
    const TField& data = set.fieldByName(QStringLiteral("Data"));
    set.first();
    TDataSetRows<TRowAmount> rows{set, data, amount};
    const qsizetype buckets = BucketCount(m_passFrom, m_passTo, m_stepLength, kLargestReserve);
    FillPoints(seriesIndex, buckets, [&](const TBucketSink& sink) {
        RunBucketPass(m_passFrom, m_passTo, m_stepLength, rows, sink);
    });
}

void TGraphExtractor::AddBucketSums(int seriesIndex, const QList<double>& sums) {
    FillPoints(seriesIndex, std::min(sums.size(), kLargestReserve), [&](const TBucketSink& sink) {
        // The starts step as the bucket pass steps them, so the points fall where the pass's own
        // would.
        TDateTime start = m_passFrom;
        for (const double sum : sums) {
            sink(start, sum, 0);
            start += m_stepLength;
        }
    });
}

void TGraphExtractor::FillPoints(int seriesIndex, qsizetype buckets, const TBucketPass& pass) {
    const bool companion = m_companionBase >= 0;
    m_seriesIndex = seriesIndex;
    // The colour AddPoint would give each point: the series' own, which nothing changes during
    // the pass.
    QColor color;
    Synchronize([this, companion, &color] {
        if (companion) {
            m_seriesIndex = CompanionSeries(m_seriesIndex);
        } else if (m_chart && m_seriesIndex > m_chart->seriesCount() - 1) {
            AddSeries();
            m_seriesIndex = m_chart->seriesCount() - 1;
        }
        if (const ChartSeries* series = m_chart ? m_chart->series(m_seriesIndex) : nullptr)
            color = series->color();
    });
    TfmProgress& progress = *Progress();
    m_pointValue = 0;
    progress.SetStepValue(0);
    m_pointTime = m_passFrom;

    // The buckets travel to the user interface thread in batches: a thread round trip per bucket
    // would cost more than the bucket itself. The worker, which would otherwise only wait, builds
    // the points whole, labels and colour included; the user interface thread moves them onto
    // the end of the series in order and advances the bar by the rows they consumed, which leaves
    // the chart and the bar as AddPoint and ProgressApplyStep bucket by bucket would.
    //
    // An empty series takes its first batch over whole, storage included, so that batch is made
    // here as large as the whole pass and its pages are touched here: otherwise the user
    // interface thread would spend most of its share of a run growing the series and faulting in
    // its fresh memory. Later batches reuse one list of their own, emptied by each hand-over.
    QList<ChartPoint> batch;
    // Reserved first: growing by resize alone would round the room up by more than half.
    batch.reserve(buckets);
    batch.resize(buckets);
    batch.resize(0);
    int batchRows = 0;
    auto batchStart = std::chrono::steady_clock::now();
    const auto handOver = [&] {
        if (batch.isEmpty())
            return;
        const ChartPoint& last = batch.constLast();
        m_pointTime = last.x;
        m_pointValue = last.y;
        progress.SetStepValue(batchRows);
        Synchronize([&] {
            if (ChartSeries* series = m_chart ? m_chart->series(m_seriesIndex) : nullptr)
                series->addPoints(std::move(batch));
            progress.ProgressApplyStep();
        });
        // Without a series the batch is still full; a series that took the storage over left
        // none behind.
        batch.clear();
        if (batch.capacity() == 0)
            batch.reserve(kBatchBuckets);
        batchRows = 0;
        m_pointValue = 0;
        progress.SetStepValue(0);
        batchStart = std::chrono::steady_clock::now();
    };
    // Where the points stand: bucket i of an earlier period at bucket i of the run's own period,
    // stepped exactly as the pass of that period steps, so both lie on the same times. In the
    // period's own pass it is the bucket start itself. The label is the bucket's own date.
    TDateTime place = DateFrom();
    try {
        pass([&](TDateTime start, double sum, int consumed) {
            if (Terminated())
                throw TRunAbandoned();
            CheckCancelled();
            batch.append(ChartPoint{place, sum, PointLabelText(start, m_settings), color});
            place += m_stepLength;
            batchRows += consumed;
            if (batch.size() >= qsizetype(kBatchBuckets) ||
                std::chrono::steady_clock::now() - batchStart >= kBatchInterval)
                handOver();
        });
    } catch (const TRunAbandoned&) {
        throw;
    } catch (const EOperationCancelled&) {
        // The run's chart is cleared: a part of it would read as the whole.
        throw;
    } catch (...) {
        // The chart keeps the points of the buckets before the failing row, as it would have
        // without batching.
        handOver();
        throw;
    }
    handOver();
    if (m_multiGraph && !companion)
        Synchronize([this] { TitleSeries(); });
}

void TGraphExtractor::RunOnce() {
    bool failed = false;
    bool abandoned = false;
    bool cancelled = false;
    QString error;
    // Before the progress window shows: its "Отмена" belongs to this run from then on.
    ResetCancel();
    try {
        Synchronize([this] { Progress()->ProgressStart(); });
        Synchronize([this] { ClearChart(); });
        m_retiredPoints.clear();
        m_companionBase = -1;
        m_passFrom = DateFrom();
        m_passTo = DateTo();
        CheckBucketStep(DateFrom(), DateTo(), m_stepLength);
        OpenConnection();
        const int rows = OpenPeriod(m_passFrom, m_passTo);
        CheckCancelled();
        Progress()->SetMaxValue(rows + 1);
        Synchronize([this] {
            // Taken once per run: the companions' names and the box's line follow the run,
            // not a menu choice made while it works.
            m_shownCompareMode = m_compareMode;
            Progress()->ProgressApplyMax();
            Progress()->ProgressApplyStep();
        });
        FillSeries();
        if (m_shownCompareMode != TCompareMode::None) {
            // The earlier period through the same statement, data set and bucket pass, under the
            // same progress: its rows join the bar's end when they are known.
            const TComparePeriod earlier = EarlierPeriod(m_shownCompareMode, DateFrom(), DateTo());
            CheckBucketStep(earlier.from, earlier.to, m_stepLength);
            const int earlierRows = OpenPeriod(earlier.from, earlier.to);
            CheckCancelled();
            Progress()->SetMaxValue(rows + earlierRows + 1);
            Synchronize([this] {
                m_companionBase = m_chart ? m_chart->seriesCount() : 0;
                Progress()->ProgressApplyMax();
            });
            m_passFrom = earlier.from;
            m_passTo = earlier.to;
            FillSeries();
        }
        Synchronize([this] { FinishChart(); });
    } catch (const TRunAbandoned&) {
        abandoned = true;
    } catch (const EOperationCancelled&) {
        cancelled = true;
    } catch (const std::exception& e) {
        failed = true;
        error = ExceptionMessage(e);
    }
    // Whatever a cancel made the server say (a closed connection, a cancelled statement) is the
    // operator's own doing, not a fault to show.
    cancelled = cancelled || CancelRequested();
    abandoned = abandoned || Terminated();
    if (cancelled && !abandoned) {
        Attempt(failed, error, [this] {
            Synchronize([this] {
                ClearChart();
                for (QLabel* label : {m_minLabel.data(), m_maxLabel.data(), m_countLabel.data(),
                                      m_compareLabel.data()})
                    if (label)
                        label->clear();
                if (m_compareLabel)
                    m_compareLabel->setVisible(false);
            });
        });
        m_retiredPoints.clear();
    }
    CleanUp(failed, error);
    if (failed && !abandoned && !cancelled)
        ReportError(error);
}

int TGraphExtractor::OpenPeriod(TDateTime dateFrom, TDateTime dateTo) {
    TClientDataSet* set = DataSet();
    if (!set)
        throw EDatabaseError(QStringLiteral("Построителю статистики не передан набор данных"));
    set->close();
    // The previous pass's grade filter must not thin out the next period's count.
    set->setFiltered(false);
    set->setCommandText(BuildQuery(dateFrom, dateTo));
    set->open();
    return set->recordCount();
}

void TGraphExtractor::CleanUp(bool& failed, QString& error) {
    // Each step on its own: whatever fails, the window must be enabled again at the end.
    if (TClientDataSet* set = DataSet()) {
        Attempt(failed, error, [set] { set->close(); });
        Attempt(failed, error, [set] { set->setFiltered(false); });
        Attempt(failed, error, [set] {
            if (TDCOMConnection* connection = set->remoteServer())
                connection->close();
        });
    }
    Attempt(failed, error, [this] {
        Synchronize([this] {
            Progress()->ProgressFinish();
            // Here, where no "Отмена" can come any more: a cancel must not outlive its run in the
            // connection the window's other data sets share.
            ResetCancel();
        });
    });
}
