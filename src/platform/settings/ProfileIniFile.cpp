#include "platform/settings/ProfileIniFile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
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

ReadResult readFrom(int fd, off_t limit = kMaxFileSize);

// O_NONBLOCK keeps a FIFO planted at the file's name from hanging the open; anything but a regular
// file is refused after fstat.
ReadResult readAll(const QString& fileName, bool followLinks, off_t limit = kMaxFileSize) {
    const QByteArray path = QFile::encodeName(fileName);
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    if (!followLinks)
        flags |= O_NOFOLLOW;
    Fd fd(::open(path.constData(), flags));
    if (fd.get() < 0) {
        ReadResult r;
        r.error = errno;
        return r;
    }
    return readFrom(fd.get(), limit);
}

// The whole file from its start.
ReadResult readFrom(int fd, off_t limit) {
    ReadResult r;
    if (::fstat(fd, &r.st) != 0) {
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
    if (r.st.st_size > limit) {
        r.error = EFBIG;
        return r;
    }
    r.bytes.resize(qsizetype(r.st.st_size));
    qsizetype done = 0;
    for (;;) {
        if (done == r.bytes.size())
            r.bytes.resize(done + 4096); // the file grew since fstat
        const ssize_t n = ::pread(fd, r.bytes.data() + done, size_t(r.bytes.size() - done), done);
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
        if (done > limit) {
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

// From the file's start, whatever its position.
bool writeFully(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

bool syncFolder(const QByteArray& dir) {
    Fd fd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

// ---- The safety copy of a rewrite in place ----------------------------------------------------
//
// A file rewritten in place is torn when the writer dies halfway. Before it starts, the writer
// keeps the old content, with what identifies the file and the new content, in a journal of its
// own user's (the folder of the settings file is closed to him, and a shared folder would let
// anybody plant a journal). Whoever of that user opens the file next and finds the journal puts
// the old content back, unless the file is no longer the one torn by that write: then another
// writer has been at it since, and his content stays. Another user does not see the journal; the
// long values' hashes keep him from taking a torn value for a whole one.

constexpr qsizetype kJournalBlock = 4096;
const char* const kJournalMagic = "torvi settings journal 1";

QByteArray digest(QByteArrayView bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

struct Journal {
    QByteArray target; // absolute path of the settings file
    quint64 device = 0;
    quint64 inode = 0;
    QByteArray oldBytes;
    qint64 newSize = 0;
    QByteArray newDigest;
    QList<QByteArray> newBlocks; // digests of the new content's whole blocks

    QByteArray encode() const {
        QByteArray out;
        QDataStream stream(&out, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_6_0);
        stream << QByteArray(kJournalMagic) << target << device << inode << oldBytes << newSize
               << newDigest << newBlocks;
        return out + digest(out);
    }
    // False for anything but a journal written whole: a writer killed while writing it had not
    // yet touched the settings file.
    bool decode(const QByteArray& bytes) {
        const qsizetype size =
            bytes.size() - QCryptographicHash::hashLength(QCryptographicHash::Sha256);
        if (size <= 0 || digest(QByteArrayView(bytes).first(size)) != bytes.mid(size))
            return false;
        QDataStream stream(bytes.first(size));
        stream.setVersion(QDataStream::Qt_6_0);
        QByteArray magic;
        stream >> magic >> target >> device >> inode >> oldBytes >> newSize >> newDigest >>
            newBlocks;
        return stream.status() == QDataStream::Ok && magic == kJournalMagic;
    }

    // Whether `current` is what a rewrite from the old to the new content leaves when it stops
    // halfway: the new content's beginning, then the old content's rest (or nothing, past the old
    // end). The beginning is checked block by block against the new content's digests.
    bool tornBy(const QByteArray& current) const {
        const qsizetype oldSize = oldBytes.size();
        if (current.size() < oldSize)
            return false;
        qsizetype written = current.size();
        if (current.size() == oldSize) {
            while (written > 0 && current.at(written - 1) == oldBytes.at(written - 1))
                --written;
        }
        if (written > newSize)
            return false;
        for (qsizetype block = 0; (block + 1) * kJournalBlock <= written; ++block)
            if (block >= newBlocks.size() ||
                digest(QByteArrayView(current).sliced(block * kJournalBlock, kJournalBlock)) !=
                    newBlocks.at(block))
                return false;
        return true;
    }
};

// The user's own folder for journals: $XDG_STATE_HOME/torvi, by default ~/.local/state/torvi.
QString journalFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty() || !QDir::isAbsolutePath(home))
            return {};
        base = home + QStringLiteral("/.local/state");
    }
    return base + QStringLiteral("/torvi");
}

QByteArray journalPath(const QString& folder, const QByteArray& target) {
    return QFile::encodeName(folder) + "/settings-" +
           QCryptographicHash::hash(target, QCryptographicHash::Sha1).toHex() + ".journal";
}

// Only a folder of the user's that nobody else may change holds journals.
bool isOwnFolder(const QByteArray& folder) {
    struct stat st {};
    return ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

[[noreturn]] void journalFailed(const QString& fileName, const QString& folder, int osError) {
    throw EIniWriteError(
        QStringLiteral("Папка файла настроек %1 закрыта для записи, поэтому он переписывается "
                       "на месте; страховую копию его содержимого не удалось сохранить в папке "
                       "%2, и файл оставлен как был")
            .arg(fileName, folder),
        osError);
}

// Writes the journal whole and flushed before the settings file is touched; returns its path.
QByteArray writeJournal(const QString& fileName, const Journal& journal) {
    const QString folder = journalFolder();
    if (folder.isEmpty())
        journalFailed(fileName, QStringLiteral("~/.local/state/torvi"), ENOENT);
    const QByteArray dir = QFile::encodeName(folder);
    errno = 0;
    if (!QDir().mkpath(folder) || !isOwnFolder(dir))
        journalFailed(fileName, folder, errno ? errno : EACCES);
    struct stat st {};
    if (::lstat(dir.constData(), &st) != 0 ||
        ((st.st_mode & 077) && ::chmod(dir.constData(), 0700)))
        journalFailed(fileName, folder, errno);
    const QByteArray path = journalPath(folder, journal.target);
    const QByteArray temp = path + ".new";
    Fd fd(::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        journalFailed(fileName, folder, errno);
    if (!writeFully(fd.get(), journal.encode()) || ::fsync(fd.get()) != 0 ||
        ::close(fd.release()) != 0 || ::rename(temp.constData(), path.constData()) != 0 ||
        !syncFolder(dir)) {
        const int error = errno;
        ::unlink(temp.constData());
        journalFailed(fileName, folder, error);
    }
    return path;
}

bool putBack(int fd, const QByteArray& bytes) {
    return writeFully(fd, bytes) && ::ftruncate(fd, off_t(bytes.size())) == 0 && ::fsync(fd) == 0;
}

// Puts back the old content of a rewrite in place that a killed writer left torn. Nothing to do
// (one lstat) in the usual case of no journal; a journal that cannot be used now stays for later.
void recoverRewrite(const QString& fileName) {
    const QString folder = journalFolder();
    if (folder.isEmpty())
        return;
    const QByteArray target = QFile::encodeName(QFileInfo(fileName).absoluteFilePath());
    const QByteArray path = journalPath(folder, target);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !isOwnFolder(QFile::encodeName(folder)))
        return;
    // The old content is within the limit; the rest of a journal is far smaller.
    const ReadResult saved = readAll(QFile::decodeName(path), false, 2 * kMaxFileSize);
    Journal journal;
    if (saved.error == 0 && (!journal.decode(saved.bytes) || journal.target != target)) {
        ::unlink(path.constData());
        return;
    }
    if (saved.error)
        return;
    Fd fd(::open(target.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            ::unlink(path.constData());
        return;
    }
    const ReadResult current = readFrom(fd.get());
    if (current.error == EFBIG || current.error == EINVAL || current.error == EISDIR ||
        quint64(current.st.st_dev) != journal.device ||
        quint64(current.st.st_ino) != journal.inode) {
        ::unlink(path.constData());
        return;
    }
    if (current.error)
        return;
    const bool whole =
        current.bytes == journal.oldBytes ||
        (current.bytes.size() == journal.newSize && digest(current.bytes) == journal.newDigest);
    if (whole || !journal.tornBy(current.bytes) || putBack(fd.get(), journal.oldBytes))
        ::unlink(path.constData());
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
// place, under the safety copy of its old content (see Journal); the caller holds the file's lock.
// A write that fails halfway (a full disk) puts the old content back at once.
void rewriteInPlace(const QString& fileName, const QByteArray& target, const QByteArray& bytes,
                    const struct stat& old, const QByteArray& oldBytes) {
    Fd fd(::open(target.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        writeFailed(fileName, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        writeFailed(fileName, errno);
    // Another file put in its place since it was read would get content that is not its own.
    if (st.st_dev != old.st_dev || st.st_ino != old.st_ino || !S_ISREG(st.st_mode))
        writeFailed(fileName, EAGAIN);
    Journal journal;
    journal.target = target;
    journal.device = quint64(st.st_dev);
    journal.inode = quint64(st.st_ino);
    journal.oldBytes = oldBytes;
    journal.newSize = bytes.size();
    journal.newDigest = digest(bytes);
    for (qsizetype at = 0; at + kJournalBlock <= bytes.size(); at += kJournalBlock)
        journal.newBlocks.append(digest(QByteArrayView(bytes).sliced(at, kJournalBlock)));
    const QByteArray journalFile = writeJournal(fileName, journal);
    if (!writeFully(fd.get(), bytes) || ::ftruncate(fd.get(), off_t(bytes.size())) != 0 ||
        ::fsync(fd.get()) != 0) {
        const int error = errno;
        if (putBack(fd.get(), oldBytes))
            ::unlink(journalFile.constData());
        writeFailed(fileName, error);
    }
    if (::close(fd.release()) != 0)
        writeFailed(fileName, errno);
    ::unlink(journalFile.constData());
}

void replaceFile(const QString& fileName, const QByteArray& bytes, const struct stat* old,
                 const QByteArray& oldBytes) {
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
            rewriteInPlace(fileName, target, bytes, *old, oldBytes);
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

QString ProfileIniFile::defaultAsRead(const QString& defaultValue) {
    qsizetype end = defaultValue.size();
    while (end > 0 && defaultValue.at(end - 1) == QLatin1Char(' '))
        --end;
    return defaultValue.left(end);
}

IniDocument ProfileIniFile::read() const {
    recoverRewrite(m_fileName);
    ReadResult r = readAll(m_fileName, true);
    if (r.error == EFBIG)
        refuseTooBig(m_fileName, r.st.st_size);
    return r.error ? IniDocument() : IniDocument::fromBytes(std::move(r.bytes));
}

void ProfileIniFile::update(const std::function<void(IniDocument&)>& change) {
    recoverRewrite(m_fileName);
    // Following a link here would copy whatever it points to into a file of ours.
    ReadResult r = readAll(m_fileName, false);
    if (r.error == EFBIG)
        refuseTooBig(m_fileName, r.st.st_size);
    if (r.error && r.error != ENOENT)
        writeFailed(m_fileName, r.error);
    const QByteArray oldBytes = r.bytes;
    IniDocument doc = r.error ? IniDocument() : IniDocument::fromBytes(std::move(r.bytes));
    change(doc);
    if (!doc.isModified())
        return;
    const QByteArray bytes = doc.toBytes();
    // Past the limit the file would be refused by every later call, this write's own reader too.
    if (bytes.size() > kMaxFileSize)
        refuseTooBig(m_fileName, off_t(bytes.size()));
    replaceFile(m_fileName, bytes, r.error ? nullptr : &r.st, oldBytes);
}

QString ProfileIniFile::readString(const QString& section, const QString& key,
                                   const QString& defaultValue) const {
    return limited(read().value(section, key).value_or(defaultAsRead(defaultValue)));
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
    // As with the profile functions, there is nothing to report: every write is already complete
    // on disk, and a folder that cannot be opened holds no file of ours to flush.
    syncFolder(QFile::encodeName(QFileInfo(m_fileName).absolutePath()));
}
