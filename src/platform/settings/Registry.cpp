#include "platform/settings/Registry.h"

#include "platform/core/DaraPaths.h"

#include <QDir>
#include <QMutex>
#include <QSettings>

namespace {

QMutex folderMutex;
QString& chosenUserFolder() {
    static QString folder;
    return folder;
}

} // namespace

TRegistry::TRegistry(RootKey root)
    : m_settings(std::make_unique<QSettings>(rootFilePath(root), QSettings::IniFormat)) {}

TRegistry::~TRegistry() = default;

QString TRegistry::rootFilePath(RootKey root) {
    if (root == LocalMachine)
        return daraRoot() + QStringLiteral("/registry/HKEY_LOCAL_MACHINE.ini");
    return userFolder() + QStringLiteral("/HKEY_CURRENT_USER.ini");
}

void TRegistry::setUserFolder(const QString& folder) {
    QMutexLocker lock(&folderMutex);
    chosenUserFolder() = folder;
}

QString TRegistry::userFolder() {
    {
        QMutexLocker lock(&folderMutex);
        if (!chosenUserFolder().isEmpty())
            return chosenUserFolder();
    }
    const QString fromEnvironment = qEnvironmentVariable("TORVI_CONFIG_HOME");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.config/torvi");
}

QString TRegistry::settingsKey(const QString& keyPath, const QString& name) {
    // QSettings separates its groups with "/"; a registry path separates its keys with "\".
    QString key = keyPath;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (key.endsWith(QLatin1Char('/')))
        key.chop(1);
    return key.isEmpty() ? name : key + QLatin1Char('/') + name;
}

QVariant TRegistry::readValue(const QString& keyPath, const QString& name,
                              const QVariant& defaultValue) const {
    return m_settings->value(settingsKey(keyPath, name), defaultValue);
}

void TRegistry::writeValue(const QString& keyPath, const QString& name, const QVariant& value) {
    m_settings->setValue(settingsKey(keyPath, name), value);
}

bool TRegistry::valueExists(const QString& keyPath, const QString& name) const {
    return m_settings->contains(settingsKey(keyPath, name));
}

bool TRegistry::keyExists(const QString& keyPath) const {
    m_settings->beginGroup(settingsKey(keyPath, QString()));
    const bool exists = !m_settings->childKeys().isEmpty() || !m_settings->childGroups().isEmpty();
    m_settings->endGroup();
    return exists;
}

void TRegistry::flush() {
    m_settings->sync();
}
