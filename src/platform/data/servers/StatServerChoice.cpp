#include "platform/data/servers/StatServerChoice.h"

#include "platform/core/Exceptions.h"
#include "platform/data/sqlite/EmbeddedStatServer.h"

std::unique_ptr<TStatServer> chooseStatServer(const QString& computerName) {
    if (computerName.trimmed().isEmpty())
        return std::make_unique<TEmbeddedStatServer>();
    // Never fall back to the local files: the operator asked for another computer's data.
    throw EDatabaseError(QStringLiteral("Не удалось подключиться к серверу статистики на "
                                        "компьютере «%1»: подключение к серверу PostgreSQL в этой "
                                        "версии ещё не поддерживается")
                             .arg(computerName));
}
