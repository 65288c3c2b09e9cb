#include "platform/settings/ProfileIniFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far bigger than any settings file the suite writes (a few hundred kilobytes with long values);
// one this size is a wrong path or a damaged file, and is refused before it is read.
constexpr off_t kMaxFileSize = off_t(32) << 20;

// A temporary file of a killed writer is removed by the next writer once it is this old, which no
// write in progress ever is.
constexpr qint64 kStaleTemporarySecs = 60;

[[noreturn]] void refuseTooBig(const QString& fileName, off_t size) {
    auto megabytes = [](off_t bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1); };
    throw EIniFileException(
        QStringLiteral("Файл настроек %1 слишком велик (%2 МБ, допустимо не более %3 МБ); "
                       "проверьте, тот ли это файл")
            .arg(fileName, megabytes(size), megabytes(kMaxFileSize)));
}

class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    void reset(int fd) {
        reset();
        m_fd = fd;
    }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

struct ReadResult {
    QByteArray bytes;
    int error = 0; // errno; ENOENT for a missing file
    struct stat st {};
};

// O_NONBLOCK keeps a FIFO planted at the file's name from hanging the open; anything but a regular
// file is refused after fstat.
ReadResult readAll(const QString& fileName, bool followLinks) {
    ReadResult r;
    const QByteArray path = QFile::encodeName(fileName);
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    if (!followLinks)
        flags |= O_NOFOLLOW;
    Fd fd(::open(path.constData(), flags));
    if (fd.get() < 0) {
        r.error = errno;
        return r;
    }
    if (::fstat(fd.get(), &r.st) != 0) {
        r.error = errno;
        return r;
    }
    if (S_ISDIR(r.st.st_mode)) {
        r.error = EISDIR;
        return r;
    }
    if (!S_ISREG(r.st.st_mode)) {
        r.error = EINVAL;
        return r;
    }
    if (r.st.st_size > kMaxFileSize) {
        r.error = EFBIG;
        return r;
    }
    r.bytes.resize(qsizetype(r.st.st_size));
    qsizetype done = 0;
    for (;;) {
        if (done == r.bytes.size())
            r.bytes.resize(done + 4096); // the file grew since fstat
        const ssize_t n = ::read(fd.get(), r.bytes.data() + done, size_t(r.bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            r.error = errno;
            r.bytes.clear();
            return r;
        }
        if (n == 0)
            break;
        done += n;
        if (done > kMaxFileSize) {
            r.error = EFBIG;
            r.st.st_size = off_t(done);
            r.bytes.clear();
            return r;
        }
    }
    r.bytes.truncate(done);
    return r;
}

[[noreturn]] void writeFailed(const QString& fileName, int osError) {
    throw EIniWriteError(QStringLiteral("Не удалось записать файл %1").arg(fileName), osError);
}

bool writeFully(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

bool isTemporaryOf(const char* entry, const QByteArray& base) {
    const QByteArrayView name(entry);
    const QByteArray head = "." + base + ".";
    if (!name.startsWith(head) || !name.endsWith(".tmp"))
        return false;
    const QByteArrayView random = name.sliced(head.size(), name.size() - head.size() - 4);
    if (random.isEmpty() || random.size() > 13)
        return false;
    for (char c : random)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

// Temporary files of writers killed between creating and renaming them; only names of the writer's
// own pattern, only plain files, and only old ones, so a write in progress elsewhere is left alone.
void removeStaleTemporaries(const QByteArray& dir, const QByteArray& base) {
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    while (const dirent* e = ::readdir(d)) {
        if (!isTemporaryOf(e->d_name, base))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || now - st.st_mtime < kStaleTemporarySecs)
            continue;
        ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

bool mayWrite(const QByteArray& path, int mode) {
    return ::faccessat(AT_FDCWD, path.constData(), mode, AT_EACCESS) == 0;
}

// For a folder that the user may not change but whose file he may: the file is written over in
// place. A crash in the middle can leave it torn, which the replacement avoids, so this is only
// the way out when the replacement is impossible; the caller holds the file's lock.
void rewriteInPlace(const QString& fileName, const QByteArray& target, const QByteArray& bytes,
                    const struct stat& old) {
    Fd fd(::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        writeFailed(fileName, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        writeFailed(fileName, errno);
    // Another file put in its place since it was read would get content that is not its own.
    if (st.st_dev != old.st_dev || st.st_ino != old.st_ino || !S_ISREG(st.st_mode))
        writeFailed(fileName, EAGAIN);
    if (!writeFully(fd.get(), bytes) || ::ftruncate(fd.get(), off_t(bytes.size())) != 0 ||
        ::fsync(fd.get()) != 0)
        writeFailed(fileName, errno);
    if (::close(fd.release()) != 0)
        writeFailed(fileName, errno);
}

void replaceFile(const QString& fileName, const QByteArray& bytes, const struct stat* old) {
    const QFileInfo info(fileName);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray base = QFile::encodeName(info.fileName());

    if (old) {
        // The replacement would need only the folder's permission; like the profile functions, a
        // file the user may not write (read-only, or another user's) is not replaced.
        if (!mayWrite(target, W_OK))
            writeFailed(fileName, errno);
        if (!mayWrite(dir, W_OK | X_OK)) {
            rewriteInPlace(fileName, target, bytes, *old);
            return;
        }
    }

    // The new file starts with 0666 less the umask, like any file the user creates; over an
    // existing file it takes that file's mode, so a settings file shared by several users stays
    // writable for all of them. O_EXCL refuses any name that exists, links included.
    Fd fd;
    QByteArray temp;
    for (int attempt = 0; attempt < 16 && fd.get() < 0; ++attempt) {
        temp = dir + "/." + base + '.' +
               QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        fd.reset(
            ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.get() < 0 && errno != EEXIST)
            writeFailed(fileName, errno);
    }
    if (fd.get() < 0)
        writeFailed(fileName, EEXIST);

    auto fail = [&](int error) {
        fd.reset();
        ::unlink(temp.constData());
        writeFailed(fileName, error);
    };
    if (old) {
        // Only root can hand the file back to its owner; anybody else becomes the owner, which
        // the kept mode makes harmless.
        if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
        }
        if (::fchmod(fd.get(), old->st_mode & 07777) != 0)
            fail(errno);
    }
    if (!writeFully(fd.get(), bytes) || ::fsync(fd.get()) != 0)
        fail(errno);
    if (::close(fd.release()) != 0)
        fail(errno);
    if (::rename(temp.constData(), target.constData()) != 0)
        fail(errno);
    removeStaleTemporaries(dir, base);
}

} // namespace

ProfileIniFile::ProfileIniFile(QString fileName)
    : m_fileName(std::move(fileName)) {}

QString ProfileIniFile::limited(QString value) {
    if (value.size() > kMaxValueLength)
        value.truncate(kMaxValueLength);
    return value;
}

IniDocument ProfileIniFile::read() const {
    ReadResult r = readAll(m_fileName, true);
    if (r.error == EFBIG)
        refuseTooBig(m_fileName, r.st.st_size);
    return r.error ? IniDocument() : IniDocument::fromBytes(std::move(r.bytes));
}

void ProfileIniFile::update(const std::function<void(IniDocument&)>& change) {
    // Following a link here would copy whatever it points to into a file of ours.
    ReadResult r = readAll(m_fileName, false);
    if (r.error == EFBIG)
        refuseTooBig(m_fileName, r.st.st_size);
    if (r.error && r.error != ENOENT)
        writeFailed(m_fileName, r.error);
    IniDocument doc = r.error ? IniDocument() : IniDocument::fromBytes(std::move(r.bytes));
    change(doc);
    if (doc.isModified())
        replaceFile(m_fileName, doc.toBytes(), r.error ? nullptr : &r.st);
}

QString ProfileIniFile::readString(const QString& section, const QString& key,
                                   const QString& defaultValue) const {
    return limited(read().value(section, key).value_or(defaultValue));
}

void ProfileIniFile::writeString(const QString& section, const QString& key, const QString& value) {
    update([&](IniDocument& doc) { doc.setValue(section, key, value, m_fileName); });
}

void ProfileIniFile::deleteKey(const QString& section, const QString& key) {
    update([&](IniDocument& doc) { doc.removeKey(section, key); });
}

void ProfileIniFile::eraseSection(const QString& section) {
    update([&](IniDocument& doc) { doc.removeSection(section); });
}

void ProfileIniFile::flush() const {
    const QByteArray dir = QFile::encodeName(QFileInfo(m_fileName).absolutePath());
    Fd fd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // As with the profile functions, there is nothing to report: every write is already complete
    // on disk, and a folder that cannot be opened holds no file of ours to flush.
    if (fd.get() >= 0)
        ::fsync(fd.get());
}
