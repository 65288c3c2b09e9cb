#include "common/Errors.h"
#include "extraction/BucketPass.h"
#include "extraction/GSMExtractor.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {

struct Row {
    TDateTime time;
    double amount;
};

struct VectorRows {
    const std::vector<Row>& rows;
    std::size_t at = 0;
    bool AtEnd() const { return at >= rows.size(); }
    TDateTime Time() const { return rows[at].time; }
    double Amount() const { return rows[at].amount; }
    void Next() { ++at; }
};

struct Point {
    TDateTime start;
    double sum;
    int consumed;
};

std::vector<Point> pass(TDateTime from, TDateTime to, double step, const std::vector<Row>& rows) {
    std::vector<Point> points;
    VectorRows source{rows};
    RunBucketPass(from, to, step, source, [&](TDateTime start, double sum, int consumed) {
        points.push_back({start, sum, consumed});
    });
    return points;
}

// A function, not a constant: the date functions must not run before their own statics.
TDateTime day24() {
    return encodeDateTime(2009, 8, 24);
}

} // namespace

using Sums = QList<double>;

class TestBucketPass : public QObject {
    Q_OBJECT

private slots:
    void buckets_data() {
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<QList<double>>("times");
        QTest::addColumn<Sums>("sums");
        const double ms = 1.0 / kMsecPerDay;
        QTest::newRow("three whole days give four points, the last empty")
            << day24() + 3 << 1.0 << QList<double>{day24() + 0.5, day24() + 2.9}
            << Sums{1, 0, 1, 0};
        QTest::newRow("start of a bucket belongs to it, its end to the next")
            << day24() + 2 << 1.0 << QList<double>{day24(), day24() + 1, day24() + 1}
            << Sums{1, 2, 0};
        QTest::newRow("23:59:59.999 stays in its day")
            << day24() + 1 << 1.0 << QList<double>{day24() + 1 - ms} << Sums{1, 0};
        QTest::newRow("period shorter than a step")
            << day24() + 0.5 << 1.0 << QList<double>{day24() + 0.25} << Sums{1};
        QTest::newRow("empty period, from equals to")
            << day24() << 1.0 << QList<double>{} << Sums{0};
        QTest::newRow("rows beyond the last bucket are left")
            << day24() + 1 << 1.0 << QList<double>{day24() + 0.5, day24() + 5} << Sums{1, 0};
        QTest::newRow("six-hour buckets over a day")
            << day24() + 1 << 0.25
            << QList<double>{day24() + 0.25 - ms, day24() + 0.25, day24() + 0.75}
            << Sums{1, 1, 0, 1, 0};
    }
    void buckets() {
        QFETCH(double, to);
        QFETCH(double, step);
        QFETCH(QList<double>, times);
        std::vector<Row> rows;
        for (double t : times)
            rows.push_back({t, 1});
        Sums got;
        for (const Point& p : pass(day24(), to, step, rows))
            got << p.sum;
        QTEST(got, "sums");
    }

    // Starts are added up in double precision from DateFrom, and every row is consumed once.
    void consumedRowsAndStarts() {
        const double step = 1.0 / 24;
        std::vector<Row> rows;
        for (int i = 0; i < 48 * 4; ++i)
            rows.push_back({day24() + i * (step / 4), 0.5});
        const std::vector<Point> points = pass(day24(), day24() + 2, step, rows);
        double start = day24();
        int consumed = 0;
        for (const Point& p : points) {
            QCOMPARE(p.start, start);
            start += step;
            consumed += p.consumed;
        }
        QCOMPARE(consumed, 48 * 4);
        QCOMPARE(points.front().sum, 2.0);
        // Whether the start that lands on DateTo is reached follows from the repeated addition.
        QVERIFY(points.size() == 48 || points.size() == 49);
    }

    void refusedSteps_data() {
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("step");
        QTest::addColumn<QString>("message");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("zero: the unit never set") << day24() + 1 << 0.0 << "больше нуля";
        QTest::newRow("not a number") << day24() + 1 << nan << "больше нуля";
        QTest::newRow("too small to move the start") << day24() + 1 << 1e-15 << "слишком мал";
        QTest::newRow("endless period") << inf << 1.0 << "слишком мал";
    }
    void refusedSteps() {
        QFETCH(double, to);
        QFETCH(double, step);
        QFETCH(QString, message);
        const QString error = errorOf<EConvertError>([&] { pass(day24(), to, step, {}); });
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    void stepLength_data() {
        QTest::addColumn<double>("multiplier");
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("laterMultiplier");
        QTest::addColumn<double>("length");
        QTest::newRow("two hours") << 2.0 << 1 << 2.0 << 2.0 / 24;
        QTest::newRow("week") << 1.0 << 3 << 1.0 << 7.0;
        QTest::newRow("month is 30 days") << 1.0 << 4 << 1.0 << 30.0;
        QTest::newRow("year is 365 days") << 2.0 << 5 << 2.0 << 730.0;
        QTest::newRow("unit -1 counts as a day") << 3.0 << -1 << 3.0 << 3.0;
        QTest::newRow("multiplier after the unit changes nothing") << 1.0 << 1 << 5.0 << 1.0 / 24;
    }
    void stepLength() {
        QFETCH(double, multiplier);
        QFETCH(int, unit);
        QFETCH(double, laterMultiplier);
        TGSMExtractor extractor(0, day24(), day24() + 1, 0, nullptr, nullptr, nullptr, {}, nullptr);
        QCOMPARE(extractor.StepLength(), 0.0);
        extractor.SetStepMultiplier(multiplier);
        extractor.SetStepUnit(unit);
        extractor.SetStepMultiplier(laterMultiplier);
        QTEST(extractor.StepLength(), "length");
    }
};

QTEST_MAIN(TestBucketPass)
#include "tst_bucketpass.moc"
