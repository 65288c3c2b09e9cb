#include "platform/data/servers/StatServerChoice.h"

#include "platform/core/Exceptions.h"
#include "platform/data/postgres/ChainCatalogue.h"
#include "platform/data/postgres/PostgresStatServer.h"
#include "platform/data/sqlite/EmbeddedStatServer.h"

std::unique_ptr<TStatServer> chooseStatServer(const QString& computerName) {
    // Never fall back to the local files for a named computer: the operator asked for the chain's
    // data, and the local files would show another station's figures without a word.
    if (computerName.trimmed().isEmpty())
        return std::make_unique<TEmbeddedStatServer>();
    return std::make_unique<TPostgresStatServer>(computerName);
}

bool hasChainCatalogue(const QString& computerName) {
    return !computerName.trimmed().isEmpty();
}

TChainStations readChainStations(const QString& computerName) {
    if (!hasChainCatalogue(computerName))
        throw EDatabaseError(QStringLiteral("Каталог сети АЗС есть только на центральном сервере "
                                            "статистики PostgreSQL, а сервер статистики не задан"));
    return ChainCatalogue::readStations(computerName);
}
