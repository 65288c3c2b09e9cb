#include "platform/core/DaraPaths.h"

#include <QDir>

QString daraRoot() {
    QString root = qEnvironmentVariable("DARA_ROOT");
    if (root.isEmpty())
        root = QDir::homePath() + QStringLiteral("/DARA");
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root;
}

QString mapDaraPath(const QString& suitePath) {
    QString path = suitePath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    static const QString prefix = QStringLiteral("c:/dara");
    if (path.size() >= prefix.size() && path.left(prefix.size()).toLower() == prefix &&
        (path.size() == prefix.size() || path.at(prefix.size()) == QLatin1Char('/')))
        return daraRoot() + path.mid(prefix.size());
    return path;
}
