#pragma once

#include "platform/core/DateTime.h"

#include <QString>

#include <cmath>

// The heart of every extractor run: the rows of a period, sorted by time, cut into buckets of
// equal length and summed, one point per bucket. It knows nothing of threads, data sets or
// charts, so the same pass serves both extractors and can be checked on its own.

// Empty when a pass with this step could finish; otherwise the Russian reason why it never would.
// A step of 0 (the multiplier or unit never set), a negative or NaN one would loop for ever, and
// so would a step too small to move a date-time as large as the period's bounds.
QString BucketStepProblem(TDateTime dateFrom, TDateTime dateTo, double stepLength);

// Raises EConvertError with BucketStepProblem's reason, if any.
void CheckBucketStep(TDateTime dateFrom, TDateTime dateTo, double stepLength);

// How many buckets RunBucketPass emits between these bounds, stepped as it steps them, but no
// more than `limit`; 0 for a step it would refuse.
qsizetype BucketCount(TDateTime dateFrom, TDateTime dateTo, double stepLength, qsizetype limit);

// The largest sum, either sign, that a bucket or a series' running total may reach. No station
// sells that much in a period; a sum beyond it comes from a broken value in the data, and beyond
// about 1E308 it would be infinite and shown as «INF» on the value axis and in the report. Every
// figure drawn from the sums (axis steps, report totals, labels) stays finite below it.
inline constexpr double kLargestBucketSum = 1e15;

// Raises EConvertError naming the bucket: its sum, or the series' total up to it (`total`), is not
// a number or lies beyond kLargestBucketSum.
[[noreturn]] void RaiseSumOutOfRange(TDateTime bucketStart, bool total);

// Runs the bucket pass. `rows` is positioned on its first row and offers
//   bool AtEnd(), TDateTime Time(), double Amount(), void Next();
// `emitPoint(TDateTime start, double sum, int rowsConsumed)` is called once per bucket, also for
// an empty one, while the bucket start is not later than dateTo. Bucket k covers
// [start_k, start_k + stepLength); start_0 is dateFrom and every next start is the previous one
// plus stepLength, added in double precision. Rows are only compared with the end of the current
// bucket: they come sorted and never before dateFrom. `emitPoint` may throw to abandon the pass.
// A bucket whose sum, or the total of the buckets up to it (added in bucket order, as the report
// adds its totals), leaves kLargestBucketSum ends the pass with RaiseSumOutOfRange before it is
// emitted.
template <class Rows, class EmitPoint>
void RunBucketPass(TDateTime dateFrom, TDateTime dateTo, double stepLength, Rows& rows,
                   EmitPoint&& emitPoint) {
    CheckBucketStep(dateFrom, dateTo, stepLength);
    TDateTime pointTime = dateFrom;
    double total = 0;
    while (pointTime <= dateTo) {
        const TDateTime bucketEnd = pointTime + stepLength;
        double pointValue = 0;
        int consumed = 0;
        while (!rows.AtEnd() && rows.Time() < bucketEnd) {
            pointValue += rows.Amount();
            ++consumed;
            rows.Next();
        }
        total += pointValue;
        // Negated comparisons: a NaN fails them too.
        if (!(std::fabs(pointValue) <= kLargestBucketSum))
            RaiseSumOutOfRange(pointTime, false);
        if (!(std::fabs(total) <= kLargestBucketSum))
            RaiseSumOutOfRange(pointTime, true);
        emitPoint(pointTime, pointValue, consumed);
        pointTime = bucketEnd;
    }
}
