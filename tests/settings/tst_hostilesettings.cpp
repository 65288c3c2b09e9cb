// Settings files as a careless or hostile user leaves them: huge, oddly shaped, duplicated,
// read-only or another user's, with the lock file taken away.
#include "support/SafeIniFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray repeated(const QByteArray& unit, qsizetype totalBytes) {
    QByteArray out;
    out.reserve(totalBytes + unit.size());
    while (out.size() < totalBytes)
        out += unit;
    return out;
}

QByteArray manyKeys(int count) {
    QByteArray out = "[S]\r\n";
    for (int i = 0; i < count; ++i)
        out += "k" + QByteArray::number(i) + "=v\r\n";
    return out;
}

QByteArray manySections(int count) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "[s" + QByteArray::number(i) + "]\r\n";
    return out;
}

const char* const kOtherUserRefused = "refused";

// Runs `body` as a user other than the files' owner: as root, in a child that has become nobody;
// as anybody else, right here, since the files are then closed to their own owner by their
// modes. Returns the message of the error `body` raised, or the empty text.
QString asOtherUser(const std::function<void()>& body) {
    auto run = [&]() -> QString {
        try {
            body();
            return {};
        } catch (const Exception& e) {
            return e.message();
        }
    };
    if (::geteuid() != 0)
        return run();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return QStringLiteral("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const QByteArray message = run().toUtf8();
        [[maybe_unused]] const auto written =
            ::write(pipeFds[1], message.constData(), size_t(message.size()));
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    QByteArray message;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        message.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("the child failed");
    return QString::fromUtf8(message);
}

void setMode(const QString& path, mode_t mode) {
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}

} // namespace

class TestHostileSettings : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        setMode(m_dir->path(), 0755);
    }
    void cleanup() {
        for (const QString& lock : std::as_const(m_planted))
            ::unlink(QFile::encodeName(lock).constData()), ::rmdir(QFile::encodeName(lock));
        m_planted.clear();
    }

    // Big files of every shape read the one key asked for, and a write keeps all the rest.
    void shapes_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("bulk");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const QByteArray section = "[S]\r\nfirst=1\r\n";
        QTest::newRow("2 MB of blank lines") << section << repeated("\r\n", 2 << 20) << "first"
                                             << "1";
        QTest::newRow("2 MB of short lines") << section << repeated("x\n", 2 << 20) << "first"
                                             << "1";
        QTest::newRow("300 000 keys") << QByteArray() << manyKeys(300000) << "k299999"
                                      << "v";
        QTest::newRow("300 000 sections") << section << manySections(300000) << "first"
                                          << "1";
        QTest::newRow("CR-only line ends")
            << QByteArray() << QByteArray("[S]\rfirst=1\rsecond=2\r") << "second"
            << "2";
        QTest::newRow("empty quotes read as empty")
            << QByteArray() << QByteArray("[S]\r\nExportDir=\"\"\r\n") << "ExportDir"
            << "";
    }
    void shapes() {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, bulk);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString path = m_dir->filePath("cnf.INI");
        QVERIFY(writeBytes(path, head + bulk));
        TSafeIniFile ini(path);
        QCOMPARE(ini.ReadString("S", key, "<none>"), value);
        ini.WriteString("Z", "added", "yes");
        QCOMPARE(ini.ReadString("S", key, "<none>"), value);
        QCOMPARE(ini.ReadString("Z", "added", "<none>"), QStringLiteral("yes"));
        const QByteArray after = readBytes(path);
        // Written back line for line; only line ends become CR LF.
        QByteArray expected = head + bulk;
        expected.replace("\r\n", "\n").replace('\r', '\n').replace("\n", "\r\n");
        QCOMPARE(after.size(), expected.size() + qsizetype(strlen("[Z]\r\nadded=yes\r\n")));
        QVERIFY(after.startsWith(expected));
    }

    // Refused with a message before the file is read: the file is sparse, so reading it whole
    // would show as time and memory.
    void fileOverTheLimit() {
        const QString path = m_dir->filePath("cnf.INI");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(40) << 20));
        f.close();
        TSafeIniFile ini(path);
        for (const auto& op : {std::function<void()>([&] { ini.ReadString("S", "K", {}); }),
                               std::function<void()>([&] { ini.WriteString("S", "K", "v"); })}) {
            try {
                op();
                QFAIL("a file of 40 MB was accepted");
            } catch (const EIniFileException& e) {
                QVERIFY2(
                    e.message().contains(
                        QStringLiteral("Файл настроек %1 слишком велик (40,0 МБ").arg(path)) ||
                        e.message().contains(
                            QStringLiteral("Файл настроек %1 слишком велик (40.0 МБ").arg(path)),
                    qPrintable(e.message()));
            }
        }
        QCOMPARE(QFileInfo(path).size(), qint64(40) << 20);
    }

    // A name present twice is removed whole, so no older copy comes back.
    void duplicates_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("eraseSection");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("key twice") << QByteArray("[S]\r\nK=1\r\n;c\r\nk=2\r\nL=3\r\n") << false
                                   << QByteArray("[S]\r\n;c\r\nL=3\r\n");
        QTest::newRow("key in two sections of one name")
            << QByteArray("[S]\r\nK=1\r\n[T]\r\nK=9\r\n[s]\r\nK=2\r\n") << false
            << QByteArray("[S]\r\n[T]\r\nK=9\r\n[s]\r\n");
        QTest::newRow("long value twice")
            << QByteArray("[S]\r\nK=a\r\nK__$Count=2\r\nK__$Line2=b\r\nK__$Count=2\r\n"
                          "K__$Line2=c\r\n")
            << false << QByteArray("[S]\r\n");
        QTest::newRow("section twice")
            << QByteArray("[S]\r\nK=1\r\n\r\n[T]\r\nA=1\r\n[s]\r\nK=2\r\n") << true
            << QByteArray("[T]\r\nA=1\r\n");
    }
    void duplicates() {
        QFETCH(QByteArray, content);
        QFETCH(bool, eraseSection);
        QFETCH(QByteArray, expected);
        const QString path = m_dir->filePath("cnf.INI");
        QVERIFY(writeBytes(path, content));
        TSafeIniFile ini(path);
        if (eraseSection)
            ini.EraseSection("S");
        else
            ini.DeleteKey("S", "K");
        QCOMPARE(readBytes(path), expected);
        QCOMPARE(ini.ReadString("S", "K", "<none>"), QStringLiteral("<none>"));
    }

    // Whatever stands at the lock file's name, a locked operation either runs under the lock or
    // fails naming the lock file; it never writes unlocked.
    void lockInTheWay_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link") << "link";
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("folder") << "folder";
        QTest::newRow("another user's closed file") << "closed";
    }
    void lockInTheWay() {
        QFETCH(QString, kind);
        const QString path = m_dir->filePath("cnf.INI");
        const QString lock =
            NamedLock::lockFolder() + QLatin1Char('/') + TSafeIniFile::lockNameFor(path);
        const QByteArray lockName = QFile::encodeName(lock);
        m_planted.append(lock);
        if (kind == "link")
            QVERIFY(::symlink(QFile::encodeName(m_dir->filePath("target")).constData(),
                              lockName.constData()) == 0);
        else if (kind == "fifo")
            QVERIFY(::mkfifo(lockName.constData(), 0666) == 0);
        else if (kind == "folder")
            QVERIFY(::mkdir(lockName.constData(), 0777) == 0);
        else
            QVERIFY(::close(::open(lockName.constData(), O_CREAT | O_WRONLY, 0)) == 0);
        QVERIFY(writeBytes(path, "[S]\r\nK=old\r\n"));
        setMode(path, 0666);
        const QString message = asOtherUser([&] {
            TSafeIniFile ini(path);
            ini.WriteString("S", "K", "new");
        });
        QVERIFY2(message.startsWith(QStringLiteral("TSafeIniFile.WriteString -> Не удалось "
                                                   "захватить блокировку файла настроек: файл "
                                                   "блокировки %1 недоступен (")
                                        .arg(lock)),
                 qPrintable(message));
        QCOMPARE(readBytes(path), QByteArray("[S]\r\nK=old\r\n"));
    }

    // A file closed to the writer is never replaced; a writable file in a closed folder is
    // written in place and keeps its owner. Only the replacement makes the writer the owner.
    void filesOfOthers_data() {
        QTest::addColumn<mode_t>("fileMode");
        QTest::addColumn<mode_t>("folderMode");
        QTest::addColumn<bool>("written");
        QTest::newRow("read-only file, open folder") << mode_t(0444) << mode_t(0777) << false;
        QTest::newRow("read-only file, closed folder") << mode_t(0444) << mode_t(0555) << false;
        QTest::newRow("writable file, closed folder") << mode_t(0666) << mode_t(0555) << true;
        QTest::newRow("writable file, open folder") << mode_t(0666) << mode_t(0777) << true;
    }
    void filesOfOthers() {
        QFETCH(mode_t, fileMode);
        QFETCH(mode_t, folderMode);
        QFETCH(bool, written);
        const QString folder = m_dir->filePath("etc");
        QVERIFY(QDir(m_dir->path()).mkdir("etc"));
        const QString path = folder + QStringLiteral("/cnf.INI");
        const QByteArray before = "[S]\r\nK=old\r\n; keep\r\n";
        QVERIFY(writeBytes(path, before));
        setMode(path, fileMode);
        setMode(folder, folderMode);
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        const QString message = asOtherUser([&] {
            TSafeIniFile ini(path);
            ini.WriteString("S", "K", "new");
        });
        setMode(folder, 0755);
        struct stat after {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &after) == 0);
        if (!written || folderMode == 0555)
            QCOMPARE(after.st_uid, st.st_uid);
        QCOMPARE(after.st_mode, st.st_mode);
        if (written) {
            QVERIFY2(message.isEmpty(), qPrintable(message));
            QCOMPARE(readBytes(path), QByteArray("[S]\r\nK=new\r\n; keep\r\n"));
        } else {
            QCOMPARE(message, QStringLiteral("TSafeIniFile.WriteString -> Отказано в доступе -> "
                                             "Не удалось записать файл %1")
                                  .arg(path));
            QCOMPARE(readBytes(path), before);
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Temporary files of killed writers go with the next write; younger ones and other names
    // stay, since a writer without the lock may still be busy with them.
    void staleTemporaries() {
        const QString path = m_dir->filePath("cnf.INI");
        const QStringList names{".cnf.INI.0k3z9.tmp", ".cnf.INI.fresh1.tmp",
                                ".cnf.INI.0k3z9.tmp.keep", ".other.INI.abc.tmp"};
        for (const QString& name : names)
            QVERIFY(writeBytes(m_dir->filePath(name), "x"));
        for (const QString& name : {names.at(0), names.at(2), names.at(3)}) {
            const struct timeval old[2] = {{::time(nullptr) - 7200, 0},
                                           {::time(nullptr) - 7200, 0}};
            QVERIFY(::utimes(QFile::encodeName(m_dir->filePath(name)).constData(), old) == 0);
        }
        TSafeIniFile ini(path);
        ini.WriteString("S", "K", "v");
        QStringList left = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        left.sort();
        QCOMPARE(left, (QStringList{".cnf.INI.0k3z9.tmp.keep", ".cnf.INI.fresh1.tmp",
                                    ".other.INI.abc.tmp", "cnf.INI"}));
    }

    // Streams go in as two upper-case hexadecimal digits per byte, through the long-value
    // encoding when they are longer than one key holds.
    void binaryStreams_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("storedStart");
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        QTest::newRow("every byte") << all << "000102030405060708090A0B";
        QTest::newRow("longer than one key") << repeated(all, 40000) << "000102030405060708090A0B";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void binaryStreams() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, storedStart);
        const QString path = m_dir->filePath("cnf.INI");
        TSafeIniFile ini(path);
        QBuffer source;
        source.setData("skipped" + bytes);
        QVERIFY(source.open(QIODevice::ReadOnly));
        source.seek(7);
        ini.WriteBinaryStream("S", "Blob", source);
        QVERIFY(readBytes(path).contains("Blob=" + storedStart.toLatin1()));
        QBuffer target;
        target.setData("kept");
        QVERIFY(target.open(QIODevice::ReadWrite));
        target.seek(4);
        QCOMPARE(ini.ReadBinaryStream("S", "Blob", target), int(bytes.size()));
        QCOMPARE(target.pos(), qint64(4));
        QCOMPARE(target.data(), "kept" + bytes);
        ini.WriteString("S", "Bad", "0aFFzz11");
        QBuffer partial;
        QVERIFY(partial.open(QIODevice::ReadWrite));
        QCOMPARE(ini.ReadBinaryStream("S", "Bad", partial), 2);
        QCOMPARE(partial.data(), QByteArray("\x0a\xff"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_planted;
};

QTEST_GUILESS_MAIN(TestHostileSettings)
#include "tst_hostilesettings.moc"
