#include "platform/data/servers/StatServerChoice.h"

#include "platform/data/postgres/PostgresStatServer.h"
#include "platform/data/sqlite/EmbeddedStatServer.h"

std::unique_ptr<TStatServer> chooseStatServer(const QString& computerName) {
    // Never fall back to the local files for a named computer: the operator asked for the chain's
    // data, and the local files would show another station's figures without a word.
    if (computerName.trimmed().isEmpty())
        return std::make_unique<TEmbeddedStatServer>();
    return std::make_unique<TPostgresStatServer>(computerName);
}
