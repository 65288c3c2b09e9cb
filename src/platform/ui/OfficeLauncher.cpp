#include "platform/ui/OfficeLauncher.h"

#include "platform/core/StagedFile.h"
#include "platform/ui/UserTempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace OfficeLauncher {

namespace {

// What LibreOffice said last, enough to tell a filter problem from a crash.
QString tail(const QByteArray& output) {
    QStringList lines = QString::fromLocal8Bit(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Its launcher complains about Java on machines without it; that is never the reason.
    lines.removeIf([](const QString& line) { return line.contains(QLatin1String("javaldx")); });
    const QString said =
        lines.mid(std::max<qsizetype>(0, lines.size() - 3)).join(QLatin1Char(' ')).trimmed();
    return said.isEmpty() ? QStringLiteral("LibreOffice не сообщил причину") : said;
}

QStringList& installLocations() {
    static QStringList locations{QStringLiteral("/usr/lib/libreoffice/program/soffice"),
                                 QStringLiteral("/opt/libreoffice*/program/soffice")};
    return locations;
}

// The paths a location stands for: itself, or with the "*" in one folder name filled in by the
// folders there, the highest version first ("libreoffice24.8" before "libreoffice7.6").
QStringList expand(const QString& location) {
    const qsizetype star = location.indexOf(QLatin1Char('*'));
    if (star < 0)
        return {location};
    const qsizetype start = location.lastIndexOf(QLatin1Char('/'), star);
    qsizetype end = location.indexOf(QLatin1Char('/'), star);
    if (end < 0)
        end = location.size();
    const QString parent = location.left(start);
    const QString pattern = location.mid(start + 1, end - start - 1);
    QStringList names = QDir(parent).entryList({pattern}, QDir::Dirs | QDir::NoDotAndDotDot);
    const auto version = [&pattern](const QString& name) {
        return QVersionNumber::fromString(name.mid(pattern.indexOf(QLatin1Char('*'))));
    };
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return version(a) > version(b); });
    QStringList paths;
    for (const QString& name : names)
        paths << parent + QLatin1Char('/') + name + location.mid(end);
    return paths;
}

// A profile serves one LibreOffice at a time: a second one started on it hands its job to the
// first and ends with nothing done. Each conversion therefore holds a lock on the profile it
// uses; the kept profiles are reused, since setting one up costs LibreOffice several seconds,
// and when all of them are busy the conversion makes a fresh one of its own.
class ProfileSlot {
public:
    ProfileSlot(const QString& temp, const QString& fallback) {
        for (int slot = 0; slot < 4 && m_lock < 0; ++slot) {
            const QString name = temp + QStringLiteral("torvi-office-profile") +
                                 (slot ? QStringLiteral("-%1").arg(slot) : QString());
            m_lock = ::open(QFile::encodeName(name + QStringLiteral(".lock")).constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (m_lock >= 0 && ::flock(m_lock, LOCK_EX | LOCK_NB) == 0) {
                m_path = name;
            } else if (m_lock >= 0) {
                ::close(m_lock);
                m_lock = -1;
            }
        }
        if (m_path.isEmpty())
            m_path = fallback;
    }
    ~ProfileSlot() {
        if (m_lock >= 0)
            ::close(m_lock);
    }
    ProfileSlot(const ProfileSlot&) = delete;
    ProfileSlot& operator=(const ProfileSlot&) = delete;
    QString path() const { return m_path; }

private:
    int m_lock = -1;
    QString m_path;
};

// Waits for the process to end, at most `timeoutMs`, while the user interface keeps painting
// (and shows its busy cursor) but takes no input; false when the time ran out.
bool waitForEnd(QProcess& process, int timeoutMs) {
    if (!QCoreApplication::instance())
        return process.waitForFinished(timeoutMs);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(timeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return process.state() == QProcess::NotRunning;
}

} // namespace

QString executable() {
    QString found = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    for (const QString& location : installLocations())
        for (const QString& path : expand(location))
            if (found.isEmpty() && QFileInfo(path).isExecutable() && QFileInfo(path).isFile())
                found = path;
    if (found.isEmpty())
        throw EOfficeNotInstalled(
            QStringLiteral("Программа LibreOffice (soffice) не найдена ни в путях поиска программ "
                           "(PATH), ни в папках %1")
                .arg(installLocations().join(QStringLiteral(", "))));
    return found;
}

QStringList setInstallLocations(const QStringList& locations) {
    return std::exchange(installLocations(), locations);
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
    const ProfileSlot profile(temp, work.filePath(QStringLiteral("profile")));

    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--invisible"),
                          QStringLiteral("--nologo"),
                          QStringLiteral("--nodefault"),
                          QStringLiteral("--norestore"),
                          QStringLiteral("--nolockcheck"),
                          QStringLiteral("-env:UserInstallation=") +
                              QString::fromLatin1(QUrl::fromLocalFile(profile.path()).toEncoded())};
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
    if (!waitForEnd(process, timeoutMs)) {
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
    moveWholeFile(produced, target);
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
