#include "extraction/GSMExtractor.h"
#include "extraction/StatReport.h"
#include "extraction/StatTexts.h"
#include "platform/chart/ChartModel.h"
#include "platform/core/CodePage1251.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

// The report document line by line, without a window and without a viewer.
class TestStatReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QStringLiteral("ru_RU")));
        m_ru = TFormatSettings::fromLocale(QLocale(QStringLiteral("ru_RU")));
        qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
    }

    void document_data() {
        QTest::addColumn<bool>("split");
        QTest::addColumn<QStringList>("expected"); // lines 11 to 13
        QTest::newRow("split fuel run")
            << true
            << QStringList{"      <br><b>Максимальное значение:<br>1000,00  АИ-92<br><br>",
                           "      Минимальное значение:<br>0,00  АИ-95<br><br>",
                           "    ИТОГО:<br><nobr>АИ-92 : 1500,00</nobr><br></b><br><br>"};
        QTest::newRow("unsplit run")
            << false
            << QStringList{"      <br><b>Максимальное значение:<br>1000,00  <br><br>",
                           "      Минимальное значение:<br>500,00  <br><br>",
                           "    ИТОГО:<br></b><br><br>"};
    }
    void document() {
        QFETCH(bool, split);
        ChartModel chart;
        ChartSeries* first = chart.addSeries();
        first->addPoint(1, 500);
        first->addPoint(2, 1000);
        if (split) {
            first->setTitle(QStringLiteral("АИ-92"));
            ChartSeries* second = chart.addSeries();
            second->setTitle(QStringLiteral("АИ-95"));
            second->addPoint(1, 0);
            second->addPoint(2, 0);
        }
        TStatReportFacts facts;
        facts.subject = QStringLiteral("Отчет по ГСМ");
        facts.titleLines = {QStringLiteral("Время - Литры c 01.08.2009 по 02.08.2009"),
                            QStringLiteral("Страница 1 из 1")};
        facts.maxValue = 1000;
        facts.maxName = split ? QStringLiteral("АИ-92") : QString();
        facts.minValue = split ? 0 : 500;
        facts.minName = split ? QStringLiteral("АИ-95") : QString();
        facts.chart = &chart;
        facts.pictureSize = QSize(550, 473);
        facts.picturePath = QStringLiteral("/d/TEMP/chartimage.bmp");
        facts.madeAt = encodeDateTime(2009, 8, 24, 15, 30);
        const QStringList lines = StatReportLines(facts, m_ru);
        QCOMPARE(lines.size(), 23);
        QTEST(lines.mid(10, 3), "expected");
        QCOMPARE(lines.at(0), QStringLiteral("<html><head><title>Отчет по ГСМ</title>"));
        QCOMPARE(lines.at(5), QStringLiteral("<b>\"Время - Литры c 01.08.2009 по 02.08.2009\","
                                             "\"Страница 1 из 1\"</b><br>"));
        QCOMPARE(lines.at(6),
                 QStringLiteral("<b>Дата составления отчета 24.08.2009 15:30:00</b><br>"));
        QCOMPARE(lines.at(15), QStringLiteral("    <img src=\"/d/TEMP/chartimage.bmp\" width=550 "
                                              "height=473 ></td>"));
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

    void pointLabel_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("morning") << encodeDateTime(2009, 8, 24, 7, 5) << "24.08.09 07:05";
        QTest::newRow("seconds are dropped")
            << encodeDateTime(2009, 8, 24, 23, 59, 59, 400) << "24.08.09 23:59";
        QTest::newRow("rounded into the next day")
            << encodeDateTime(2009, 12, 31, 23, 59, 59, 999) + 0.6 / kMsecPerDay
            << "01.01.10 00:00";
        QTest::newRow("year 2000") << encodeDateTime(2000, 2, 29, 12, 30) << "29.02.00 12:30";
        QTest::newRow("before the epoch") << -1.25 << "29.12.99 06:00";
    }
    void pointLabel() {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(PointLabelText(value, m_ru), expected);
        TFormatSettings dotted = m_ru;
        dotted.timeSeparator = QLatin1Char('.');
        QCOMPARE(PointLabelText(value, dotted),
                 QString(expected).replace(QLatin1Char(':'), QLatin1Char('.')));
    }

    void periodBound_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        const double withTime = encodeDateTime(2009, 8, 1, 13, 5, 7);
        QTest::newRow("midnight has no time") << encodeDateTime(2009, 8, 1) << "ru_RU"
                                              << "01.08.2009";
        QTest::newRow("with time") << withTime << "ru_RU"
                                   << "01.08.2009 13:05:07";
        // The workstation's short date "dd.MM.yy" keeps its two-digit year.
        QTest::newRow("two-digit year") << withTime << "de_DE"
                                        << "01.08.09 13:05:07";
    }
    void periodBound() {
        QFETCH(double, value);
        QFETCH(QString, locale);
        QTEST(PeriodBoundText(value, TFormatSettings::fromLocale(QLocale(locale))), "expected");
    }

    void pictureSize_data() {
        QTest::addColumn<QSize>("bitmap");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("square scaled up") << QSize(300, 300) << QSize(550, 550);
        QTest::newRow("wide scaled down") << QSize(727, 625) << QSize(550, 473);
        QTest::newRow("tall") << QSize(625, 727) << QSize(473, 550);
    }
    void pictureSize() {
        QFETCH(QSize, bitmap);
        QTEST(StatReportPictureSize(bitmap), "shown");
    }

    void commaText_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("one empty line") << QStringList{""} << "\"\"";
        QTest::newRow("plain and quoted")
            << QStringList{"a", "b c", "say \"x\"", "1,5"} << "a,\"b c\",\"say \"\"x\"\"\",\"1,5\"";
    }
    void commaText() {
        QFETCH(QStringList, lines);
        QTEST(CommaText(lines), "text");
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

QTEST_MAIN(TestStatReport)
#include "tst_statreport.moc"
