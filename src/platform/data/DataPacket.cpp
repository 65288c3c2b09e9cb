#include "platform/data/DataPacket.h"

#include "platform/core/Exceptions.h"
#include "platform/data/StationDateTime.h"

#include <cmath>

qsizetype TDataColumn::bytes() const {
    qsizetype total =
        qsizetype(ints.capacity() * sizeof(qint64) + doubles.capacity() * sizeof(double) +
                  textIds.capacity() * sizeof(quint32) + nullBits.capacity() * sizeof(quint64));
    for (const QString& text : dictionary)
        total += qsizetype(sizeof(QString)) + text.capacity() * 2 + 32;
    return total;
}

int TDataPacket::indexOf(const QString& name) const {
    for (size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

bool wholeNumberToInt64(double value, qint64* out) {
    // 2^63 is exact in a double; every double below it and at least -2^63 converts.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(value >= -kLimit && value < kLimit) || value != std::trunc(value))
        return false;
    *out = qint64(value);
    return true;
}

namespace {

TDataColumn::Storage storageOf(TFieldType type) {
    switch (type) {
    case TFieldType::SmallInt:
    case TFieldType::Integer:
        return TDataColumn::Storage::Integer;
    case TFieldType::Float:
        return TDataColumn::Storage::Float;
    case TFieldType::DateTime:
        return TDataColumn::Storage::DateTime;
    case TFieldType::String:
    case TFieldType::Unknown:
        break;
    }
    return TDataColumn::Storage::Text;
}

TFieldType typeOf(TDataColumn::Storage storage) {
    switch (storage) {
    case TDataColumn::Storage::Integer:
        return TFieldType::Integer;
    case TDataColumn::Storage::Float:
        return TFieldType::Float;
    case TDataColumn::Storage::DateTime:
        return TFieldType::DateTime;
    case TDataColumn::Storage::Text:
        break;
    }
    return TFieldType::String;
}

QString numberText(double value) {
    return QString::number(value, 'g', 15);
}

} // namespace

TColumnBuilder::TColumnBuilder(QString name, TFieldType declared) {
    m_column.name = std::move(name);
    if (declared != TFieldType::Unknown) {
        m_declared = true;
        m_column.type = declared;
        setKind(storageOf(declared));
    }
}

void TColumnBuilder::pushNullBit(bool isNull) {
    if ((m_rows & 63) == 0)
        m_column.nullBits.push_back(0);
    if (isNull)
        m_column.nullBits.back() |= quint64(1) << (m_rows & 63);
    ++m_rows;
}

void TColumnBuilder::setKind(TDataColumn::Storage storage) {
    m_column.storage = storage;
    m_kindKnown = true;
    // Rows seen before the first value were nulls; give them a slot in the new storage.
    switch (storage) {
    case TDataColumn::Storage::Integer:
        m_column.ints.assign(size_t(m_rows), 0);
        break;
    case TDataColumn::Storage::Float:
    case TDataColumn::Storage::DateTime:
        m_column.doubles.assign(size_t(m_rows), 0.0);
        break;
    case TDataColumn::Storage::Text:
        m_column.textIds.assign(size_t(m_rows), textId(std::string_view()));
        break;
    }
}

void TColumnBuilder::widenToFloat() {
    m_column.doubles.reserve(m_column.ints.capacity());
    for (qint64 v : m_column.ints)
        m_column.doubles.push_back(double(v));
    std::vector<qint64>().swap(m_column.ints);
    m_column.storage = TDataColumn::Storage::Float;
}

// A column that turned out to hold mixed values keeps every value as text, the way the server
// would have shown it.
void TColumnBuilder::demoteToText() {
    std::vector<quint32> ids;
    ids.reserve(size_t(m_rows) + 1);
    for (qsizetype row = 0; row < m_rows; ++row) {
        if (m_column.isNull(row)) {
            ids.push_back(textId(std::string_view()));
            continue;
        }
        switch (m_column.storage) {
        case TDataColumn::Storage::Integer:
            ids.push_back(textId(QString::number(m_column.ints[size_t(row)])));
            break;
        case TDataColumn::Storage::Float:
            ids.push_back(textId(numberText(m_column.doubles[size_t(row)])));
            break;
        case TDataColumn::Storage::DateTime:
            ids.push_back(textId(StationDateTime::toText(m_column.doubles[size_t(row)])));
            break;
        case TDataColumn::Storage::Text:
            return;
        }
    }
    std::vector<qint64>().swap(m_column.ints);
    std::vector<double>().swap(m_column.doubles);
    m_column.textIds = std::move(ids);
    m_column.storage = TDataColumn::Storage::Text;
}

quint32 TColumnBuilder::textId(std::string_view utf8) {
    const auto found = m_ids.find(utf8);
    if (found != m_ids.end())
        return found->second;
    const auto id = quint32(m_column.dictionary.size());
    m_keys.emplace_back(utf8);
    m_ids.emplace(std::string_view(m_keys.back()), id);
    m_column.dictionary.push_back(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    return id;
}

quint32 TColumnBuilder::textId(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return textId(std::string_view(utf8.constData(), size_t(utf8.size())));
}

void TColumnBuilder::raiseConversion(const QString& value) const {
    throw EDatabaseError(QStringLiteral("Значение «%1» нельзя поместить в поле «%2»: тип поля не "
                                        "подходит для него")
                             .arg(value, m_column.name));
}

void TColumnBuilder::appendNull() {
    pushNullBit(true);
    switch (m_column.storage) {
    case TDataColumn::Storage::Integer:
        m_column.ints.push_back(0);
        break;
    case TDataColumn::Storage::Float:
    case TDataColumn::Storage::DateTime:
        m_column.doubles.push_back(0.0);
        break;
    case TDataColumn::Storage::Text:
        m_column.textIds.push_back(textId(std::string_view()));
        break;
    }
}

void TColumnBuilder::appendInteger(qint64 value) {
    if (!m_kindKnown)
        setKind(TDataColumn::Storage::Integer);
    switch (m_column.storage) {
    case TDataColumn::Storage::Integer:
        m_column.ints.push_back(value);
        break;
    case TDataColumn::Storage::Float:
    case TDataColumn::Storage::DateTime:
        m_column.doubles.push_back(double(value));
        break;
    case TDataColumn::Storage::Text:
        m_column.textIds.push_back(textId(QString::number(value)));
        break;
    }
    pushNullBit(false);
}

void TColumnBuilder::appendFloat(double value) {
    if (!m_kindKnown)
        setKind(TDataColumn::Storage::Float);
    switch (m_column.storage) {
    case TDataColumn::Storage::Integer:
        if (m_declared) {
            qint64 whole = 0;
            if (!wholeNumberToInt64(value, &whole))
                raiseConversion(numberText(value));
            m_column.ints.push_back(whole);
            break;
        }
        widenToFloat();
        m_column.doubles.push_back(value);
        break;
    case TDataColumn::Storage::Float:
    case TDataColumn::Storage::DateTime:
        m_column.doubles.push_back(value);
        break;
    case TDataColumn::Storage::Text:
        m_column.textIds.push_back(textId(numberText(value)));
        break;
    }
    pushNullBit(false);
}

void TColumnBuilder::appendText(std::string_view utf8) {
    if (!m_kindKnown) {
        TDateTime probe;
        setKind(StationDateTime::parse(utf8, probe) ? TDataColumn::Storage::DateTime
                                                    : TDataColumn::Storage::Text);
    }
    const auto asQString = [&] { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); };
    // A value that does not fit the column's kind: an error for a declared field, otherwise the
    // whole column becomes text.
    const auto fallBackToText = [&] {
        if (m_declared)
            raiseConversion(asQString());
        demoteToText();
        m_column.textIds.push_back(textId(utf8));
    };
    switch (m_column.storage) {
    case TDataColumn::Storage::Integer: {
        bool ok = false;
        const qint64 v = asQString().trimmed().toLongLong(&ok);
        if (ok) {
            m_column.ints.push_back(v);
            break;
        }
        fallBackToText();
        break;
    }
    case TDataColumn::Storage::Float: {
        bool ok = false;
        const double v = asQString().trimmed().toDouble(&ok);
        if (ok) {
            m_column.doubles.push_back(v);
            break;
        }
        fallBackToText();
        break;
    }
    case TDataColumn::Storage::DateTime: {
        TDateTime v;
        if (StationDateTime::parse(utf8, v)) {
            m_column.doubles.push_back(v);
            break;
        }
        fallBackToText();
        break;
    }
    case TDataColumn::Storage::Text:
        m_column.textIds.push_back(textId(utf8));
        break;
    }
    pushNullBit(false);
}

void TColumnBuilder::appendDateTime(TDateTime value) {
    if (!m_kindKnown)
        setKind(TDataColumn::Storage::DateTime);
    switch (m_column.storage) {
    case TDataColumn::Storage::Float:
    case TDataColumn::Storage::DateTime:
        m_column.doubles.push_back(value);
        break;
    case TDataColumn::Storage::Integer:
        if (m_declared)
            raiseConversion(StationDateTime::toText(value));
        demoteToText();
        [[fallthrough]];
    case TDataColumn::Storage::Text:
        m_column.textIds.push_back(textId(StationDateTime::toText(value)));
        break;
    }
    pushNullBit(false);
}

TDataColumn TColumnBuilder::finish() {
    if (!m_kindKnown)
        setKind(TDataColumn::Storage::Text); // only nulls, or no rows: nothing says otherwise
    if (!m_declared)
        m_column.type = typeOf(m_column.storage);
    if (m_column.nullBits.empty())
        m_column.nullBits.push_back(0);
    m_column.ints.shrink_to_fit();
    m_column.doubles.shrink_to_fit();
    m_column.textIds.shrink_to_fit();
    m_column.nullBits.shrink_to_fit();
    m_ids.clear();
    m_keys.clear();
    return std::move(m_column);
}
