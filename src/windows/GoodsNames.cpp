#include "windows/GoodsNames.h"

int TGoodsNamesClass::AddCategory(qint32 categoryId, const QString& name) {
    m_names.append({name, categoryId});
    m_goodsLists.append(TNamedIdList());
    return int(m_names.size()) - 1;
}

int TGoodsNamesClass::AddGoods(int categoryIndex, qint32 goodsId, const QString& name) {
    checkIndex(categoryIndex);
    TNamedIdList& goods = m_goodsLists[categoryIndex];
    goods.append({name, goodsId});
    return int(goods.size()) - 1;
}

const TNamedIdList& TGoodsNamesClass::GetGoodsList(int categoryIndex) const {
    checkIndex(categoryIndex);
    return m_goodsLists[categoryIndex];
}

int TGoodsNamesClass::IndexOfCategory(qint32 categoryId) const {
    for (int i = 0; i < m_names.size(); ++i)
        if (m_names[i].Id == categoryId)
            return i;
    return -1;
}

void TGoodsNamesClass::Clear() {
    m_names.clear();
    m_goodsLists.clear();
}

void TGoodsNamesClass::checkIndex(int categoryIndex) const {
    // A negative index is no entry either, though the message has always spoken of the upper end.
    if (categoryIndex < 0 || categoryIndex >= m_names.size())
        throw EListError(
            QStringLiteral("Элемента списка с номером %1 не существует!").arg(categoryIndex));
}
