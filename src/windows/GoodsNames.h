#pragma once

#include "platform/core/Exceptions.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// A list asked for an entry it does not have.
class EListError : public ExceptionClass<EListError, Exception> {
public:
    using ExceptionClass::ExceptionClass;
    QString className() const override { return QStringLiteral("EListError"); }
};

// A name with the identifier behind it: a category with its ID_Category, goods with ID_Goods.
struct TNamedId {
    QString Name;
    qint32 Id = 0;
};
using TNamedIdList = QList<TNamedId>;

// TGoodsNamesClass: the names and identifiers behind the selector's tree, the categories in the
// order they were added and, parallel to them, each category's goods.
class TGoodsNamesClass {
public:
    const TNamedIdList& Names() const { return m_names; }
    int CategoryCount() const { return int(m_names.size()); }

    // Appends the category with an empty goods list; returns its index.
    int AddCategory(qint32 categoryId, const QString& name);
    // Appends the goods to the list of the category at `categoryIndex`; returns its index there.
    // Raises EListError for an index that is no category.
    int AddGoods(int categoryIndex, qint32 goodsId, const QString& name);
    // Raises EListError for an index that is no category.
    const TNamedIdList& GetGoodsList(int categoryIndex) const;
    // The first category with that identifier, or -1.
    int IndexOfCategory(qint32 categoryId) const;
    void Clear();

private:
    void checkIndex(int categoryIndex) const;

    TNamedIdList m_names;
    QList<TNamedIdList> m_goodsLists;
};
