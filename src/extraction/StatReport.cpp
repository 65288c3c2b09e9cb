#include "extraction/StatReport.h"

#include "extraction/GraphExtractor.h"
#include "extraction/StatTexts.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/core/CodePage1251.h"
#include "platform/core/DaraPaths.h"
#include "platform/core/Exceptions.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QWidget>

#include <cmath>

namespace {

// Names and titles come from the station's database: a "<" or "&" in a goods name must show as
// itself, not open a tag.
QString htmlText(const QString& text, bool attribute = false) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += attribute ? QStringLiteral("&quot;") : QStringLiteral("\"");
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool needsQuotes(const QString& line) {
    for (const QChar c : line)
        if (c.unicode() <= ' ' || c == QLatin1Char(',') || c == QLatin1Char('"'))
            return true;
    return false;
}

TReportViewerEntry& viewerEntry() {
    static TReportViewerEntry entry;
    return entry;
}

// A chart without a window around it is drawn at the size the windows open with.
constexpr QSize kDetachedChartSize(727, 425);

} // namespace

QString CommaText(const QStringList& lines) {
    if (lines.size() == 1 && lines.constFirst().isEmpty())
        return QStringLiteral("\"\"");
    QStringList parts;
    for (const QString& line : lines) {
        if (!needsQuotes(line)) {
            parts << line;
            continue;
        }
        QString quoted = line;
        quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
        parts << QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    return parts.join(QLatin1Char(','));
}

QString StatReportTotals(const ChartModel& chart, const TFormatSettings& settings) {
    QString totals;
    for (int i = 0; i < chart.seriesCount(); ++i) {
        const ChartSeries* series = chart.series(i);
        double sum = 0;
        for (const ChartPoint& point : series->points())
            sum += point.y;
        // Trimmed as the system trims: blanks and control characters at both ends.
        QString title = series->title();
        qsizetype first = 0, last = title.size();
        while (first < last && title.at(first).unicode() <= ' ')
            ++first;
        while (last > first && title.at(last - 1).unicode() <= ' ')
            --last;
        if (first == last || sum == 0)
            continue;
        totals += QStringLiteral("<nobr>") + htmlText(title) + QStringLiteral(" : ") +
                  StatNumberText(sum, 10, settings) + QStringLiteral("</nobr><br>");
    }
    return totals;
}

QSize StatReportPictureSize(QSize bitmap) {
    const int longer = std::max(bitmap.width(), bitmap.height());
    if (longer <= 0)
        return QSize(0, 0);
    const double k = 550.0 / longer;
    return QSize(int(std::lround(bitmap.width() * k)), int(std::lround(bitmap.height() * k)));
}

QString StatReportPicturePath() {
    return mapDaraPath(QStringLiteral("C:\\DARA\\TEMP\\chartimage.bmp"));
}

QStringList StatReportLines(const TStatReportFacts& facts, const TFormatSettings& settings) {
    const QString subject = htmlText(facts.subject);
    QStringList lines;
    lines << QStringLiteral("<html><head><title>") + subject + QStringLiteral("</title>")
          << QStringLiteral(
                 "<meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\">")
          << QStringLiteral("</head>") << QStringLiteral("<body>")
          << QStringLiteral("<center><font size=4><b>") + subject +
                 QStringLiteral("</b></font></center><br>")
          << QStringLiteral("<b>") + htmlText(CommaText(facts.titleLines)) +
                 QStringLiteral("</b><br>")
          << QStringLiteral("<b>Дата составления отчета ") +
                 PeriodBoundText(facts.madeAt, settings) + QStringLiteral("</b><br>")
          << QStringLiteral("<table width=100%>") << QStringLiteral("  <tr>")
          << QStringLiteral("  <td width=15% valign=top>")
          << QStringLiteral("      <br><b>Максимальное значение:<br>") +
                 StatValueText(facts.maxValue, settings) + QStringLiteral("  ") +
                 htmlText(facts.maxName) + QStringLiteral("<br><br>")
          << QStringLiteral("      Минимальное значение:<br>") +
                 StatValueText(facts.minValue, settings) + QStringLiteral("  ") +
                 htmlText(facts.minName) + QStringLiteral("<br><br>");
    if (facts.chart)
        lines << QStringLiteral("    ИТОГО:<br>") + StatReportTotals(*facts.chart, settings) +
                     QStringLiteral("</b><br><br>");
    lines << QStringLiteral("   </td>") << QStringLiteral("  <td width=85% valign=top>");
    if (facts.chart)
        lines << QStringLiteral("    <img src=\"%1\" width=%2 height=%3 ></td>")
                     .arg(htmlText(facts.picturePath, true),
                          QString::number(facts.pictureSize.width()),
                          QString::number(facts.pictureSize.height()));
    lines << QStringLiteral("  </tr>") << QStringLiteral("</table>") << QString() << QString()
          << QString() << QString() << QStringLiteral("</body></html>");
    return lines;
}

QByteArray StatReportDocument(const QStringList& lines) {
    QByteArray document;
    for (const QString& line : lines) {
        if (CodePage1251::representable(line)) {
            document += CodePage1251::encode(line);
        } else {
            for (const char32_t c : line.toUcs4()) {
                const QString one = QString::fromUcs4(&c, 1);
                document += CodePage1251::representable(one)
                                ? CodePage1251::encode(one)
                                : QByteArray("&#") + QByteArray::number(quint32(c)) + ';';
            }
        }
        document += "\r\n";
    }
    return document;
}

QSize WriteChartPicture(ChartModel* chart, QWidget* ownerWindow, const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw EOSError(QStringLiteral("Не удалось создать папку %1").arg(folder));
    ChartView* shown = nullptr;
    if (ownerWindow)
        for (ChartView* view : ownerWindow->findChildren<ChartView*>())
            if (view->model() == chart)
                shown = view;
    if (shown) {
        shown->saveToBmp(path);
    } else {
        ChartView detached(chart);
        detached.resize(kDetachedChartSize);
        detached.saveToBmp(path);
    }
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid())
        throw EOSError(QStringLiteral("Не удалось прочитать рисунок диаграммы %1: %2")
                           .arg(path, reader.errorString()));
    return size;
}

void SetReportViewerEntry(TReportViewerEntry entry) {
    viewerEntry() = std::move(entry);
}

void ShowStatisticsReport(const TGraphExtractor& extractor, const QString& subject) {
    const TFormatSettings settings = TFormatSettings::workstation();
    TStatReportFacts facts;
    facts.subject = subject;
    facts.madeAt = fromQDateTime(QDateTime::currentDateTime());
    ChartModel* chart = extractor.Chart();
    if (chart)
        facts.titleLines = chart->titleLines();
    // Both into the same variables, as the statistics labels get them.
    extractor.GetMaxValue(facts.maxValue, facts.maxName);
    facts.minValue = facts.maxValue;
    facts.minName = facts.maxName;
    extractor.GetMinValue(facts.minValue, facts.minName);
    if (chart) {
        facts.chart = chart;
        facts.picturePath = StatReportPicturePath();
        facts.pictureSize = StatReportPictureSize(
            WriteChartPicture(chart, extractor.OwnerWindow(), facts.picturePath));
    }
    const QByteArray html = StatReportDocument(StatReportLines(facts, settings));
    if (!viewerEntry())
        throw Exception(QStringLiteral("Просмотр отчетов не подключен к модулю статистики"));
    viewerEntry()(QString(), html, QStringLiteral("СТАТИСТИКА: ") + subject);
}
