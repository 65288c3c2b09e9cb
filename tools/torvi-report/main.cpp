// torvi-report: the statistics of the fuel and goods windows without a window, into files.

#include "ReportOptions.h"
#include "ReportOutputs.h"
#include "ReportRun.h"

#include "platform/core/Exceptions.h"

#include <QApplication>
#include <QDateTime>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

namespace {

// The toolkit's notes (no window raising offscreen, a runtime folder made for it) mean nothing
// to whoever reads a scheduled job's output; its real errors still come through.
void toolkitMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "torvi-report: %s\n", message.toLocal8Bit().constData());
}

// One line on stderr, whatever line breaks the message brings from a server.
void complain(const QString& message) {
    QString line = message;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fputs(QStringLiteral("torvi-report: %1\n").arg(line.trimmed()).toLocal8Bit().constData(),
               stderr);
    std::fflush(stderr);
}

QString messageOf(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->message();
    return QString::fromLocal8Bit(e.what());
}

// The step and what it failed on, in the same line.
template <class Step>
auto step(const QString& what, Step&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& e) {
        throw Exception(what + QStringLiteral(": ") + messageOf(e));
    }
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Read before the application exists: a bad option or --help needs no display.
    const ReportOptionsParse parsed = parseReportOptions(arguments, QDateTime::currentDateTime());
    if (parsed.helpRequested) {
        std::fputs(reportUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.versionRequested) {
        std::fputs("torvi-report " TORVI_VERSION "\n", stdout);
        return 0;
    }
    if (!parsed.options) {
        complain(parsed.error);
        complain(QStringLiteral("справка: torvi-report --help"));
        return 2;
    }
    const ReportOptions& options = *parsed.options;

    // A scheduled run has no display: the program draws its charts offscreen by itself.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(toolkitMessage);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("torvi-report"));
    QApplication::setQuitOnLastWindowClosed(false);

    const bool showProgress = !options.quiet && ::isatty(STDERR_FILENO);
    int shown = -1;
    const auto progress = [&](int done, int total) {
        const int percent = total > 0 ? int(qint64(done) * 100 / total) : 0;
        if (percent == shown)
            return;
        shown = percent;
        std::fprintf(stderr, "\r%s %3d%%",
                     QStringLiteral("Построение статистики:").toLocal8Bit().constData(), percent);
        std::fflush(stderr);
    };
    const auto endProgress = [&] {
        if (showProgress && shown >= 0)
            std::fputs("\n", stderr);
        shown = -1;
    };

    try {
        ReportRun run(options);
        const bool fuel = options.subject == ReportOptions::Subject::Fuel;
        step(fuel ? QStringLiteral("список видов топлива не прочитан")
                  : QStringLiteral("список категорий и товаров не прочитан"),
             [&] { run.ResolveItems(); });
        try {
            step(QStringLiteral("статистика не построена"), [&] {
                run.Build(showProgress ? ReportRun::Progress(progress) : ReportRun::Progress());
            });
        } catch (...) {
            endProgress();
            throw;
        }
        endProgress();
        const QStringList written = step(QStringLiteral("результат не записан"),
                                         [&] { return WriteReportOutputs(run, options); });
        if (!options.quiet)
            for (const QString& path : written)
                std::printf("%s\n", path.toLocal8Bit().constData());
    } catch (const std::exception& e) {
        complain(messageOf(e));
        return 1;
    }
    return 0;
}
