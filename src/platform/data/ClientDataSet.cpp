#include "platform/data/ClientDataSet.h"

#include "platform/core/Exceptions.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/StationDateTime.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

qint64 msecOf(double value) {
    return std::llround(value * kMsecPerDay);
}

// The text a partial-key look-up compares against: the stored form, not the regional one, so
// that typing a shift number finds it whatever the workstation's settings.
QString keyText(const TDataColumn& c, qsizetype row) {
    switch (c.storage) {
    case TDataColumn::Storage::Integer:
        return QString::number(c.ints[size_t(row)]);
    case TDataColumn::Storage::Float:
        return QString::number(c.doubles[size_t(row)], 'g', 15);
    case TDataColumn::Storage::DateTime:
        return StationDateTime::toText(c.doubles[size_t(row)]);
    case TDataColumn::Storage::Text:
        break;
    }
    return c.dictionary[c.textIds[size_t(row)]];
}

} // namespace

// Lets the grids over a set reset themselves around every change of its rows or order.
class TClientDataSet::StateChange {
public:
    explicit StateChange(TClientDataSet* set)
        : m_set(set) {
        emit m_set->stateAboutToChange();
    }
    ~StateChange() { emit m_set->stateChanged(); }
    StateChange(const StateChange&) = delete;
    StateChange& operator=(const StateChange&) = delete;

private:
    TClientDataSet* m_set;
};

TClientDataSet::TClientDataSet(const QString& name, QObject* parent)
    : QObject(parent) {
    setObjectName(name);
}

TClientDataSet::~TClientDataSet() = default;

void TClientDataSet::checkActive() const {
    if (!m_packet)
        throw EDatabaseError(QStringLiteral("Набор данных %1 закрыт").arg(objectName()));
}

void TClientDataSet::setActive(bool value) {
    if (value)
        open();
    else
        close();
}

void TClientDataSet::open() {
    if (m_packet)
        return;
    if (!m_connection)
        throw EDatabaseError(
            QStringLiteral("Набор данных %1 не связан с соединением с сервером статистики")
                .arg(objectName()));
    if (m_providerName.isEmpty())
        throw EDatabaseError(
            QStringLiteral("У набора данных %1 не задан поставщик данных").arg(objectName()));
    if (!m_connection->connected())
        m_connection->open();
    QHash<QString, TFieldType> declared;
    for (const TFieldDef& def : std::as_const(m_fieldDefs))
        declared.insert(def.name.toLower(), def.dataType);
    activate(m_connection->server().provide(m_providerName, m_commandText, declared));
}

void TClientDataSet::close() {
    if (!m_packet)
        return;
    StateChange change(this);
    m_packet.reset();
    detachFields();
    std::vector<quint32>().swap(m_order);
    std::vector<quint32>().swap(m_view);
    m_position = 0;
    m_row = -1;
    m_eof = m_bof = true;
}

void TClientDataSet::activate(std::shared_ptr<const TDataPacket> packet) {
    StateChange change(this);
    try {
        m_packet = std::move(packet);
        bindFields(*m_packet);
        buildOrder();
        buildView();
    } catch (...) {
        m_packet.reset();
        detachFields();
        m_order.clear();
        m_view.clear();
        m_row = -1;
        m_eof = m_bof = true;
        throw;
    }
    first();
}

TField& TClientDataSet::fieldObject(const TFieldDef& def) {
    for (const auto& f : m_allFields) {
        if (f->m_def.name.compare(def.name, Qt::CaseInsensitive) == 0) {
            f->m_def = def;
            return *f;
        }
    }
    m_allFields.push_back(std::unique_ptr<TField>(new TField(def, &m_row, objectName())));
    return *m_allFields.back();
}

void TClientDataSet::bindFields(const TDataPacket& packet) {
    std::vector<TField*> fields;
    if (!m_fieldDefs.isEmpty()) {
        for (const TFieldDef& def : std::as_const(m_fieldDefs)) {
            const int column = packet.indexOf(def.name);
            if (column < 0)
                throw EDatabaseError(QStringLiteral("В данных, полученных от сервера статистики "
                                                    "для набора %1 (поставщик %2), нет поля «%3»")
                                         .arg(objectName(), m_providerName, def.name));
            TField& f = fieldObject(def);
            f.m_column = &packet.columns[size_t(column)];
            fields.push_back(&f);
        }
    } else {
        for (const TDataColumn& column : packet.columns) {
            TFieldDef def;
            def.name = column.name;
            def.dataType = column.type;
            TField& f = fieldObject(def);
            f.m_column = &column;
            fields.push_back(&f);
        }
    }
    m_fields = std::move(fields);
}

void TClientDataSet::detachFields() {
    for (const auto& f : m_allFields)
        f->m_column = nullptr;
    m_fields.clear();
}

void TClientDataSet::buildOrder() {
    const TIndexDef* index = nullptr;
    const QString wanted = m_indexName.isEmpty() ? QStringLiteral("DEFAULT_ORDER") : m_indexName;
    for (const TIndexDef& def : std::as_const(m_indexDefs)) {
        if (def.name.compare(wanted, Qt::CaseInsensitive) == 0)
            index = &def;
    }
    if (!index && !m_indexName.isEmpty())
        throw EDatabaseError(QStringLiteral("Индекс «%1» не найден в наборе данных %2")
                                 .arg(m_indexName, objectName()));
    std::vector<quint32> order(size_t(m_packet->rowCount));
    std::iota(order.begin(), order.end(), 0u);
    if (!index || index->fields.trimmed().isEmpty()) {
        m_order = std::move(order);
        return;
    }

    struct Key {
        const TDataColumn* column;
        std::vector<quint32> rank; // text columns: the sort position of each distinct text
    };
    const Qt::CaseSensitivity cs =
        (index->options & TIndexDef::CaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    std::vector<Key> keys;
    for (const QString& name : index->fields.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int column = m_packet->indexOf(name.trimmed());
        if (column < 0)
            throw EDatabaseError(
                QStringLiteral("Поле «%1» индекса «%2» не найдено в наборе данных %3")
                    .arg(name.trimmed(), index->name, objectName()));
        Key key{&m_packet->columns[size_t(column)], {}};
        if (key.column->storage == TDataColumn::Storage::Text) {
            const auto& dict = key.column->dictionary;
            std::vector<quint32> ids(dict.size());
            std::iota(ids.begin(), ids.end(), 0u);
            std::stable_sort(ids.begin(), ids.end(), [&](quint32 a, quint32 b) {
                return dict[a].compare(dict[b], cs) < 0;
            });
            key.rank.resize(dict.size());
            for (size_t i = 0; i < ids.size(); ++i)
                key.rank[ids[i]] = quint32(i);
        }
        keys.push_back(std::move(key));
    }
    const auto compare = [&](quint32 a, quint32 b) {
        for (const Key& key : keys) {
            const TDataColumn& c = *key.column;
            const bool na = c.isNull(a), nb = c.isNull(b);
            if (na != nb)
                return na ? -1 : 1;
            if (na)
                continue;
            switch (c.storage) {
            case TDataColumn::Storage::Integer:
                if (c.ints[a] != c.ints[b])
                    return c.ints[a] < c.ints[b] ? -1 : 1;
                break;
            case TDataColumn::Storage::Float:
            case TDataColumn::Storage::DateTime:
                if (c.doubles[a] != c.doubles[b])
                    return c.doubles[a] < c.doubles[b] ? -1 : 1;
                break;
            case TDataColumn::Storage::Text: {
                const quint32 ra = key.rank[c.textIds[a]], rb = key.rank[c.textIds[b]];
                if (ra != rb)
                    return ra < rb ? -1 : 1;
                break;
            }
            }
        }
        return 0;
    };
    const bool descending = index->options & TIndexDef::Descending;
    std::stable_sort(order.begin(), order.end(), [&](quint32 a, quint32 b) {
        const int c = compare(a, b);
        return descending ? c > 0 : c < 0;
    });
    if (index->options & (TIndexDef::Unique | TIndexDef::Primary)) {
        for (size_t i = 1; i < order.size(); ++i) {
            if (compare(order[i - 1], order[i]) == 0)
                throw EDatabaseError(
                    QStringLiteral("Набор данных %1: значения «%2» повторяются, а индекс «%3» "
                                   "уникален")
                        .arg(objectName(), index->fields, index->name));
        }
    }
    m_order = std::move(order);
}

void TClientDataSet::buildView() {
    if (!m_filtered || !m_filterExpression) {
        m_view = m_order;
        return;
    }
    const TFilterExpression& expr = *m_filterExpression;
    const int index = m_packet->indexOf(expr.fieldName);
    if (index < 0)
        throw EDatabaseError(
            QStringLiteral("Поле «%1» из фильтра «%2» не найдено в наборе данных %3")
                .arg(expr.fieldName, m_filterText, objectName()));
    const TDataColumn& c = m_packet->columns[size_t(index)];
    std::vector<quint32> view;
    if (c.storage == TDataColumn::Storage::Text) {
        const Qt::CaseSensitivity cs =
            m_filterCaseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
        std::vector<char> match(c.dictionary.size(), 0);
        for (size_t id = 0; id < c.dictionary.size(); ++id) {
            for (const TFilterExpression::Value& v : expr.values) {
                if (c.dictionary[id].compare(v.text, cs) == 0)
                    match[id] = 1;
            }
        }
        for (quint32 row : m_order) {
            if (!c.isNull(row) && match[c.textIds[row]])
                view.push_back(row);
        }
        m_view = std::move(view);
        return;
    }
    std::vector<double> keys;
    for (const TFilterExpression::Value& v : expr.values) {
        bool ok = false;
        double key = v.text.toDouble(&ok);
        if (!ok && c.storage == TDataColumn::Storage::DateTime)
            ok = StationDateTime::parse(v.text, key);
        if (!ok)
            throw EDatabaseError(QStringLiteral("Значение «%1» из фильтра «%2» нельзя сравнить с "
                                                "полем «%3» набора данных %4: поле не текстовое")
                                     .arg(v.text, m_filterText, c.name, objectName()));
        keys.push_back(key);
    }
    for (quint32 row : m_order) {
        if (c.isNull(row))
            continue;
        bool hit = false;
        for (double key : keys) {
            switch (c.storage) {
            case TDataColumn::Storage::Integer:
                hit = hit || double(c.ints[row]) == key;
                break;
            case TDataColumn::Storage::Float:
                hit = hit || c.doubles[row] == key;
                break;
            case TDataColumn::Storage::DateTime:
                hit = hit || msecOf(c.doubles[row]) == msecOf(key);
                break;
            case TDataColumn::Storage::Text:
                break;
            }
        }
        if (hit)
            view.push_back(row);
    }
    m_view = std::move(view);
}

void TClientDataSet::setFilter(const QString& text) {
    std::optional<TFilterExpression> parsed;
    if (!text.trimmed().isEmpty())
        parsed = TFilterExpression::parse(text);
    const QString oldText = m_filterText;
    auto oldExpression = std::move(m_filterExpression);
    m_filterText = text;
    m_filterExpression = std::move(parsed);
    if (!m_packet || !m_filtered)
        return;
    StateChange change(this);
    try {
        buildView();
    } catch (...) {
        m_filterText = oldText;
        m_filterExpression = std::move(oldExpression);
        first();
        throw;
    }
    first();
}

void TClientDataSet::setFiltered(bool value) {
    if (m_filtered == value)
        return;
    m_filtered = value;
    if (!m_packet)
        return;
    StateChange change(this);
    try {
        buildView();
    } catch (...) {
        m_filtered = !value;
        buildView();
        first();
        throw;
    }
    first();
}

void TClientDataSet::setFilterCaseInsensitive(bool value) {
    if (m_filterCaseInsensitive == value)
        return;
    m_filterCaseInsensitive = value;
    if (!m_packet || !m_filtered)
        return;
    StateChange change(this);
    buildView();
    first();
}

void TClientDataSet::setIndexName(const QString& name) {
    if (m_indexName == name)
        return;
    const QString old = m_indexName;
    m_indexName = name;
    if (!m_packet)
        return;
    StateChange change(this);
    try {
        buildOrder();
        buildView();
    } catch (...) {
        m_indexName = old;
        buildOrder();
        buildView();
        first();
        throw;
    }
    first();
}

int TClientDataSet::recordCount() const {
    checkActive();
    return int(m_view.size());
}

void TClientDataSet::moveTo(qsizetype position) {
    if (m_view.empty()) {
        m_position = 0;
        m_row = -1;
        m_eof = m_bof = true;
        return;
    }
    m_position = position;
    m_row = qsizetype(m_view[size_t(position)]);
    m_eof = m_bof = false;
}

void TClientDataSet::first() {
    checkActive();
    moveTo(0);
    m_bof = true;
}

void TClientDataSet::next() {
    checkActive();
    if (size_t(m_position) + 1 < m_view.size())
        moveTo(m_position + 1);
    else
        m_eof = true;
}

void TClientDataSet::prior() {
    checkActive();
    if (m_position > 0 && !m_view.empty())
        moveTo(m_position - 1);
    else
        m_bof = true;
}

void TClientDataSet::last() {
    checkActive();
    moveTo(m_view.empty() ? 0 : qsizetype(m_view.size()) - 1);
    m_eof = true;
}

bool TClientDataSet::eof() const {
    return !m_packet || m_eof;
}

bool TClientDataSet::bof() const {
    return !m_packet || m_bof;
}

int TClientDataSet::recNo() const {
    return (!m_packet || m_view.empty()) ? 0 : int(m_position) + 1;
}

void TClientDataSet::setRecNo(int recNo) {
    checkActive();
    if (recNo < 1 || size_t(recNo) > m_view.size())
        throw EDatabaseError(QStringLiteral("В наборе данных %1 нет записи с номером %2")
                                 .arg(objectName(), QString::number(recNo)));
    moveTo(recNo - 1);
    emit currentChanged();
}

TField& TClientDataSet::field(int index) const {
    checkActive();
    if (index < 0 || size_t(index) >= m_fields.size())
        throw EDatabaseError(QStringLiteral("В наборе данных %1 нет поля с номером %2")
                                 .arg(objectName(), QString::number(index)));
    return *m_fields[size_t(index)];
}

TField* TClientDataSet::findField(const QString& name) const {
    for (TField* f : m_fields) {
        if (f->fieldName().compare(name, Qt::CaseInsensitive) == 0)
            return f;
    }
    return nullptr;
}

TField& TClientDataSet::fieldByName(const QString& name) const {
    checkActive();
    if (TField* f = findField(name))
        return *f;
    throw EDatabaseError(
        QStringLiteral("Поле «%1» не найдено в наборе данных %2").arg(name, objectName()));
}

void TClientDataSet::cloneCursor(TClientDataSet& source, bool reset, bool keepSettings) {
    source.checkActive();
    if (&source == this)
        throw EDatabaseError(
            QStringLiteral("Набор данных %1 нельзя клонировать в себя").arg(objectName()));
    close();
    m_fieldDefs = source.m_fieldDefs;
    m_indexDefs = source.m_indexDefs;
    if (reset) {
        m_filterText.clear();
        m_filterExpression.reset();
        m_filtered = false;
        m_filterCaseInsensitive = false;
        m_indexName.clear();
    } else if (!keepSettings) {
        m_filterText = source.m_filterText;
        m_filterExpression = source.m_filterExpression;
        m_filtered = source.m_filtered;
        m_filterCaseInsensitive = source.m_filterCaseInsensitive;
        m_indexName = source.m_indexName;
    }
    activate(source.m_packet);
}

bool TClientDataSet::locate(const QString& keyFields, const QVariant& keyValue,
                            LocateOptions options) {
    checkActive();
    if (keyFields.contains(QLatin1Char(';')))
        throw EDatabaseError(QStringLiteral("Поиск по нескольким полям («%1») в наборе данных %2 "
                                            "не поддерживается")
                                 .arg(keyFields, objectName()));
    const TDataColumn& c = *fieldByName(keyFields.trimmed()).m_column;
    const Qt::CaseSensitivity cs =
        (options & LocateCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const bool partial = options & LocatePartialKey;
    const bool keyIsNull = keyValue.isNull();
    const QString text = keyValue.toString();
    bool numeric = false;
    double number = 0;
    if (keyValue.metaType().id() == QMetaType::QDateTime) {
        number = fromQDateTime(keyValue.toDateTime());
        numeric = true;
    } else if (!keyIsNull) {
        number = text.trimmed().toDouble(&numeric);
        if (!numeric && c.storage == TDataColumn::Storage::DateTime)
            numeric = StationDateTime::parse(text, number);
    }
    for (size_t position = 0; position < m_view.size(); ++position) {
        const quint32 row = m_view[position];
        bool hit = false;
        if (c.isNull(row)) {
            hit = keyIsNull;
        } else if (keyIsNull) {
            hit = false;
        } else if (partial || c.storage == TDataColumn::Storage::Text) {
            const QString value = keyText(c, row);
            hit = partial ? value.startsWith(text, cs) : value.compare(text, cs) == 0;
        } else if (numeric) {
            switch (c.storage) {
            case TDataColumn::Storage::Integer:
                hit = double(c.ints[row]) == number;
                break;
            case TDataColumn::Storage::Float:
                hit = c.doubles[row] == number;
                break;
            case TDataColumn::Storage::DateTime:
                hit = msecOf(c.doubles[row]) == msecOf(number);
                break;
            case TDataColumn::Storage::Text:
                break;
            }
        }
        if (hit) {
            moveTo(qsizetype(position));
            emit currentChanged();
            return true;
        }
    }
    return false;
}

qsizetype TClientDataSet::dataBytes() const {
    qsizetype total = qsizetype((m_order.capacity() + m_view.capacity()) * sizeof(quint32));
    if (m_packet) {
        for (const TDataColumn& c : m_packet->columns)
            total += c.bytes();
    }
    return total;
}
