// torvi-host: the back-office program that loads the statistics plug-in.

#include "HostMainWindow.h"
#include "HostOptions.h"
#include "HostValues.h"
#include "OperatorScript.h"
#include "StatisticsPlugin.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

QtMessageHandler toolkitHandler = nullptr;

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

void offscreenJobMessages(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    if (type == QtWarningMsg && isOffscreenNotice(message))
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
    if (!parsed.options) {
        std::fprintf(stderr, "torvi-host: %s\n\n%s", parsed.error.toLocal8Bit().constData(),
                     hostUsage().toLocal8Bit().constData());
        return 2;
    }

    // Before QApplication, which gives notices of its own while it starts.
    if (parsed.options->offscreenJob)
        toolkitHandler = qInstallMessageHandler(offscreenJobMessages);

    // QApplication keeps argc and argv for its whole life.
    std::vector<QByteArray> toolkitStorage{QByteArray(argv[0])};
    for (const QString& argument : parsed.options->toolkitArguments)
        toolkitStorage.push_back(argument.toLocal8Bit());
    std::vector<char*> toolkitArgv;
    for (QByteArray& argument : toolkitStorage)
        toolkitArgv.push_back(argument.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = static_cast<int>(toolkitStorage.size());
    QApplication app(toolkitArgc, toolkitArgv.data());
    QApplication::setApplicationName(QStringLiteral("torvi-host"));

    const HostOptions& options = *parsed.options;
    HostValues::setOptions(options);

    HostMainWindow window(options);
    StatisticsPlugin plugin;
    QString error;
    if (!plugin.load(options.pluginPath, &error)) {
        std::fprintf(stderr, "torvi-host: %s\n", error.toLocal8Bit().constData());
        // Without an operator nobody would close the box: the job ends with the message alone.
        if (!options.offscreenJob)
            QMessageBox::critical(nullptr, QStringLiteral("Ошибка"), error);
        return 1;
    }
    plugin.initialise(&window, window.reportsItem());
    window.setLoadedModules({plugin.path()});
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
