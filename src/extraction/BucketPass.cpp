#include "extraction/BucketPass.h"

#include "extraction/StatTexts.h"
#include "platform/core/Exceptions.h"

#include <cmath>
#include <cstdlib>

QString BucketStepProblem(TDateTime dateFrom, TDateTime dateTo, double stepLength) {
    if (!(stepLength > 0))
        return QStringLiteral("Длина шага выборки должна быть больше нуля, а она равна %1 сут.: "
                              "задайте множитель и единицу шага перед построением")
            .arg(stepLength);
    if (!(dateFrom <= dateTo))
        return QString(); // no bucket at all: the pass ends at once
    // A step below half the spacing of doubles around the bounds would leave the bucket start
    // where it is. The spacing grows with the magnitude, so the larger bound is the one to test.
    const TDateTime far = std::fabs(dateFrom) > std::fabs(dateTo) ? dateFrom : dateTo;
    if (!(far + stepLength > far))
        return QStringLiteral("Шаг выборки %1 сут. слишком мал для дат выбранного периода: "
                              "начало шага от него не сдвигается")
            .arg(stepLength);
    return QString();
}

void CheckBucketStep(TDateTime dateFrom, TDateTime dateTo, double stepLength) {
    const QString problem = BucketStepProblem(dateFrom, dateTo, stepLength);
    if (!problem.isEmpty())
        throw EConvertError(problem);
}

qsizetype BucketCount(TDateTime dateFrom, TDateTime dateTo, double stepLength, qsizetype limit) {
    if (!BucketStepProblem(dateFrom, dateTo, stepLength).isEmpty())
        return 0;
    qsizetype count = 0;
    for (TDateTime start = dateFrom; start <= dateTo && count < limit; start += stepLength)
        ++count;
    return count;
}

void RaiseSumOutOfRange(TDateTime bucketStart, bool total) {
    const QString bucket = PointLabelText(bucketStart, TFormatSettings::workstation());
    if (total)
        throw EConvertError(QStringLiteral("Сумма с начала периода по шаг с %1 выходит за пределы "
                                           "±1E15: в данных станции неверные значения, такой "
                                           "суммы продаж не бывает")
                                .arg(bucket));
    throw EConvertError(QStringLiteral("Сумма за шаг с %1 не является числом или выходит за "
                                       "пределы ±1E15: в данных станции за этот шаг неверное "
                                       "значение")
                            .arg(bucket));
}
