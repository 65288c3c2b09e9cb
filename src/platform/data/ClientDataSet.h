#pragma once

#include "platform/data/DataPacket.h"
#include "platform/data/Field.h"
#include "platform/data/FilterExpression.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

class TDCOMConnection;

// An index kept with a data set. A data set follows "DEFAULT_ORDER" unless another is chosen.
struct TIndexDef {
    enum Option { Primary = 1, Unique = 2, Descending = 4, CaseInsensitive = 8 };
    QString name;
    QString fields; // field names separated by ";"; empty: the server's order
    int options = 0;
};

// A client data set: on open it asks its provider on the server for the rows and keeps all of them
// in memory, so the record count is exact and filters, clones and look-ups never ask the server
// again. Opening connects the connection first when it is closed. A set is used by one thread at
// a time: the one that opens it (a worker for the sales queries).
class TClientDataSet : public QObject {
    Q_OBJECT

public:
    enum LocateOption { LocateCaseInsensitive = 1, LocatePartialKey = 2 };
    Q_DECLARE_FLAGS(LocateOptions, LocateOption)

    explicit TClientDataSet(const QString& name = QString(), QObject* parent = nullptr);
    ~TClientDataSet() override;

    QString name() const { return objectName(); }

    TDCOMConnection* remoteServer() const { return m_connection; }
    void setRemoteServer(TDCOMConnection* connection) { m_connection = connection; }
    const QString& providerName() const { return m_providerName; }
    void setProviderName(const QString& name) { m_providerName = name; }
    const QString& commandText() const { return m_commandText; }
    void setCommandText(const QString& text) { m_commandText = text; }

    // Stored definitions: when present, the set's fields are exactly these, with their types,
    // whatever the server's column types are; a stored field missing from the result fails.
    const QList<TFieldDef>& fieldDefs() const { return m_fieldDefs; }
    void setFieldDefs(const QList<TFieldDef>& defs) { m_fieldDefs = defs; }
    const QList<TIndexDef>& indexDefs() const { return m_indexDefs; }
    void setIndexDefs(const QList<TIndexDef>& defs) { m_indexDefs = defs; }
    const QString& indexName() const { return m_indexName; }
    void setIndexName(const QString& name);

    bool active() const { return m_packet != nullptr; }
    void setActive(bool value);
    void open();
    void close();

    // Filtering works on the fetched rows. The filter text is checked when it is set.
    const QString& filter() const { return m_filterText; }
    void setFilter(const QString& text);
    bool filtered() const { return m_filtered; }
    void setFiltered(bool value);
    bool filterCaseInsensitive() const { return m_filterCaseInsensitive; }
    void setFilterCaseInsensitive(bool value);

    // Records visible through the filter, in index order. The cursor calls raise on a closed set.
    int recordCount() const;
    bool isEmpty() const { return recordCount() == 0; }
    void first();
    void next();
    void prior();
    void last();
    bool eof() const;
    bool bof() const;
    int recNo() const; // 1-based; 0 when empty
    void setRecNo(int recNo);

    int fieldCount() const { return int(m_fields.size()); }
    TField& field(int index) const;
    TField* findField(const QString& name) const;
    // Without regard to case. EDatabaseError naming the field and the set when it is not there.
    TField& fieldByName(const QString& name) const;

    // Shares the source's fetched rows with a cursor of its own. With reset the clone has no
    // filter and the default order; otherwise it takes the source's filter and order unless
    // keepSettings keeps its own.
    void cloneCursor(TClientDataSet& source, bool reset, bool keepSettings = false);

    // Moves to the first record, in index order, whose field equals the value (or whose text
    // starts with it, with the partial-key option). The cursor stays when nothing matches.
    bool locate(const QString& keyFields, const QVariant& keyValue, LocateOptions options = {});

    // The physical row of a record position (0-based, in index order); for grids and fast walks.
    qsizetype physicalRow(int position) const { return qsizetype(m_view[size_t(position)]); }
    qsizetype currentRow() const { return m_row; }
    // Heap held by the fetched rows, for the memory report of the benchmark.
    qsizetype dataBytes() const;

signals:
    void stateAboutToChange();
    void stateChanged();
    void currentChanged();

private:
    class StateChange;
    void activate(std::shared_ptr<const TDataPacket> packet);
    void bindFields(const TDataPacket& packet);
    void detachFields();
    TField& fieldObject(const TFieldDef& def);
    void buildOrder();
    void buildView();
    void checkActive() const;
    void moveTo(qsizetype position);

    TDCOMConnection* m_connection = nullptr;
    QString m_providerName;
    QString m_commandText;
    QList<TFieldDef> m_fieldDefs;
    QList<TIndexDef> m_indexDefs;
    QString m_indexName;
    QString m_filterText;
    std::optional<TFilterExpression> m_filterExpression;
    bool m_filtered = false;
    bool m_filterCaseInsensitive = false;

    std::shared_ptr<const TDataPacket> m_packet;
    std::vector<std::unique_ptr<TField>> m_allFields; // every field ever bound; never deleted
    std::vector<TField*> m_fields;                    // the fields of the open set, in order
    std::vector<quint32> m_order;                     // physical rows in index order
    std::vector<quint32> m_view;                      // m_order through the filter
    qsizetype m_position = 0;
    qsizetype m_row = -1;
    bool m_eof = true;
    bool m_bof = true;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TClientDataSet::LocateOptions)
