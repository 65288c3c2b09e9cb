#pragma once

#include "platform/core/DateTime.h"

#include <QHash>
#include <QString>

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Field types as the data sets know them. SmallInt and Integer share storage; the difference only
// matters for the stored definitions.
enum class TFieldType { Unknown, String, SmallInt, Integer, Float, DateTime };

// The whole number `value` holds when it is one that a 64-bit integer can hold; false for
// fractions, infinities, NaN and numbers out of range, whose conversion C++ leaves undefined.
// Both the packet's integer columns and the fields' readers convert through it.
bool wholeNumberToInt64(double value, qint64* out);

// One column of a fetched result. A sales query brings hundreds of thousands of rows, so the
// values live in one typed vector per column, never in one variant per cell; texts are kept once
// per distinct value (grade names, operators and categories repeat on every row).
class TDataColumn {
public:
    enum class Storage { Integer, Float, DateTime, Text };

    QString name;
    TFieldType type = TFieldType::Unknown;
    Storage storage = Storage::Integer;
    std::vector<qint64> ints;        // Storage::Integer
    std::vector<double> doubles;     // Storage::Float and Storage::DateTime
    std::vector<quint32> textIds;    // Storage::Text: index into dictionary
    std::vector<QString> dictionary; // distinct texts in order of first appearance
    std::vector<quint64> nullBits;

    bool isNull(qsizetype row) const {
        return (nullBits[size_t(row) >> 6] >> (size_t(row) & 63)) & 1;
    }
    bool isNumeric() const { return storage != Storage::Text; }
    // Approximate heap use, for the memory report of the benchmark.
    qsizetype bytes() const;
};

// A fetched result: all rows of one statement, shared read-only by a data set and its clones.
struct TDataPacket {
    std::vector<TDataColumn> columns;
    qsizetype rowCount = 0;

    // Index of the column with that name, compared without regard to case; -1 when absent.
    int indexOf(const QString& name) const;
};

// Fills one column from a stream of values. Without a declared type the column takes the type of
// its first value and widens as needed (integer to float, anything to text); a text that reads as
// a station date-time makes a date-time column. With a declared type every value is converted to
// it, and one that cannot be raises EDatabaseError naming the column.
class TColumnBuilder {
public:
    TColumnBuilder(QString name, TFieldType declared);

    void appendNull();
    void appendInteger(qint64 value);
    void appendFloat(double value);
    void appendText(std::string_view utf8);
    // A value the server already holds as a date-time: stored as it is, not formatted and read
    // back.
    void appendDateTime(TDateTime value);

    TDataColumn finish();

private:
    void pushNullBit(bool isNull);
    void setKind(TDataColumn::Storage storage);
    void widenToFloat();
    void demoteToText();
    quint32 textId(std::string_view utf8);
    quint32 textId(const QString& text);
    [[noreturn]] void raiseConversion(const QString& value) const;

    TDataColumn m_column;
    qsizetype m_rows = 0;
    bool m_kindKnown = false;
    bool m_declared = false;
    std::deque<std::string> m_keys;
    std::unordered_map<std::string_view, quint32> m_ids;
};
