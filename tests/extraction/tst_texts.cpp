#include "extraction/ChainRun.h"
#include "extraction/ComparePeriod.h"
#include "extraction/GSMExtractor.h"
#include "extraction/QueryLiterals.h"
#include "extraction/StatReport.h"
#include "extraction/StatTexts.h"
#include "platform/chart/ChartModel.h"
#include "platform/core/CodePage1251.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <stdexcept>

// The texts of the system: the literals of its queries, which must not follow the process locale
// (CTest runs this again under ru_RU, de_DE and C), the labels of the workstation's settings, and
// the report document line by line, without a window and without a viewer.
class TestTexts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QStringLiteral("ru_RU")));
        m_ru = TFormatSettings::fromLocale(QLocale(QStringLiteral("ru_RU")));
        qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
    }

    // Each text a function gives for its value, to the character: the query literals (also under
    // the other locales CTest runs this in), the statistics' texts in the Russian format.
    void texts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto query = [](double value) { return DateTimeToQueryText(true, value); };
        const auto change = [this](double c, double b) { return CompareChangeText(c, b, m_ru); };
        const double midnight = encodeDateTime(2009, 8, 24);
        const double nextMidnight = encodeDateTime(2009, 8, 25);
        const double kHalfMsec = 0.5 / kMsecPerDay;
        const double withTime = encodeDateTime(2009, 8, 1, 13, 5, 7);
        const auto label = [this](double value) { return PointLabelText(value, m_ru); };
        const auto picture = [](int width, int height) {
            const QSize shown = StatReportPictureSize(QSize(width, height));
            return QStringLiteral("%1x%2").arg(shown.width()).arg(shown.height());
        };
        // The earlier period of [from, to), to the millisecond: its literals are written to it.
        const auto earlier = [](TCompareMode mode, const QDateTime& from, const QDateTime& to) {
            const TComparePeriod p = EarlierPeriod(mode, fromQDateTime(from), fromQDateTime(to));
            return DateTimeToQueryText(true, p.from) + " - " + DateTimeToQueryText(true, p.to);
        };
        const auto at = [](int y, int m, int d, int h = 0, int min = 0) {
            return QDateTime(QDate(y, m, d), QTime(h, min));
        };
        const TCompareMode previous = TCompareMode::Previous, yearAgo = TCompareMode::Year;
        // The chain's pool for TORVI_CHAIN_CONNECTIONS (none when null).
        const auto pool = [](const char* value) {
            if (value)
                qputenv("TORVI_CHAIN_CONNECTIONS", value);
            else
                qunsetenv("TORVI_CHAIN_CONNECTIONS");
            return QString::number(TChainRun::ConnectionsFromEnvironment());
        };
        TFormatSettings dotted = m_ru;
        dotted.timeSeparator = QLatin1Char('.');
        // clang-format off
        QTest::newRow("date-time, full") << query(encodeDateTime(2009, 8, 24, 7, 5, 3, 45))
            << "2009-08-24 07:05:03.045";
        QTest::newRow("date-time without msec")
            << DateTimeToQueryText(false, encodeDateTime(2009, 8, 24, 7, 5, 3, 45))
            << "2009-08-24 07:05:03";
        QTest::newRow("last msec of day") << query(nextMidnight - 1 / kMsecPerDay)
            << "2009-08-24 23:59:59.999";
        QTest::newRow("under half msec before midnight") << query(nextMidnight - 0.8 * kHalfMsec)
            << "2009-08-25 00:00:00.000";
        QTest::newRow("over half msec before midnight") << query(nextMidnight - 1.2 * kHalfMsec)
            << "2009-08-24 23:59:59.999";
        QTest::newRow("rounded up msec") << query(midnight + (45.6 / kMsecPerDay))
            << "2009-08-24 00:00:00.046";
        QTest::newRow("rounding carries into seconds") << query(midnight + (59999.7 / kMsecPerDay))
            << "2009-08-24 00:01:00.000";
        QTest::newRow("leap day") << query(encodeDateTime(2024, 2, 29, 23, 0, 0, 7))
            << "2024-02-29 23:00:00.007";
        QTest::newRow("float, integer") << FloatToQueryText(5.0) << "5";
        QTest::newRow("float, half") << FloatToQueryText(12.5) << "12.5";
        QTest::newRow("binary noise") << FloatToQueryText(0.1 + 0.2) << "0.3";
        QTest::newRow("third") << FloatToQueryText(1.0 / 3) << "0.333333333333333";
        QTest::newRow("15 integer digits") << FloatToQueryText(123456789012345.0)
            << "123456789012345";
        QTest::newRow("16 integer digits") << FloatToQueryText(1e15) << "1E15";
        QTest::newRow("long mantissa") << FloatToQueryText(123456789012345678.0)
            << "1.23456789012346E17";
        QTest::newRow("smallest fixed") << FloatToQueryText(0.00001) << "0.00001";
        QTest::newRow("below fixed") << FloatToQueryText(0.0000099) << "9.9E-6";
        QTest::newRow("negative small") << FloatToQueryText(-2.5e-7) << "-2.5E-7";
        QTest::newRow("rounding to 15 digits") << FloatToQueryText(9.999999999999998) << "10";
        QTest::newRow("exact half away from zero") << FloatToQueryText(84.44000244140625)
            << "84.4400024414063";
        QTest::newRow("just below the half")
            << FloatToQueryText(std::nextafter(84.44000244140625, 0.0)) << "84.4400024414062";
        QTest::newRow("negative exact half") << FloatToQueryText(-229475799016654.5)
            << "-229475799016655";
        QTest::newRow("SQL string") << QuotedSqlString("АИ-92") << "'АИ-92'";
        QTest::newRow("SQL string with apostrophe") << QuotedSqlString("O'Neil") << "'O''Neil'";
        QTest::newRow("growth") << change(1123.0, 1000.0) << "+12,3 %";
        QTest::newRow("fall") << change(999.0, 1000.0) << "-0,1 %";
        QTest::newRow("a change under the last digit has no sign") << change(1000.4, 1000.0)
            << "0,0 %";
        QTest::newRow("zero base") << change(5.0, 0.0) << "—";
        QTest::newRow("nothing then and now") << change(0.0, 0.0) << "—";
        QTest::newRow("a sum beyond doubles") << change(1.0, double(INFINITY)) << "—";
        QTest::newRow("period bound at midnight has no time")
            << PeriodBoundText(encodeDateTime(2009, 8, 1), m_ru) << "01.08.2009";
        QTest::newRow("period bound with time") << PeriodBoundText(withTime, m_ru)
            << "01.08.2009 13:05:07";
        // The workstation's short date "dd.MM.yy" keeps its two-digit year.
        QTest::newRow("period bound, two-digit year")
            << PeriodBoundText(withTime, TFormatSettings::fromLocale(QLocale("de_DE")))
            << "01.08.09 13:05:07";
        QTest::newRow("point label") << label(encodeDateTime(2009, 8, 24, 7, 5))
            << "24.08.09 07:05";
        QTest::newRow("point label, the workstation's time separator")
            << PointLabelText(encodeDateTime(2009, 8, 24, 7, 5), dotted) << "24.08.09 07.05";
        QTest::newRow("seconds are dropped") << label(encodeDateTime(2009, 8, 24, 23, 59, 59, 400))
            << "24.08.09 23:59";
        QTest::newRow("rounded into the next day")
            << label(encodeDateTime(2009, 12, 31, 23, 59, 59, 999) + 0.6 / kMsecPerDay)
            << "01.01.10 00:00";
        QTest::newRow("year 2000") << label(encodeDateTime(2000, 2, 29, 12, 30))
            << "29.02.00 12:30";
        QTest::newRow("before the epoch") << label(-1.25) << "29.12.99 06:00";
        QTest::newRow("comma text of none") << CommaText({}) << "";
        QTest::newRow("comma text of one empty line") << CommaText({""}) << "\"\"";
        QTest::newRow("comma text, plain and quoted")
            << CommaText({"a", "b c", "say \"x\"", "1,5"})
            << "a,\"b c\",\"say \"\"x\"\"\",\"1,5\"";
        QTest::newRow("previous month of 31 days") << earlier(previous, at(2009, 8, 1), at(2009, 9, 1))
            << "2009-07-01 00:00:00.000 - 2009-08-01 00:00:00.000";
        QTest::newRow("previous minute") << earlier(previous, at(2009, 8, 24), at(2009, 8, 24, 0, 1))
            << "2009-08-23 23:59:00.000 - 2009-08-24 00:00:00.000";
        QTest::newRow("previous two years over a leap day")
            << earlier(previous, at(2024, 1, 1), at(2026, 1, 1))
            << "2021-12-31 00:00:00.000 - 2024-01-01 00:00:00.000";
        QTest::newRow("year ago keeps dates and times")
            << earlier(yearAgo, at(2009, 8, 24, 7, 30), at(2009, 8, 25, 7, 30))
            << "2008-08-24 07:30:00.000 - 2008-08-25 07:30:00.000";
        QTest::newRow("year ago: 29 February becomes 28 February")
            << earlier(yearAgo, at(2024, 2, 29, 12), at(2024, 3, 1))
            << "2023-02-28 12:00:00.000 - 2023-03-01 00:00:00.000";
        QTest::newRow("year ago of two years") << earlier(yearAgo, at(2024, 2, 29), at(2026, 2, 28))
            << "2023-02-28 00:00:00.000 - 2025-02-28 00:00:00.000";
        QTest::newRow("report picture, square scaled up") << picture(300, 300) << "550x550";
        QTest::newRow("report picture, wide scaled down") << picture(727, 625) << "550x473";
        QTest::newRow("report picture, tall") << picture(625, 727) << "473x550";
        QTest::newRow("chain pool, unset") << pool(nullptr) << "4";
        QTest::newRow("chain pool, least") << pool("1") << "1";
        QTest::newRow("chain pool, most") << pool("64") << "64";
        QTest::newRow("chain pool, none") << pool("0") << "4";
        QTest::newRow("chain pool, over the most") << pool("65") << "4";
        QTest::newRow("chain pool, not a number") << pool("abc") << "4";
        QTest::newRow("chain pool, blanks") << pool(" 8 ") << "8";
        qunsetenv("TORVI_CHAIN_CONNECTIONS");
        // clang-format on
    }
    void texts() {
        QFETCH(QString, text);
        QTEST(text, "expected");
    }

    // The context goes in front once per level; a wrapped error is raised as its own class. Every
    // error a boundary catches reads the same: the system's own message as it stands, and the
    // standard library's what() as UTF-8, the C library's words in the suite's locales.
    void exceptionMessages() {
        const EConvertError cause(QStringLiteral("'abc' is not a number"));
        const auto plain = ExceptionWithContext(cause, QStringLiteral("Экспорт в Excel"), false);
        QCOMPARE(plain->message(), QStringLiteral("Экспорт в Excel -> 'abc' is not a number"));
        const auto once = ExceptionWithContext(cause, QStringLiteral("inner"), true);
        const auto twice = ExceptionWithContext(*once, QStringLiteral("outer"), true);
        QCOMPARE(twice->message(),
                 QStringLiteral("outer -> inner -> 'abc' is not a number <# EConvertError #>"));
        QCOMPARE(cause.message(), QStringLiteral("'abc' is not a number"));
        QCOMPARE(ExceptionMessage(std::runtime_error("Нет места на устройстве")),
                 QStringLiteral("Нет места на устройстве"));

        const auto wrapped = ExceptionWithContext(EDatabaseError("no table"), "ctx", true);
        QCOMPARE(wrapped->className(), QStringLiteral("EDatabaseError"));
        try {
            wrapped->raise();
            QFAIL("raise() returned");
        } catch (const EDatabaseError& e) {
            QCOMPARE(e.message(), QStringLiteral("ctx -> no table <# EDatabaseError #>"));
            QCOMPARE(QString::fromUtf8(e.what()), e.message());
            QCOMPARE(ExceptionMessage(e), e.message());
        } catch (const Exception&) {
            QFAIL("raised as the base class");
        }
    }

    void document_data() {
        QTest::addColumn<bool>("split");
        QTest::addColumn<bool>("compared");        // with the previous period: one line more
        QTest::addColumn<QString>("name");         // the first series', as the station names it
        QTest::addColumn<QString>("picture");      // the picture's path under the suite's folder
        QTest::addColumn<QStringList>("expected"); // lines 11 to 13 (14) and the picture's
        const QString img = QStringLiteral("    <img src=\"%1\" width=550 height=473 ></td>");
        // The split runs' extremes and totals.
        const QStringList totals{"      <br><b>Максимальное значение:<br>1000,00  АИ-92<br><br>",
                                 "      Минимальное значение:<br>0,00  АИ-95<br><br>",
                                 "    ИТОГО:<br><nobr>АИ-92 : 1500,00</nobr><br></b><br><br>"};
        QTest::newRow("split run compared: companions stay out of ИТОГО, a zero base shows —")
            << true << true << "АИ-92"
            << "/d/TEMP/chartimage.bmp"
            << totals + QStringList{
                            "    <b>ПРОШЛЫЙ ПЕРИОД:<br><nobr>АИ-92 : 1250,00 (+20,0 %)</nobr><br>"
                            "<nobr>АИ-95 : 0,00 (—)</nobr><br><nobr>к прошлому периоду: "
                            "+20,0 %</nobr></b><br><br>",
                            img.arg("/d/TEMP/chartimage.bmp")};
        QTest::newRow("unsplit run")
            << false << false << ""
            << "/d/TEMP/chartimage.bmp"
            << QStringList{"      <br><b>Максимальное значение:<br>1000,00  <br><br>",
                           "      Минимальное значение:<br>500,00  <br><br>",
                           "    ИТОГО:<br></b><br><br>", img.arg("/d/TEMP/chartimage.bmp")};
        // Markup characters show as themselves, and a marker in a name or path is only text.
        QTest::newRow("markup and markers in names")
            << true << false << "Чай & <b>кофе</b> %2"
            << "/d/100%2 \"a&b\"/TEMP/chartimage.bmp"
            << QStringList{"      <br><b>Максимальное значение:<br>1000,00  Чай &amp; "
                           "&lt;b&gt;кофе&lt;/b&gt; %2<br><br>",
                           "      Минимальное значение:<br>0,00  АИ-95<br><br>",
                           "    ИТОГО:<br><nobr>Чай &amp; &lt;b&gt;кофе&lt;/b&gt; %2 : "
                           "1500,00</nobr><br></b><br><br>",
                           "    <img src=\"/d/100%2 &quot;a&amp;b&quot;/TEMP/chartimage.bmp\" "
                           "width=550 height=473 ></td>"};
    }
    void document() {
        QFETCH(bool, split);
        QFETCH(bool, compared);
        QFETCH(QString, name);
        ChartModel chart;
        ChartSeries* first = chart.addSeries();
        first->addPoint(1, 500);
        first->addPoint(2, 1000);
        if (split) {
            first->setTitle(name);
            ChartSeries* second = chart.addSeries();
            second->setTitle(QStringLiteral("АИ-95"));
            second->addPoint(1, 0);
            second->addPoint(2, 0);
        }
        for (int partner = 0; compared && partner < 2; ++partner) {
            ChartSeries* companion = chart.addSeries();
            companion->setTitle(
                CompareSeriesName(TCompareMode::Previous, chart.series(partner)->title()));
            companion->setCompanion(partner, 2);
            companion->addPoint(1, partner ? 0 : 250);
            companion->addPoint(2, partner ? 0 : 1000);
        }
        TStatReportFacts facts;
        facts.subject = QStringLiteral("Отчет по ГСМ");
        facts.titleLines = {QStringLiteral("Время - Литры c 01.08.2009 по 02.08.2009"),
                            QStringLiteral("Страница 1 из 1")};
        facts.maxValue = 1000;
        facts.maxName = name;
        facts.minValue = split ? 0 : 500;
        facts.minName = split ? QStringLiteral("АИ-95") : QString();
        facts.chart = &chart;
        facts.pictureSize = QSize(550, 473);
        QFETCH(QString, picture);
        facts.picturePath = picture;
        facts.madeAt = encodeDateTime(2009, 8, 24, 15, 30);
        facts.compareMode = compared ? TCompareMode::Previous : TCompareMode::None;
        const QStringList lines = StatReportLines(facts, m_ru);
        QCOMPARE(lines.size(), 23 + compared);
        QTEST(lines.mid(10, 3 + compared) << lines.at(15 + compared), "expected");
        QCOMPARE(lines.at(0), QStringLiteral("<html><head><title>Отчет по ГСМ</title>"));
        QCOMPARE(lines.at(5), QStringLiteral("<b>\"Время - Литры c 01.08.2009 по 02.08.2009\","
                                             "\"Страница 1 из 1\"</b><br>"));
        QCOMPARE(lines.at(6),
                 QStringLiteral("<b>Дата составления отчета 24.08.2009 15:30:00</b><br>"));
        QCOMPARE(lines.last(), QStringLiteral("</body></html>"));

        // Without a chart neither totals nor picture.
        facts.chart = nullptr;
        const QStringList bare = StatReportLines(facts, m_ru);
        QCOMPARE(bare.size(), 21);
        QVERIFY(!bare.join(QString()).contains(QStringLiteral("ИТОГО")));
        QVERIFY(!bare.join(QString()).contains(QStringLiteral("<img")));
    }

    void numbers_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("total, 10 integer digits") << 1234567890.125 << 10 << "1234567890,00";
        QTest::newRow("total, 11 integer digits") << 12345678901.0 << 10 << "1,23456789E10";
        QTest::newRow("total rounded to 2 decimals") << 1500.005 << 10 << "1500,01";
        QTest::newRow("value, 8 integer digits") << 12345678.0 << 8 << "12345678,00";
        QTest::newRow("value, 9 integer digits") << 123456789.0 << 8 << "1,2345679E8";
        QTest::newRow("eight significant digits") << 1234567.891 << 8 << "1234567,90";
        QTest::newRow("half up on decimal form") << 1000.125 << 8 << "1000,13";
        QTest::newRow("half away from zero negative") << -0.015 << 8 << "-0,02";
        QTest::newRow("below half") << 2.004999 << 8 << "2,00";
        QTest::newRow("carry through nines") << 99.995 << 8 << "100,00";
        QTest::newRow("rounding into nine digits") << 99999999.5 << 8 << "1E8";
        QTest::newRow("tiny negative shows no sign") << -0.004 << 8 << "0,00";
        QTest::newRow("rounds up to a cent") << 0.005 << 8 << "0,01";
        // clang-format on
    }
    // Totals have 10 significant digits, every other number of the statistics 8.
    void numbers() {
        QFETCH(double, value);
        QFETCH(int, digits);
        QFETCH(QString, text);
        QCOMPARE(StatNumberText(value, digits, m_ru), text);
        if (digits == 8)
            QCOMPARE(StatValueText(value, m_ru), text);
        ChartModel chart;
        ChartSeries* series = chart.addSeries();
        series->setTitle(QStringLiteral(" Газ "));
        series->addPoint(0, value);
        if (digits == 10)
            QCOMPARE(StatReportTotals(chart, m_ru),
                     QStringLiteral("<nobr> Газ  : %1</nobr><br>").arg(text));
    }

    void bytes() {
        const QByteArray document =
            StatReportDocument({QStringLiteral("АИ-92"), QStringLiteral("Чай 中 <b>"), QString()});
        QCOMPARE(document, CodePage1251::encode(QStringLiteral("АИ-92")) + "\r\n" +
                               CodePage1251::encode(QStringLiteral("Чай ")) +
                               "&#20013; <b>\r\n\r\n");
    }

    void reachesTheViewer() {
        ChartModel chart;
        chart.addSeries()->addPoint(0, 5);
        TGSMExtractor extractor(2, 0, 1, 1, nullptr, &chart, nullptr, TGSMColor(), nullptr);
        QString plain = QStringLiteral("unset"), title;
        QByteArray html;
        SetReportViewerEntry([&](const QString& p, const QByteArray& h, const QString& t) {
            plain = p;
            html = h;
            title = t;
        });
        extractor.ShowStatReport(QStringLiteral("Отчет по ГСМ"));
        SetReportViewerEntry({});
        QCOMPARE(title, QStringLiteral("СТАТИСТИКА: Отчет по ГСМ"));
        QVERIFY(plain.isEmpty());
        const QString picture = m_root.filePath(QStringLiteral("TEMP/chartimage.bmp"));
        const QSize shown = StatReportPictureSize(QImageReader(picture).size());
        QCOMPARE(shown.width(), 550);
        QVERIFY2(CodePage1251::decode(html).contains(
                     QStringLiteral("<img src=\"%1\" width=550 height=%2 ></td>")
                         .arg(picture)
                         .arg(shown.height())),
                 html.constData());
    }

private:
    TFormatSettings m_ru;
    QTemporaryDir m_root;
};

QTEST_MAIN(TestTexts)
#include "tst_texts.moc"
