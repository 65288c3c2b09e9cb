#pragma once

#include <QString>
#include <QVariant>

#include <memory>

class QSettings;

// The registry of the original platform, kept as INI files: the per-user root is
// ~/.config/torvi/HKEY_CURRENT_USER.ini, the machine-wide one $DARA_ROOT/registry/
// HKEY_LOCAL_MACHINE.ini. Key paths are written as the system spells them
// ("Software\Velmora\Torvi\common"); each backslash opens a sub-key.
class TRegistry {
public:
    enum RootKey { CurrentUser, LocalMachine };

    explicit TRegistry(RootKey root = CurrentUser);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // The file behind a root.
    static QString rootFilePath(RootKey root);
    // The folder of the per-user file: the one set here, else $TORVI_CONFIG_HOME, else
    // ~/.config/torvi. An empty folder returns to the default; tests point it at a temporary one.
    static void setUserFolder(const QString& folder);
    static QString userFolder();

    QVariant readValue(const QString& keyPath, const QString& name,
                       const QVariant& defaultValue = QVariant()) const;
    void writeValue(const QString& keyPath, const QString& name, const QVariant& value);
    bool valueExists(const QString& keyPath, const QString& name) const;
    // A key exists while it holds a value or a sub-key: the files keep no empty keys.
    bool keyExists(const QString& keyPath) const;
    // Writes pending changes to the file now instead of when the object goes.
    void flush();

private:
    static QString settingsKey(const QString& keyPath, const QString& name);
    std::unique_ptr<QSettings> m_settings;
};
