#include "extraction/StatTexts.h"

#include <QtTest>

class TestStatTexts : public QObject {
    Q_OBJECT

private slots:
    void valueText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("eight significant digits") << 1234567.891 << "1234567,90";
        QTest::newRow("half up on decimal form") << 1000.125 << "1000,13";
        QTest::newRow("half away from zero negative") << -0.015 << "-0,02";
        QTest::newRow("below half") << 2.004999 << "2,00";
        QTest::newRow("carry through nines") << 99.995 << "100,00";
        QTest::newRow("nine integer digits") << 123456789.0 << "1,2345679E8";
        QTest::newRow("rounding into nine digits") << 99999999.5 << "1E8";
        QTest::newRow("tiny negative shows no sign") << -0.004 << "0,00";
        QTest::newRow("rounds up to a cent") << 0.005 << "0,01";
    }
    void valueText() {
        QFETCH(double, value);
        QTEST(StatValueText(value, russian()), "expected");
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
        QCOMPARE(PointLabelText(value, russian()), expected);
        TFormatSettings dotted = russian();
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

private:
    static TFormatSettings russian() {
        return TFormatSettings::fromLocale(QLocale(QLocale::Russian, QLocale::Russia));
    }
};

QTEST_GUILESS_MAIN(TestStatTexts)
#include "tst_stattexts.moc"
