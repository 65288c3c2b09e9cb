#include "platform/data/Field.h"

#include "platform/core/Exceptions.h"
#include "platform/data/StationDateTime.h"

#include <QLocale>

#include <cmath>

TField::TField(TFieldDef def, const qsizetype* currentRow, QString dataSetName)
    : m_def(std::move(def))
    , m_row(currentRow)
    , m_dataSetName(std::move(dataSetName)) {}

QString TField::displayLabel() const {
    return m_def.displayLabel.isEmpty() ? m_def.name : m_def.displayLabel;
}

void TField::raiseOutOfRange(const QString& value, const QString& type) const {
    throw EConvertError(QStringLiteral("Значение «%1» поля «%2» (набор данных %3) не помещается в "
                                       "%4")
                            .arg(value, m_def.name, m_dataSetName, type));
}

void TField::raiseClosed() const {
    throw EDatabaseError(QStringLiteral("Поле «%1» нельзя прочитать: набор данных %2 закрыт")
                             .arg(m_def.name, m_dataSetName));
}

double TField::textToFloat(const QString& text) const {
    if (text.trimmed().isEmpty())
        return 0.0;
    bool ok = false;
    double v = text.trimmed().toDouble(&ok);
    if (!ok)
        v = QLocale::system().toDouble(text.trimmed(), &ok);
    if (!ok)
        throw EConvertError(QStringLiteral("Значение «%1» поля «%2» (набор данных %3) не является "
                                           "числом")
                                .arg(text, m_def.name, m_dataSetName));
    return v;
}

TDateTime TField::textToDateTime(const QString& text) const {
    if (text.trimmed().isEmpty())
        return 0.0;
    TDateTime v = 0;
    if (!StationDateTime::parse(text, v))
        throw EConvertError(QStringLiteral("Значение «%1» поля «%2» (набор данных %3) не является "
                                           "датой и временем")
                                .arg(text, m_def.name, m_dataSetName));
    return v;
}

qint64 TField::integerAt(qsizetype row) const {
    const TDataColumn& c = column();
    if (row < 0 || c.isNull(row))
        return 0;
    switch (c.storage) {
    case TDataColumn::Storage::Integer:
        return c.ints[size_t(row)];
    case TDataColumn::Storage::Float:
    case TDataColumn::Storage::DateTime: {
        const double rounded = std::round(c.doubles[size_t(row)]);
        qint64 v = 0;
        if (!wholeNumberToInt64(rounded, &v))
            raiseOutOfRange(QString::number(c.doubles[size_t(row)], 'g', 15),
                            QStringLiteral("64-разрядное целое число"));
        return v;
    }
    case TDataColumn::Storage::Text:
        break;
    }
    const QString& text = c.dictionary[c.textIds[size_t(row)]];
    if (text.trimmed().isEmpty())
        return 0;
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("Значение «%1» поля «%2» (набор данных %3) не является "
                                           "целым числом")
                                .arg(text, m_def.name, m_dataSetName));
    return v;
}

// As the operator reads it: the workstation's decimal separator and date order.
QString TField::textAt(qsizetype row) const {
    const TDataColumn& c = column();
    if (row < 0 || c.isNull(row))
        return QString();
    switch (c.storage) {
    case TDataColumn::Storage::Integer:
        return QString::number(c.ints[size_t(row)]);
    case TDataColumn::Storage::Float: {
        QLocale locale = QLocale::system();
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return locale.toString(c.doubles[size_t(row)], 'g', 15);
    }
    case TDataColumn::Storage::DateTime: {
        const QDateTime dt = toQDateTime(c.doubles[size_t(row)]);
        const QLocale locale = QLocale::system();
        const QString date = locale.toString(dt.date(), QLocale::ShortFormat);
        if (dt.time() == QTime(0, 0))
            return date;
        return date + QLatin1Char(' ') + dt.time().toString(QStringLiteral("hh:mm:ss"));
    }
    case TDataColumn::Storage::Text:
        break;
    }
    return c.dictionary[c.textIds[size_t(row)]];
}

QVariant TField::valueAt(qsizetype row) const {
    const TDataColumn& c = column();
    if (row < 0 || c.isNull(row))
        return QVariant();
    switch (c.storage) {
    case TDataColumn::Storage::Integer:
        return QVariant(qlonglong(c.ints[size_t(row)]));
    case TDataColumn::Storage::Float:
        return QVariant(c.doubles[size_t(row)]);
    case TDataColumn::Storage::DateTime:
        return QVariant(toQDateTime(c.doubles[size_t(row)]));
    case TDataColumn::Storage::Text:
        break;
    }
    return QVariant(c.dictionary[c.textIds[size_t(row)]]);
}
