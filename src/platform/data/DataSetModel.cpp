#include "platform/data/DataSetModel.h"

#include "platform/data/ClientDataSet.h"

TDataSetModel::TDataSetModel(TClientDataSet* dataSet, QObject* parent)
    : QAbstractTableModel(parent) {
    setDataSet(dataSet);
}

void TDataSetModel::setDataSet(TClientDataSet* dataSet) {
    if (m_dataSet == dataSet)
        return;
    beginResetModel();
    if (m_dataSet)
        disconnect(m_dataSet, nullptr, this, nullptr);
    m_dataSet = dataSet;
    if (m_dataSet) {
        connect(m_dataSet, &TClientDataSet::stateAboutToChange, this,
                &TDataSetModel::beginResetModel);
        connect(m_dataSet, &TClientDataSet::stateChanged, this, &TDataSetModel::endResetModel);
        connect(m_dataSet, &QObject::destroyed, this, [this] {
            beginResetModel();
            endResetModel();
        });
    }
    endResetModel();
}

int TDataSetModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_dataSet || !m_dataSet->active())
        return 0;
    return m_dataSet->recordCount();
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_dataSet || !m_dataSet->active())
        return 0;
    return m_dataSet->fieldCount();
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !m_dataSet || !m_dataSet->active() ||
        index.row() >= m_dataSet->recordCount() || index.column() >= m_dataSet->fieldCount())
        return QVariant();
    const TField& field = m_dataSet->field(index.column());
    const qsizetype row = m_dataSet->physicalRow(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return field.textAt(row);
    case Qt::EditRole:
        return field.valueAt(row);
    case Qt::TextAlignmentRole:
        if (field.dataType() == TFieldType::String)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || !m_dataSet ||
        !m_dataSet->active() || section < 0 || section >= m_dataSet->fieldCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_dataSet->field(section).displayLabel();
}
