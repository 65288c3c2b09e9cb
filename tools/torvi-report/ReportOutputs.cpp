#include "ReportOutputs.h"

#include "ReportRun.h"

#include "export/CsvExport.h"
#include "export/ExportFile.h"
#include "export/XlsxExport.h"
#include "extraction/GraphExtractor.h"
#include "extraction/StatReport.h"
#include "platform/chart/ChartView.h"
#include "platform/core/Exceptions.h"
#include "platform/core/FormatSettings.h"
#include "platform/core/TextTable.h"
#include "platform/ui/HtmlView.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPrinter>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString suffixOf(const QString& path) {
    return QFileInfo(path).suffix().toLower();
}

// The report's page with its picture: `picture` is written as a bitmap and the page names it
// by `pictureName`.
QByteArray reportPage(ReportRun& run, const QString& picture, const QString& pictureName) {
    TStatReportFacts facts = run.ReportFacts();
    if (facts.chart) {
        facts.pictureSize = StatReportPictureSize(WriteChartPicture(facts.chart, nullptr, picture));
        facts.picturePath = pictureName;
    }
    return StatReportDocument(StatReportLines(facts, TFormatSettings::workstation()));
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    TExportFile file(path);
    file.write(bytes);
    file.commit();
}

void writeHtml(ReportRun& run, const QString& path) {
    const QFileInfo target(path);
    const QString picture =
        target.absoluteDir().filePath(target.completeBaseName() + QStringLiteral(".bmp"));
    writeBytes(path, reportPage(run, picture, QFileInfo(picture).fileName()));
}

// As the viewer prints a report: the page opened in the HTML view from a file, printed without
// a dialog on A4, portrait, without backgrounds.
void writePdf(ReportRun& run, const QString& path) {
    QTemporaryDir work;
    if (!work.isValid())
        throw EOSError(QStringLiteral("Не удалось создать временную папку для печати отчета: %1")
                           .arg(work.errorString()));
    const QString page = work.filePath(QStringLiteral("torvihtmlreport.html"));
    const QString picture = work.filePath(QStringLiteral("chartimage.bmp"));
    {
        QFile file(page);
        const QByteArray html = reportPage(run, picture, picture);
        if (!file.open(QIODevice::WriteOnly) || file.write(html) != html.size() || !file.flush())
            throw EOSError(QStringLiteral("Не удалось записать временный файл отчета %1: %2")
                               .arg(page, file.errorString()));
    }
    HtmlView view;
    view.resize(800, 600);
    view.navigate(page);
    QCoreApplication::processEvents();

    TExportFile file(path);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file.temporaryPath());
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    view.printDocument(&printer, false);
    // The printer tells nothing of a failed write: a PDF is whole only with its end marker.
    QFile printed(file.temporaryPath());
    if (!printed.open(QIODevice::ReadOnly) || printed.size() < 8)
        TExportFile::fail(path, QStringLiteral("файл печати пуст"));
    printed.seek(std::max<qint64>(0, printed.size() - 32));
    if (!printed.readAll().contains("%%EOF"))
        TExportFile::fail(path, QStringLiteral("файл печати записан не полностью"));
    file.commit();
}

// Every point of the chart in one picture: one page as long as the longest series.
void writePng(ReportRun& run, const QString& path, QSize size) {
    ChartModel& chart = run.Chart();
    const int perPage = chart.pointsPerPage();
    const int page = chart.currentPage();
    const QStringList titles = chart.titleLines();
    int longest = 2;
    for (int i = 0; i < chart.seriesCount(); ++i)
        longest = std::max(longest, chart.series(i)->count());
    chart.setPointsPerPage(longest);
    if (titles.size() > 1)
        chart.setTitleLines({titles.first(), PageIndicatorText(1, 1)});
    const auto restore = qScopeGuard([&] {
        chart.setPointsPerPage(perPage);
        chart.setCurrentPage(page);
        chart.setTitleLines(titles);
    });
    ChartView view(&chart);
    view.resize(size);
    const QImage image = view.renderImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "PNG");
    if (!writer.write(image))
        TExportFile::fail(path, writer.errorString());
    writeBytes(path, bytes);
}

QString numberText(double value, int decimals, QChar point) {
    QString text = QString::number(value, 'f', decimals);
    if (text.startsWith(QLatin1Char('-')) && text.toDouble() == 0)
        text.remove(0, 1);
    return text.replace(QLatin1Char('.'), point);
}

// The items' totals under the three schemas, one split run each.
QByteArray totalsTable(ReportRun& run, const ReportOptions& options) {
    const bool fuel = options.subject == ReportOptions::Subject::Fuel;
    constexpr int schemas = 3;
    QList<QList<double>> sums; // per schema, per item, then per item of the earlier period
    for (int schema = 0; schema < schemas; ++schema) {
        run.Build({}, schema, 1);
        QList<double> perItem;
        for (const TChartColumn& column : run.Columns()) {
            double sum = 0;
            for (const ChartPoint& point : column.series->points())
                sum += point.y;
            perItem << sum;
        }
        sums << perItem;
    }
    const QChar point = TFormatSettings::workstation().decimalSeparator;
    const QStringList header =
        fuel ? QStringList{QStringLiteral("Вид топлива"), QStringLiteral("Литры"),
                           QStringLiteral("Сумма"), QStringLiteral("Заправок")}
             : QStringList{options.selection == ReportOptions::Selection::Categories
                               ? QStringLiteral("Категория")
                               : QStringLiteral("Товар"),
                           QStringLiteral("Сумма"), QStringLiteral("Количество"),
                           QStringLiteral("Продаж")};
    const QString heading = fuel ? QStringLiteral("ПРОДАЖИ ГСМ ПО ВИДАМ ТОПЛИВА")
                            : options.selection == ReportOptions::Selection::Categories
                                ? QStringLiteral("ПРОДАЖИ ТОВАРОВ ПО КАТЕГОРИЯМ")
                                : QStringLiteral("ПРОДАЖИ ТОВАРОВ");
    // One table for the period, and with a comparison a second one for the earlier period.
    const TQueryItems& items = run.Items();
    const auto table = [&](qsizetype first, const QDateTime& from, const QDateTime& to,
                           const QString& suffix) {
        QList<QStringList> rows;
        double total[schemas] = {0, 0, 0};
        for (int i = 0; i < items.size(); ++i) {
            QStringList row{items.at(i).Name};
            for (int schema = 0; schema < schemas; ++schema) {
                const double value = sums.at(schema).value(first + i);
                total[schema] += value;
                row << numberText(value, schema == 2 ? 0 : 2, point);
            }
            rows << row;
        }
        const QStringList totalRow{QStringLiteral("Итого"), numberText(total[0], 2, point),
                                   numberText(total[1], 2, point), numberText(total[2], 0, point)};
        const QString period = QStringLiteral("Период: %1 - %2")
                                   .arg(from.toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                                        to.toString(QStringLiteral("dd.MM.yyyy HH:mm")));
        return ItemTotalsTable(heading + suffix, period, header, rows, totalRow);
    };
    QStringList lines = table(0, options.from, options.to, QString());
    const TCompareMode mode = TCompareMode(options.compare);
    if (mode != TCompareMode::None) {
        const TComparePeriod earlier =
            EarlierPeriod(mode, fromQDateTime(options.from), fromQDateTime(options.to));
        lines << QString()
              << table(items.size(), toQDateTime(earlier.from), toQDateTime(earlier.to),
                       QStringLiteral(": ") + CompareName(mode).toUpper());
    }
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

} // namespace

QStringList WriteReportOutputs(ReportRun& run, const ReportOptions& options) {
    QStringList written;
    QStringList tables;
    for (const QString& output : options.outputs) {
        const QString kind = suffixOf(output);
        if (kind == QLatin1String("txt")) {
            tables << output;
            continue;
        }
        if (kind == QLatin1String("csv")) {
            WriteChartCsv(output, TChartTable(run.Columns()),
                          options.machineCsv ? TCsvDialect::Machine : TCsvDialect::Spreadsheet);
        } else if (kind == QLatin1String("xlsx")) {
            const TStatReportFacts facts = run.ReportFacts();
            TXlsxSummary summary;
            summary.title = facts.titleLines.value(0);
            summary.valueAxisTitle = run.Chart().leftAxisTitle();
            summary.maxValue = facts.maxValue;
            summary.maxName = facts.maxName;
            summary.minValue = facts.minValue;
            summary.minName = facts.minName;
            summary.totals = run.Totals();
            WriteChartXlsx(output, TChartTable(run.Columns()), summary);
        } else if (kind == QLatin1String("html")) {
            writeHtml(run, output);
        } else if (kind == QLatin1String("pdf")) {
            writePdf(run, output);
        } else if (kind == QLatin1String("png")) {
            writePng(run, output, options.pictureSize);
        }
        written << output;
    }
    // Last: each schema's run replaces the chart the other outputs are made of.
    if (!tables.isEmpty()) {
        const QByteArray table = totalsTable(run, options);
        for (const QString& path : tables) {
            writeBytes(path, table);
            written << path;
        }
    }
    return written;
}
