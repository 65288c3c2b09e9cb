#include "ReportRun.h"

#include "extraction/FoodExtractor.h"
#include "extraction/GSMExtractor.h"
#include "platform/chart/ChartPalette.h"
#include "platform/core/Exceptions.h"
#include "platform/data/Field.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/ui/MessageBoxes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

namespace {

// The goods window draws at most so many lines at once, and says so in these words.
constexpr int kMaxSplitItems = 50;
// How often the run is looked at while the worker builds.
constexpr int kPollMs = 10;

// The colour value of the grade in row `index` of the server's grade list, as the fuel window
// builds its colour table: palette entry 19 − index, kept to its low 16 bits.
quint32 gradeColorValue(int index) {
    return 0x01000000u | (quint32(19 - index) & 0xFFFFu);
}

struct TListed {
    QString name;
    qint32 id = 0;
};

// The rows of a list provider, in the server's order.
QList<TListed> listOf(TDCOMConnection& connection, const QString& provider,
                      const QString& idField) {
    TClientDataSet set(provider);
    set.setProviderName(provider);
    set.setRemoteServer(&connection);
    QList<TListed> rows;
    try {
        set.open();
        const TField& name =
            set.fieldByName(idField.isEmpty() ? QStringLiteral("GsmName") : QStringLiteral("Name"));
        const TField* id = idField.isEmpty() ? nullptr : &set.fieldByName(idField);
        for (set.first(); !set.eof(); set.next())
            rows.append({name.asString(), id ? id->asInteger() : 0});
    } catch (...) {
        set.close();
        connection.close();
        throw;
    }
    set.close();
    connection.close();
    return rows;
}

// What an item is called in the messages about it, in the forms the messages need.
struct TItemKind {
    QString unknown;   // "Неизвестный вид топлива"
    QString ambiguous; // "Название вида топлива"
};

// The listed entries the typed names or identifiers stand for, in the order typed.
TQueryItems pick(const QList<TListed>& listed, const QStringList& wanted, bool byId,
                 const TItemKind& kind) {
    TQueryItems items;
    for (const QString& typed : wanted) {
        QList<TListed> found;
        for (const TListed& entry : listed)
            if (entry.name == typed)
                found << entry;
        bool number = false;
        const qint32 id = typed.trimmed().toInt(&number);
        if (found.isEmpty() && byId && number)
            for (const TListed& entry : listed)
                if (entry.id == id)
                    found << entry;
        if (found.isEmpty())
            throw Exception(QStringLiteral("%1: «%2»").arg(kind.unknown, typed));
        if (found.size() > 1) {
            QStringList ids;
            for (const TListed& entry : found)
                ids << QString::number(entry.id);
            throw Exception(QStringLiteral("%1 «%2» носят несколько записей (коды %3): укажите код")
                                .arg(kind.ambiguous, typed, ids.join(QStringLiteral(", "))));
        }
        items.append({found.first().name, found.first().id});
    }
    return items;
}

} // namespace

ReportRun::ReportRun(const ReportOptions& options)
    : m_options(options)
    , m_listConnection(chooseStatServer)
    , m_runConnection(chooseStatServer)
    , m_runSet(options.subject == ReportOptions::Subject::Fuel ? QStringLiteral("cdsLogtran")
                                                               : QStringLiteral("cdsTovarStat")) {
    for (TDCOMConnection* connection : {&m_listConnection, &m_runConnection}) {
        connection->setComputerName(m_options.statServer);
        connection->setAfterConnect([this](TDCOMConnection& sender) {
            sender.setStatParameter(1, m_options.goodsDb);
            sender.setStatParameter(2, m_options.fuelDb);
        });
    }
    const bool fuel = m_options.subject == ReportOptions::Subject::Fuel;
    m_runSet.setProviderName(fuel ? QStringLiteral("dspLogtran") : QStringLiteral("dspGoodsStat"));
    m_runSet.setRemoteServer(&m_runConnection);
    m_chart.setBottomAxisTitle(QStringLiteral("Дата"));
    m_chart.setLeftAxisTitle(fuel ? QStringLiteral("Литры") : QStringLiteral("Продажа"));
    m_chart.setLegendVisible(false);
    m_chart.setPointsPerPage(30);
    if (fuel)
        AddFuelWindowSeries(m_chart);
}

ReportRun::~ReportRun() {
    // The worker draws into the chart: it must be gone before the chart is.
    m_extractor.reset();
}

void ReportRun::ResolveItems() {
    const bool fuel = m_options.subject == ReportOptions::Subject::Fuel;
    if (fuel) {
        const QList<TListed> grades = listOf(m_listConnection, QStringLiteral("dspGSM"), QString());
        m_colors.clear();
        for (int i = 0; i < grades.size(); ++i)
            m_colors.append({grades.at(i).name, gradeColorValue(i)});
        // As the window hands them over: checked grades in the order of its list.
        const TQueryItems wanted =
            m_options.all
                ? TQueryItems()
                : pick(grades, m_options.items, false,
                       {QStringLiteral("Неизвестный вид топлива"), QStringLiteral("Название")});
        m_items.clear();
        for (const TListed& grade : grades)
            if (m_options.all ||
                std::any_of(wanted.begin(), wanted.end(),
                            [&](const TQueryItem& w) { return w.Name == grade.name; }))
                m_items.append({grade.name, 0});
        if (m_items.isEmpty())
            throw Exception(QStringLiteral("На сервере нет ни одного вида топлива"));
    } else {
        const bool categories = m_options.selection == ReportOptions::Selection::Categories;
        QList<TListed> listed = categories ? listOf(m_listConnection, QStringLiteral("dspCategory"),
                                                    QStringLiteral("ID_Category"))
                                           : listOf(m_listConnection, QStringLiteral("dspGoods"),
                                                    QStringLiteral("ID_Goods"));
        // The selector offers no entry without a name.
        listed.removeIf([](const TListed& entry) { return entry.name.isEmpty(); });
        if (m_options.all) {
            m_items.clear();
            for (const TListed& entry : listed)
                m_items.append({entry.name, entry.id});
        } else {
            m_items = pick(listed, m_options.items, true,
                           categories ? TItemKind{QStringLiteral("Неизвестная категория"),
                                                  QStringLiteral("Название категории")}
                                      : TItemKind{QStringLiteral("Неизвестный товар"),
                                                  QStringLiteral("Название товара")});
        }
        if (m_items.isEmpty())
            throw Exception(categories ? QStringLiteral("На сервере нет ни одной категории")
                                       : QStringLiteral("На сервере нет ни одного товара"));
        if (m_options.split && m_items.size() > kMaxSplitItems)
            throw Exception(
                QStringLiteral("Максимально допустимое кол-во товаров/категорий для анализа - %1!")
                    .arg(kMaxSplitItems));
    }
}

QString ReportRun::SchemaCaption(int schema) const {
    return schemaCaptions(m_options.subject).value(schema);
}

QString ReportRun::ReportSubject() const {
    return m_options.subject == ReportOptions::Subject::Fuel ? QStringLiteral("Отчет по ГСМ")
                                                             : QStringLiteral("Отчет по товарам");
}

void ReportRun::Build(const Progress& progress, int schema, int split) {
    if (schema < 0)
        schema = m_options.schema;
    if (split < 0)
        split = m_options.split ? 1 : 0;
    const TDateTime from = fromQDateTime(m_options.from);
    const TDateTime to = fromQDateTime(m_options.to);
    if (!m_extractor) {
        if (m_options.subject == ReportOptions::Subject::Fuel) {
            auto fuel = std::make_unique<TGSMExtractor>(0, from, to, 0, &m_runSet, &m_chart,
                                                        nullptr, m_colors, nullptr);
            fuel->SetLiterLow(m_options.literLow);
            fuel->SetLiterHigh(m_options.literHigh);
            m_extractor = std::move(fuel);
        } else {
            auto goods = std::make_unique<TFoodExtractor>(0, from, to, 0, &m_runSet, &m_chart,
                                                          nullptr, nullptr);
            goods->SetByCategory(m_options.selection == ReportOptions::Selection::Categories);
            m_extractor = std::move(goods);
        }
    }
    TGraphExtractor& extractor = *m_extractor;
    extractor.SetDateFrom(from);
    extractor.SetDateTo(to);
    // The multiplier first: setting the unit computes the step length from it.
    extractor.SetStepMultiplier(m_options.stepMultiplier);
    extractor.SetStepUnit(m_options.stepUnit);
    extractor.SetSchema(schema);
    extractor.SetMultiGraph(split != 0);
    extractor.SetItems(m_items);
    extractor.SetFuelMode(m_options.subject == ReportOptions::Subject::Fuel);
    extractor.SetTitle(SchemaCaption(schema));
    extractor.SetCompareMode(TCompareMode(m_options.compare));
    RunExtractor(progress);
}

void ReportRun::Cancel() {
    m_cancelled = true;
    if (m_extractor)
        m_extractor->Cancel();
}

void ReportRun::RunExtractor(const Progress& progress) {
    if (m_cancelled)
        throw EOperationCancelled();
    // Nobody is there to answer a box: the run's error is taken from it and raised here.
    QString failure;
    const auto previous = MessageBoxes::setHandler([&failure](const MessageBoxes::Shown& box) {
        if (failure.isEmpty())
            failure = box.text.trimmed();
        return QMessageBox::Ok;
    });
    const auto restore = qScopeGuard([&] { MessageBoxes::setHandler(previous); });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (progress) {
            const QProgressBar* bar = m_extractor->Progress()->ProgressBar1();
            progress(bar->value(), bar->maximum());
        }
        if (m_extractor->Suspended())
            loop.quit();
    });
    m_extractor->Resume();
    poll.start();
    loop.exec();
    // A cancelled run leaves an empty chart, which no output may be made of.
    if (m_cancelled)
        throw EOperationCancelled();
    if (!failure.isEmpty())
        throw Exception(failure);
}

namespace {

// The earlier period's lines after the period's own, by their legend names, in chart order: the
// companion of line i is the i-th.
void appendCompanions(const ChartModel& chart, QList<TChartColumn>& columns) {
    for (int i = 0; i < chart.seriesCount(); ++i)
        if (chart.series(i)->isCompanion())
            columns.append({chart.series(i)->title(), chart.series(i)});
}

} // namespace

QList<TChartColumn> ReportRun::Columns() const {
    QList<TChartColumn> columns;
    if (m_extractor && m_extractor->MultiGraph()) {
        for (int i = 0; i < m_items.size(); ++i)
            columns.append({m_items.at(i).Name, m_chart.series(i)});
        appendCompanions(m_chart, columns);
        return columns;
    }
    QStringList names;
    for (const TQueryItem& item : m_items)
        names << item.Name;
    columns.append({names.join(QStringLiteral(", ")), m_chart.series(0)});
    appendCompanions(m_chart, columns);
    return columns;
}

TStatReportFacts ReportRun::ReportFacts() const {
    return m_extractor->ReportFacts(ReportSubject());
}

QList<QPair<QString, double>> ReportRun::Totals() const {
    QList<QPair<QString, double>> totals;
    for (int i = 0; i < m_chart.seriesCount(); ++i) {
        const ChartSeries* series = m_chart.series(i);
        double sum = 0;
        for (const ChartPoint& point : series->points())
            sum += point.y;
        // Untitled as the report sees it: nothing above a blank.
        const QString title = series->title();
        if (sum == 0 ||
            std::none_of(title.begin(), title.end(), [](QChar c) { return c.unicode() > ' '; }))
            continue;
        totals.append({series->title(), sum});
    }
    return totals;
}
