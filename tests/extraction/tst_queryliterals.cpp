#include "extraction/QueryLiterals.h"

#include <QtTest>

#include <cmath>

namespace {
const double kHalfMsec = 0.5 / kMsecPerDay;
}

// CTest runs this again under ru_RU, de_DE and C: the texts must not follow the process locale.
class TestQueryLiterals : public QObject {
    Q_OBJECT

private slots:
    void dateTimeText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("withMsec");
        QTest::addColumn<QString>("expected");
        const double midnight = encodeDateTime(2009, 8, 24);
        const double nextMidnight = encodeDateTime(2009, 8, 25);
        QTest::newRow("full") << encodeDateTime(2009, 8, 24, 7, 5, 3, 45) << true
                              << "2009-08-24 07:05:03.045";
        QTest::newRow("without msec")
            << encodeDateTime(2009, 8, 24, 7, 5, 3, 45) << false << "2009-08-24 07:05:03";
        QTest::newRow("last msec of day")
            << nextMidnight - 1 / kMsecPerDay << true << "2009-08-24 23:59:59.999";
        QTest::newRow("under half msec before midnight")
            << nextMidnight - 0.8 * kHalfMsec << true << "2009-08-25 00:00:00.000";
        QTest::newRow("over half msec before midnight")
            << nextMidnight - 1.2 * kHalfMsec << true << "2009-08-24 23:59:59.999";
        QTest::newRow("rounded up msec")
            << midnight + (45.6 / kMsecPerDay) << true << "2009-08-24 00:00:00.046";
        QTest::newRow("rounding carries into seconds")
            << midnight + (59999.7 / kMsecPerDay) << true << "2009-08-24 00:01:00.000";
        QTest::newRow("leap day") << encodeDateTime(2024, 2, 29, 23, 0, 0, 7) << true
                                  << "2024-02-29 23:00:00.007";
    }
    void dateTimeText() {
        QFETCH(double, value);
        QFETCH(bool, withMsec);
        QTEST(DateTimeToQueryText(withMsec, value), "expected");
    }

    void floatText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("integer") << 5.0 << "5";
        QTest::newRow("half") << 12.5 << "12.5";
        QTest::newRow("binary noise") << 0.1 + 0.2 << "0.3";
        QTest::newRow("third") << 1.0 / 3 << "0.333333333333333";
        QTest::newRow("15 integer digits") << 123456789012345.0 << "123456789012345";
        QTest::newRow("16 integer digits") << 1e15 << "1E15";
        QTest::newRow("long mantissa") << 123456789012345678.0 << "1.23456789012346E17";
        QTest::newRow("smallest fixed") << 0.00001 << "0.00001";
        QTest::newRow("below fixed") << 0.0000099 << "9.9E-6";
        QTest::newRow("negative small") << -2.5e-7 << "-2.5E-7";
        QTest::newRow("rounding to 15 digits") << 9.999999999999998 << "10";
        QTest::newRow("exact half away from zero") << 84.44000244140625 << "84.4400024414063";
        QTest::newRow("just below the half")
            << std::nextafter(84.44000244140625, 0.0) << "84.4400024414062";
        QTest::newRow("negative exact half") << -229475799016654.5 << "-229475799016655";
    }
    void floatText() {
        QFETCH(double, value);
        QTEST(FloatToQueryText(value), "expected");
    }

    // The context goes in front once per level; a wrapped error is raised as its own class.
    void exceptionWithContext() {
        const EConvertError cause(QStringLiteral("'abc' is not a number"));
        const auto plain = ExceptionWithContext(cause, QStringLiteral("Экспорт в Excel"), false);
        QCOMPARE(plain->message(), QStringLiteral("Экспорт в Excel -> 'abc' is not a number"));
        const auto once = ExceptionWithContext(cause, QStringLiteral("inner"), true);
        const auto twice = ExceptionWithContext(*once, QStringLiteral("outer"), true);
        QCOMPARE(twice->message(),
                 QStringLiteral("outer -> inner -> 'abc' is not a number <# EConvertError #>"));
        QCOMPARE(cause.message(), QStringLiteral("'abc' is not a number"));

        const auto wrapped = ExceptionWithContext(EDatabaseError("no table"), "ctx", true);
        QCOMPARE(wrapped->className(), QStringLiteral("EDatabaseError"));
        try {
            wrapped->raise();
            QFAIL("raise() returned");
        } catch (const EDatabaseError& e) {
            QCOMPARE(e.message(), QStringLiteral("ctx -> no table <# EDatabaseError #>"));
            QCOMPARE(QString::fromUtf8(e.what()), e.message());
        } catch (const Exception&) {
            QFAIL("raised as the base class");
        }
    }

    void quotedSqlString_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "АИ-92"
                               << "'АИ-92'";
        QTest::newRow("apostrophe") << "O'Neil"
                                    << "'O''Neil'";
    }
    void quotedSqlString() {
        QFETCH(QString, value);
        QTEST(QuotedSqlString(value), "expected");
    }
};

QTEST_GUILESS_MAIN(TestQueryLiterals)
#include "tst_queryliterals.moc"
