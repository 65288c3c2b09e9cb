// torvi-host: the back-office program that loads the statistics plug-in.

#include "HostGoods.h"
#include "HostMainWindow.h"
#include "HostOptions.h"
#include "HostValues.h"
#include "OperatorScript.h"
#include "StatisticsPlugin.h"

#include "platform/core/QtTranslations.h"

#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

QtMessageHandler toolkitHandler = nullptr;
bool offscreenJob = false;

// Notices of a platform without a screen or a desktop session: an offscreen window cannot be
// raised, grabbed or made translucent, and a machine without a login session has no runtime
// folder, which Qt then makes itself. None is a fault of the job, whose output holds its own
// lines; every other message of the toolkit goes on as before.
bool isOffscreenNotice(const QString& message) {
    static const QStringList notices{
        QStringLiteral("This plugin does not support raise()"),
        QStringLiteral("This plugin does not support lower()"),
        QStringLiteral("This plugin does not support propagateSizeHints()"),
        QStringLiteral("This plugin does not support setting window opacity"),
        QStringLiteral("This plugin does not support setting window masks"),
        QStringLiteral("This plugin does not support grabbing the keyboard"),
        QStringLiteral("This plugin does not support grabbing the mouse"),
        QStringLiteral("This plugin does not support setParent!"),
    };
    return notices.contains(message) ||
           message.startsWith(
               QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to "));
}

// While QApplication starts its platform (-platform, QT_QPA_PLATFORM or the default): what the
// toolkit said meanwhile, held back until it is known whether the start failed. Qt ends a start
// without any platform with a fatal message in English and an abort; the host says it in Russian
// and exits with 2 when the platform named does not exist, as for any bad option, and with 1 when
// it exists but cannot start (no screen).
struct PlatformStart {
    bool running = false;
    QString missing; // the platform named but not found
    QString failed;  // the platform found that could not start
    bool noScreen = false;
    struct Held {
        QtMsgType type;
        const char* category; // a logging category's name lives as long as the program
        QString message;
    };
    QList<Held> held;
};
PlatformStart platformStart;

[[noreturn]] void platformStartFailed(const QString& fatalMessage) {
    static const QRegularExpression availableList(
        QStringLiteral("Available platform plugins are: ([^\\n]*)\\."));
    const QString available = availableList.match(fatalMessage).captured(1);
    QString line;
    if (!platformStart.missing.isEmpty())
        line = QStringLiteral("графическая платформа «%1» не найдена").arg(platformStart.missing);
    else if (!platformStart.failed.isEmpty())
        line =
            QStringLiteral("не удалось запустить графическую платформу «%1»%2")
                .arg(platformStart.failed,
                     platformStart.noScreen ? QStringLiteral(": нет связи с экраном") : QString());
    else
        line = QStringLiteral("не удалось запустить графическую платформу");
    if (!available.isEmpty())
        line += QStringLiteral("; есть: %1").arg(available);
    if (platformStart.missing.isEmpty())
        line += QStringLiteral(". Без экрана запустите программу с параметром -platform offscreen");
    std::fprintf(stderr, "torvi-host: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    // QApplication is half made: no destructor of it may run.
    std::_Exit(platformStart.missing.isEmpty() ? 1 : 2);
}

void hostMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (platformStart.running) {
        static const QRegularExpression notFound(
            QStringLiteral("^Could not find the Qt platform plugin \"([^\"]*)\""));
        static const QRegularExpression notLoaded(
            QStringLiteral("^Could not load the Qt platform plugin \"([^\"]*)\""));
        if (type == QtFatalMsg)
            platformStartFailed(message);
        if (const QRegularExpressionMatch m = notFound.match(message); m.hasMatch())
            platformStart.missing = m.captured(1);
        else if (const QRegularExpressionMatch m = notLoaded.match(message); m.hasMatch())
            platformStart.failed = m.captured(1);
        if (message.contains(QLatin1String("could not connect to display")) ||
            message.contains(QLatin1String("Failed to create wl_display")))
            platformStart.noScreen = true;
        platformStart.held << PlatformStart::Held{type, context.category, message};
        return;
    }
    if (offscreenJob && type == QtWarningMsg && isOffscreenNotice(message))
        return;
    toolkitHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const HostOptionsParse parsed = parseHostOptions(arguments, defaultPluginPath(executableDir()));
    if (parsed.helpRequested) {
        std::fputs(hostUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.versionRequested) {
        std::fputs("torvi-host " TORVI_VERSION "\n", stdout);
        return 0;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "torvi-host: %s\n\n%s", parsed.error.toLocal8Bit().constData(),
                     hostUsage().toLocal8Bit().constData());
        return 2;
    }

    // Before QApplication, which gives notices of its own while it starts.
    offscreenJob = parsed.options->offscreenJob;
    toolkitHandler = qInstallMessageHandler(hostMessages);

    // QApplication keeps argc and argv for its whole life.
    std::vector<QByteArray> toolkitStorage{QByteArray(argv[0])};
    for (const QString& argument : parsed.options->toolkitArguments)
        toolkitStorage.push_back(argument.toLocal8Bit());
    std::vector<char*> toolkitArgv;
    for (QByteArray& argument : toolkitStorage)
        toolkitArgv.push_back(argument.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = static_cast<int>(toolkitStorage.size());
    platformStart.running = true;
    QApplication app(toolkitArgc, toolkitArgv.data());
    platformStart.running = false;
    // The platform started after all (a fallback of a list): what was said goes on as usual.
    for (const PlatformStart::Held& held : std::as_const(platformStart.held))
        hostMessages(held.type, QMessageLogContext(nullptr, 0, nullptr, held.category),
                     held.message);
    platformStart.held.clear();
    QApplication::setApplicationName(QStringLiteral("torvi-host"));
    // Qt's own dialogs of the host (and the plug-in's, which loads the same catalogue) in Russian.
    const RussianQtTranslations qtTranslations;
    if (!qtTranslations.isInstalled())
        std::fprintf(stderr,
                     "torvi-host: нет переводов Qt (%s): стандартные окна Qt будут на английском; "
                     "установите пакет qt6-translations-l10n\n",
                     RussianQtTranslations::catalogueFile().toLocal8Bit().constData());

    const HostOptions& options = *parsed.options;
    HostValues::setOptions(options);

    HostMainWindow window(options);
    QString error;
    QStringList modules;
    // Before the plug-in, as the back office has its goods library loaded when it starts.
    if (!options.goodsDb.isEmpty()) {
        const QString goodsLibrary = HostGoods::defaultLibraryPath(executableDir());
        error = HostGoods::install(goodsLibrary, options.goodsDb);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "torvi-host: %s\n", error.toLocal8Bit().constData());
            if (!options.offscreenJob)
                QMessageBox::critical(nullptr, QStringLiteral("Ошибка"), error);
            return 1;
        }
        modules << goodsLibrary;
    }
    StatisticsPlugin plugin;
    if (!plugin.load(options.pluginPath, &error)) {
        std::fprintf(stderr, "torvi-host: %s\n", error.toLocal8Bit().constData());
        // Without an operator nobody would close the box: the job ends with the message alone.
        if (!options.offscreenJob)
            QMessageBox::critical(nullptr, QStringLiteral("Ошибка"), error);
        return 1;
    }
    plugin.initialise(&window, window.reportsItem());
    window.setLoadedModules(QStringList{plugin.path()} + modules);
    std::unique_ptr<OperatorScript> job;
    if (options.offscreenJob) {
        job = std::make_unique<OperatorScript>(
            window.reportsMenu(), OperatorScript::Settings{.exportFolder = defaultExportFolder(),
                                                           .periodEnd = options.jobEnd});
        // Ends the plug-in's modal loops too when the job gives up with a window still open.
        QObject::connect(job.get(), &OperatorScript::finished, &app,
                         [](int code) { QCoreApplication::exit(code); });
        job->start();
    }
    window.show();
    const int exitCode = QApplication::exec();
    // While the window and the application still exist, so that the plug-in frees its objects
    // in a complete Qt; the menu items it added stay with the window.
    plugin.unload();
    // Named only once the host has ended normally, so that a caller never takes up pictures of a
    // run that crashed on the way out.
    if (job && exitCode == 0)
        for (const QString& path : job->screenshots())
            std::fprintf(stdout, "%s\n", path.toLocal8Bit().constData());
    return exitCode;
}
