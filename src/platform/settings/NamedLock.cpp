#include "platform/settings/NamedLock.h"

#include "platform/core/Exceptions.h"

#include <QFile>
#include <QHash>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct NamedLock::Entry {
    QString path;
    int fd = -1;
    std::recursive_mutex mutex;
    int depth = 0; // only touched by the thread that holds `mutex`

    ~Entry() {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

// Entries by name, weakly held: the last object of a name closes the file.
struct Registry {
    std::mutex mutex;
    QHash<QString, std::weak_ptr<NamedLock::Entry>> entries;
};

Registry& registry() {
    static Registry r;
    return r;
}

// Opens or creates the lock file without following a link planted at its name. An existing file is
// opened without O_CREAT, because with fs.protected_regular the kernel refuses O_CREAT on another
// user's file in a sticky folder such as /tmp even when the mode would allow it.
// Returns the descriptor, or -1 with errno set; for something other than a plain file in the way,
// `kind` receives its type.
int openLockFile(const QByteArray& path, mode_t* kind) {
    constexpr int common = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | common, 0666);
    if (fd >= 0) {
        // The umask would otherwise keep other users out of a lock they must share.
        ::fchmod(fd, 0666);
    } else if (errno == EEXIST) {
        fd = ::open(path.constData(), O_RDWR | common);
        // flock() needs no write access; a file whose owner narrowed its mode still locks.
        if (fd < 0 && errno == EACCES)
            fd = ::open(path.constData(), O_RDONLY | common);
    }
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        *kind = st.st_mode & S_IFMT;
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    return fd;
}

// What stands at the lock file's name, for the message; the system's text says only "not a plain
// file" or, for a link, too little about what to remove.
QString unusableReason(int osError, mode_t kind) {
    switch (osError == EISDIR ? S_IFDIR : kind) {
    case S_IFIFO:
        return QStringLiteral("на его месте находится именованный канал FIFO, а не обычный файл");
    case S_IFSOCK:
        return QStringLiteral("на его месте находится сокет, а не обычный файл");
    case S_IFCHR:
    case S_IFBLK:
        return QStringLiteral("на его месте находится файл устройства, а не обычный файл");
    case S_IFDIR:
        return QStringLiteral("на его месте находится папка, а не обычный файл");
    default:
        break;
    }
    if (osError == ELOOP)
        return QStringLiteral("на его месте находится символическая ссылка, а не обычный файл");
    return SysErrorMessage(osError);
}

} // namespace

QString NamedLock::lockFolder() {
    return QStringLiteral("/tmp");
}

NamedLock::NamedLock(const QString& name)
    : m_name(name) {
    const QByteArray encoded = QFile::encodeName(name);
    if (name.isEmpty() || encoded.size() > NAME_MAX || name.contains(QLatin1Char('/')) ||
        name == QLatin1String(".") || name == QLatin1String(".."))
        return;
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    if (std::shared_ptr<Entry> existing = r.entries.value(name).lock()) {
        m_entry = std::move(existing);
        return;
    }
    const QString path = lockFolder() + QLatin1Char('/') + name;
    mode_t kind = 0;
    const int fd = openLockFile(QFile::encodeName(path), &kind);
    if (fd < 0) {
        // Only a name the file system cannot hold leaves the object without a lock. A file in the
        // way (a link, another user's file nobody else may open) would otherwise let anybody
        // switch the lock off for everyone; it makes every locked operation fail instead.
        if (errno != ENAMETOOLONG) {
            m_failedPath = path;
            m_failure = unusableReason(errno, kind);
        }
        return;
    }
    auto entry = std::make_shared<Entry>();
    entry->path = path;
    entry->fd = fd;
    r.entries.insert(name, entry);
    m_entry = std::move(entry);
}

NamedLock::~NamedLock() {
    if (!m_entry)
        return;
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    m_entry.reset();
    const auto it = r.entries.find(m_name);
    if (it != r.entries.end() && it->expired())
        r.entries.erase(it);
}

QString NamedLock::filePath() const {
    return m_entry ? m_entry->path : QString();
}

void NamedLock::lock() {
    if (!m_entry) {
        if (!m_failure.isEmpty())
            raiseUnusable(m_failedPath, m_failure);
        return;
    }
    m_entry->mutex.lock();
    if (m_entry->depth == 0) {
        int rc = 0;
        while ((rc = ::flock(m_entry->fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            const int error = errno;
            m_entry->mutex.unlock();
            raiseUnusable(m_entry->path, SysErrorMessage(error));
        }
    }
    ++m_entry->depth;
}

void NamedLock::raiseUnusable(const QString& path, const QString& reason) {
    throw EOSError(
        QStringLiteral("Не удалось захватить блокировку файла настроек: файл блокировки %1 "
                       "недоступен (%2). Удалите его или дайте всем пользователям право на чтение "
                       "и запись")
            .arg(path, reason));
}

void NamedLock::unlock() {
    if (!m_entry)
        return;
    if (--m_entry->depth == 0)
        ::flock(m_entry->fd, LOCK_UN);
    m_entry->mutex.unlock();
}
