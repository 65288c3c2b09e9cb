#include "platform/ui/OfficeLauncher.h"

#include "platform/ui/UserTempFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>
#include <unistd.h>

namespace OfficeLauncher {

namespace {

// What LibreOffice said last, enough to tell a filter problem from a crash.
QString tail(const QByteArray& output) {
    QStringList lines = QString::fromLocal8Bit(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Its launcher complains about Java on machines without it; that is never the reason.
    lines.removeIf([](const QString& line) { return line.contains(QLatin1String("javaldx")); });
    return lines.mid(std::max<qsizetype>(0, lines.size() - 3)).join(QLatin1Char(' ')).trimmed();
}

} // namespace

QString executable() {
    const QString found = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (found.isEmpty())
        throw EOfficeNotInstalled(QStringLiteral(
            "Программа LibreOffice (soffice) не найдена в путях поиска программ (PATH)"));
    return found;
}

void convert(const QString& source, const QString& importFilter, const QString& exportFilter,
             const QString& target, int timeoutMs) {
    const QString program = executable();
    if (QFileInfo::exists(target))
        throw EOSError(QStringLiteral("Файл %1 уже существует").arg(target));
    const QString temp = userTempFolder();
    QTemporaryDir work(temp + QStringLiteral("torvi-office-XXXXXX"));
    if (!work.isValid())
        throw EOSError(QStringLiteral("Не удалось создать временную папку в %1: %2")
                           .arg(temp, work.errorString()));
    // Kept between conversions: a fresh profile costs LibreOffice several seconds to set up.
    const QString profile = temp + QStringLiteral("torvi-office-profile");

    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--invisible"),
                          QStringLiteral("--nologo"),
                          QStringLiteral("--nodefault"),
                          QStringLiteral("--norestore"),
                          QStringLiteral("--nolockcheck"),
                          QStringLiteral("-env:UserInstallation=") +
                              QString::fromLatin1(QUrl::fromLocalFile(profile).toEncoded())};
    if (!importFilter.isEmpty())
        arguments << QStringLiteral("--infilter=") + importFilter;
    arguments << QStringLiteral("--convert-to") << exportFilter << QStringLiteral("--outdir")
              << work.path() << source;

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // LibreOffice wants a home; service accounts and minimal containers may have none.
    if (environment.value(QStringLiteral("HOME")).isEmpty())
        environment.insert(QStringLiteral("HOME"), work.path());
    process.setProcessEnvironment(environment);
    // Its own process group: a conversion that hangs is ended together with the office process
    // its launcher started.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start();
    if (!process.waitForStarted(30000))
        throw EOfficeStartError(
            QStringLiteral("Не удалось запустить %1: %2").arg(program, process.errorString()));
    const qint64 group = process.processId();
    if (!process.waitForFinished(timeoutMs)) {
        ::kill(-static_cast<pid_t>(group), SIGKILL);
        process.waitForFinished(5000);
        throw EOSError(
            QStringLiteral("LibreOffice не закончил преобразование за %1 с").arg(timeoutMs / 1000));
    }
    // The launcher may leave the office process behind when it is itself ended.
    ::kill(-static_cast<pid_t>(group), SIGKILL);

    const QString produced = QDir(work.path())
                                 .filePath(QFileInfo(source).completeBaseName() + QLatin1Char('.') +
                                           exportFilter.section(QLatin1Char(':'), 0, 0));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        !QFileInfo(produced).isFile() || QFileInfo(produced).size() == 0)
        throw EOSError(QStringLiteral("LibreOffice не создал документ %1 (код завершения %2): %3")
                           .arg(QFileInfo(target).fileName(), QString::number(process.exitCode()),
                                tail(process.readAll())));
    if (!QFile::rename(produced, target))
        throw EOSError(QStringLiteral("Не удалось записать документ %1").arg(target));
}

bool canShowDocuments() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void openDocument(const QString& path, bool asNewDocument) {
    QProcess process;
    process.setProgram(executable());
    QStringList arguments{QStringLiteral("--nologo")};
    if (asNewDocument)
        arguments << QStringLiteral("-n");
    arguments << path;
    process.setArguments(arguments);
    if (!process.startDetached())
        throw EOfficeStartError(QStringLiteral("Не удалось запустить %1: %2")
                                    .arg(process.program(), process.errorString()));
}

} // namespace OfficeLauncher
