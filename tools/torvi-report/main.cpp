// torvi-report: the statistics of the fuel and goods windows without a window, into files.

#include "ReportOptions.h"
#include "ReportOutputs.h"
#include "ReportRun.h"

#include "platform/core/Exceptions.h"

#include <QApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
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

// SIGINT and SIGTERM stop the run as the progress window's "Отмена" does: the handler only
// notes the signal and wakes the event loop through the pipe, where the run is cancelled.
int stopPipe[2] = {-1, -1};
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal) {
    stopSignal = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
}

// Without the pipe the signals keep their default action, which also ends the program without
// a partial file: every output is written aside and put in place whole.
void catchStopSignals() {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void raiseIfStopped() {
    if (stopSignal)
        throw EOperationCancelled();
}

// The step and what it failed on, in the same line; a stop stays a stop.
template <class Step>
auto step(const QString& what, Step&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const EOperationCancelled&) {
        throw;
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
    catchStopSignals();

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
        std::unique_ptr<QSocketNotifier> stopNotifier;
        if (stopPipe[0] >= 0) {
            stopNotifier = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
            QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [&run] {
                char bytes[16];
                while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
                }
                run.Cancel();
            });
        }
        const bool fuel = options.subject == ReportOptions::Subject::Fuel;
        step(fuel ? QStringLiteral("список видов топлива не прочитан")
                  : QStringLiteral("список категорий и товаров не прочитан"),
             [&] { run.ResolveItems(); });
        raiseIfStopped();
        try {
            step(QStringLiteral("статистика не построена"), [&] {
                run.Build(showProgress ? ReportRun::Progress(progress) : ReportRun::Progress());
            });
        } catch (...) {
            endProgress();
            throw;
        }
        endProgress();
        raiseIfStopped();
        const QStringList written = step(QStringLiteral("результат не записан"),
                                         [&] { return WriteReportOutputs(run, options); });
        if (!options.quiet)
            for (const QString& path : written)
                std::printf("%s\n", path.toLocal8Bit().constData());
    } catch (const EOperationCancelled& e) {
        complain(e.message());
        // As a shell reports a program its signal ended.
        return 128 + (stopSignal ? int(stopSignal) : SIGINT);
    } catch (const std::exception& e) {
        complain(messageOf(e));
        return 1;
    }
    return 0;
}
