#pragma once

// Code run in a child process with a writer's rights, for tests of what a user may not change.

#include "common/Errors.h"

#include <QFile>

#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Root may change any folder; a writer that must not becomes nobody.
inline bool dropRootRights() {
    return ::geteuid() != 0 ||
           (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
}

struct ChildEnd {
    QString message; // errorOf(body)
    int signal = 0;  // that ended the child
};

// errorOf(body) in a child process with a writer's rights (see dropRootRights), optionally with a
// file size limit: crossing it ends the child with SIGXFSZ there and then, unless `ignoreSignal`,
// when the write fails instead, as on a full disk.
inline ChildEnd inChild(const std::function<void()>& body, rlim_t sizeLimit = 0,
                        bool ignoreSignal = false) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {QStringLiteral("pipe failed")};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{sizeLimit, sizeLimit}, noCore{0, 0};
        ::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
        if (!dropRootRights() || ::setrlimit(RLIMIT_CORE, &noCore) != 0 ||
            (sizeLimit && ::setrlimit(RLIMIT_FSIZE, &limit) != 0))
            ::_exit(2);
        const QByteArray message = errorOf(body).toUtf8();
        ::_exit(::write(fds[1], message.constData(), size_t(message.size())) < 0);
    }
    ::close(fds[1]);
    QFile pipe;
    pipe.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    ChildEnd end{QString::fromUtf8(pipe.readAll())};
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        end.signal = WTERMSIG(status);
    else if (WEXITSTATUS(status) != 0)
        end.message = QStringLiteral("child failed");
    return end;
}
