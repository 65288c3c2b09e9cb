#include "platform/settings/ProfileIniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bigger than any settings file the suite writes; reading one this size is a sign of a wrong path,
// and holding it in memory twice (bytes and lines) must not exhaust the workstation.
constexpr off_t kMaxFileSize = off_t(256) << 20;

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

void replaceFile(const QString& fileName, const QByteArray& bytes, const struct stat* old) {
    const QFileInfo info(fileName);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray base = QFile::encodeName(info.fileName());

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
    const ReadResult r = readAll(m_fileName, true);
    return r.error ? IniDocument() : IniDocument::fromBytes(r.bytes);
}

void ProfileIniFile::update(const std::function<void(IniDocument&)>& change) {
    // Following a link here would copy whatever it points to into a file of ours.
    const ReadResult r = readAll(m_fileName, false);
    if (r.error && r.error != ENOENT)
        writeFailed(m_fileName, r.error);
    IniDocument doc = r.error ? IniDocument() : IniDocument::fromBytes(r.bytes);
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
