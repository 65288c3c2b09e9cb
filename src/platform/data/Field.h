#pragma once

#include "platform/data/DataPacket.h"

#include <QString>
#include <QVariant>

#include <limits>

// A field as kept with a data set (the stored definitions) or as delivered by the server.
struct TFieldDef {
    QString name;
    TFieldType dataType = TFieldType::Unknown;
    int size = 0;         // characters, for strings
    QString displayLabel; // the grid's column title; the name when empty
    int displayWidth = 0; // characters; 0 leaves it to the grid
};

// One field of an open data set. Get it once with fieldByName and read it on every row: a read is
// a switch and a vector access, with no lookup, because the extraction walks hundreds of thousands
// of rows. The object stays valid while its data set exists; reading it while the set is closed
// raises EDatabaseError. A null value reads as 0, the zero date-time or empty text.
class TField {
public:
    const QString& fieldName() const { return m_def.name; }
    QString displayLabel() const;
    TFieldType dataType() const { return m_def.dataType; }
    int size() const { return m_def.size; }
    int displayWidth() const { return m_def.displayWidth; }
    const TFieldDef& definition() const { return m_def; }

    // The current record of the data set.
    bool isNull() const { return isNullAt(*m_row); }
    double asFloat() const { return floatAt(*m_row); }
    TDateTime asDateTime() const { return dateTimeAt(*m_row); }
    qint64 asLargeInt() const { return integerAt(*m_row); }
    // Raises EConvertError for a value outside the range of int.
    int asInteger() const { return narrowToInt(integerAt(*m_row)); }
    QString asString() const { return textAt(*m_row); }
    QVariant value() const { return valueAt(*m_row); }

    // Any record, by its row in the fetched result (TClientDataSet::physicalRow); for grids.
    bool isNullAt(qsizetype row) const {
        const TDataColumn& c = column();
        return row < 0 || c.isNull(row);
    }
    double floatAt(qsizetype row) const {
        const TDataColumn& c = column();
        if (row < 0 || c.isNull(row))
            return 0.0;
        switch (c.storage) {
        case TDataColumn::Storage::Integer:
            return double(c.ints[size_t(row)]);
        case TDataColumn::Storage::Float:
        case TDataColumn::Storage::DateTime:
            return c.doubles[size_t(row)];
        case TDataColumn::Storage::Text:
            break;
        }
        return textToFloat(c.dictionary[c.textIds[size_t(row)]]);
    }
    TDateTime dateTimeAt(qsizetype row) const {
        const TDataColumn& c = column();
        if (row < 0 || c.isNull(row))
            return 0.0;
        if (c.storage == TDataColumn::Storage::Text)
            return textToDateTime(c.dictionary[c.textIds[size_t(row)]]);
        return floatAt(row);
    }
    qint64 integerAt(qsizetype row) const;
    QString textAt(qsizetype row) const;
    QVariant valueAt(qsizetype row) const;

private:
    friend class TClientDataSet;
    TField(TFieldDef def, const qsizetype* currentRow, QString dataSetName);

    const TDataColumn& column() const {
        if (!m_column) [[unlikely]]
            raiseClosed();
        return *m_column;
    }
    [[noreturn]] void raiseClosed() const;
    [[noreturn]] void raiseOutOfRange(const QString& value, const QString& type) const;
    int narrowToInt(qint64 value) const {
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            [[unlikely]]
            raiseOutOfRange(QString::number(value), QStringLiteral("целое число"));
        return int(value);
    }
    double textToFloat(const QString& text) const;
    TDateTime textToDateTime(const QString& text) const;

    TFieldDef m_def;
    const qsizetype* m_row;
    QString m_dataSetName;
    const TDataColumn* m_column = nullptr;
};
