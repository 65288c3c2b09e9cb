#include "platform/data/StationIndexes.h"

namespace StationIndexes {

QStringList fuel() {
    return {
        QStringLiteral("CREATE INDEX LogTran_Data ON LogTran (Data)"),
        QStringLiteral("CREATE INDEX SmSilo_BegTime ON SmSilo (BegTime)"),
        QStringLiteral("CREATE INDEX SmSilo_EndTime ON SmSilo (EndTime)"),
    };
}

QStringList goods() {
    return {
        QStringLiteral("CREATE INDEX Documents_Data ON Documents (Data)"),
        QStringLiteral("CREATE INDEX GoodsMotion_Doc ON GoodsMotion (ID_doc)"),
        QStringLiteral("CREATE INDEX Goods_Category ON Goods (ID_Category)"),
    };
}

} // namespace StationIndexes
