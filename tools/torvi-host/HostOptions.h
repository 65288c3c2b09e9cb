#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

// What the back-office host answers to the plug-in's value codes, and where the plug-in is.
struct HostOptions {
    QString pluginPath;
    int mode = 0;   // GetValue 46; 0 and 3 make the plug-in take the fuel folder from code 5
    QString fuelDb; // GetValue 5
    // The current department's goods folder, or database on a chain's server, as the host's goods
    // library answers it; empty: no goods library, the suite's default goods folder (TradeDB).
    QString goodsDb;
    QString statServer; // GetPrivValue 13; empty is the local statistics server (code 11 = 1)
    QString caption;    // GetPrivValue 16, shown after "Статистика по ГСМ для "
    // Play the operator's part instead of waiting for one: build the fuel statistics of the
    // 30 days before jobEnd, leave screenshots in $DARA_ROOT/EXPORT/ and quit.
    bool offscreenJob = false;
    QDate jobEnd; // the day after the job's period; today unless --job-end says otherwise
    // The toolkit's own options (-platform offscreen, -style ...), handed on to QApplication.
    QStringList toolkitArguments;
};

struct HostOptionsParse {
    std::optional<HostOptions> options; // empty when the command line is refused or help asked
    QString error;                      // why it was refused, in Russian
    bool helpRequested = false;
    bool versionRequested = false;
};

// The whole command line, the program name first. It is read before QApplication exists, so
// that a bad option gets its usage message even without a display, and so that the toolkit
// never sees --plugin, which it would take for one of its own options.
HostOptionsParse parseHostOptions(const QStringList& arguments, const QString& defaultPluginPath);

// The Russian usage text.
QString hostUsage();

// Where the plug-in is when --plugin is not given: where the installed package puts it
// (libtorvistat9.so in the torvistat folder of the library folder), else built beside the host in
// the build tree, else next to the executable, else in ../lib.
QString defaultPluginPath(const QString& applicationDir);
// The folder of the running executable, before QApplication can tell it.
QString executableDir();

// $DARA_ROOT/DB/ (~/DARA/DB/ without DARA_ROOT): the suite's usual fuel database folder.
QString defaultFuelDb();
// $DARA_ROOT/EXPORT/: where the suite's programs leave what they export.
QString defaultExportFolder();
