#pragma once

// QPointer needs the complete type wherever the model is included.
#include "platform/data/ClientDataSet.h"

#include <QAbstractTableModel>
#include <QPointer>

// A read-only table over a data set for the grids: one row per visible record in index order,
// one column per field, the fields' display labels as titles. It follows the set's opening,
// closing, filtering and reordering. Attach it only to a set used on the grid's own thread.
class TDataSetModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TDataSetModel(TClientDataSet* dataSet = nullptr, QObject* parent = nullptr);

    TClientDataSet* dataSet() const { return m_dataSet; }
    void setDataSet(TClientDataSet* dataSet);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QPointer<TClientDataSet> m_dataSet;
};
