// Settings files as a careless or hostile user leaves them: huge, oddly shaped, duplicated,
// read-only or another user's, with the lock file taken away.
#include "common/Errors.h"
#include "common/TestFiles.h"

#include "support/SafeIniFile.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray lines(const QByteArray& head, const QByteArray& unit, int count) {
    QByteArray out = head;
    for (int i = 0; i < count; ++i)
        out += QByteArray(unit).replace('#', QByteArray::number(i));
    return out;
}

// errorOf(body) run as a user other than the files' owner: as root, in a child that has become
// nobody; as anybody else right here, since the files are then closed to their own owner by their
// modes.
QString asOtherUser(const std::function<void()>& body) {
    if (::geteuid() != 0)
        return errorOf(body);
    int fds[2];
    if (::pipe(fds) != 0)
        return QStringLiteral("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const QByteArray message = errorOf(body).toUtf8();
        ::_exit(::write(fds[1], message.constData(), size_t(message.size())) < 0);
    }
    ::close(fds[1]);
    QFile pipe;
    pipe.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QString message = QString::fromUtf8(pipe.readAll());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? message : QStringLiteral("child failed");
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
        m_path = m_dir->filePath("cnf.INI");
    }

    // Big and odd files read the key asked for; a change keeps every other line as it was (line
    // ends become CR LF) and removes every copy of a duplicated name, so none comes back.
    void content_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("change"); // write Z, delete S/K, erase S
        QTest::addColumn<QString>("value");  // of S/K after the change
        QTest::addColumn<QByteArray>("expected");
        const QByteArray blank = lines("[S]\r\nK=1\r\n", "\r\n", 1 << 20);
        const QByteArray shortLines = lines("[S]\r\nK=1\r\n", "x\n", 1 << 20);
        const QByteArray keys = lines("[S]\r\n", "k#=v\r\n", 200000) + "K=1\r\n";
        const QByteArray sections = lines("[S]\r\nK=1\r\n", "[s#]\r\n", 200000);
        for (const auto& [name, bytes] :
             {std::pair{"2 MB of blank lines", blank}, std::pair{"2 MB of short lines", shortLines},
              std::pair{"200 000 keys", keys}, std::pair{"200 000 sections", sections}})
            QTest::newRow(name) << bytes << "write"
                                << "1"
                                << QByteArray(bytes).replace("x\n", "x\r\n") + "[Z]\r\nV=1\r\n";
        QTest::newRow("CR-only line ends")
            << QByteArray("[S]\rJ=0\rK=1\r") << "write"
            << "1" << QByteArray("[S]\r\nJ=0\r\nK=1\r\n[Z]\r\nV=1\r\n");
        QTest::newRow("empty quotes") << QByteArray("[S]\r\nK=\"\"\r\n") << ""
                                      << "" << QByteArray();
        QTest::newRow("key twice") << QByteArray("[S]\r\nK=1\r\n;c\r\nk=2\r\nL=3\r\n") << "delete"
                                   << "<none>" << QByteArray("[S]\r\n;c\r\nL=3\r\n");
        QTest::newRow("key in a section twice")
            << QByteArray("[S]\r\nK=1\r\n[T]\r\nK=9\r\n[s]\r\nK=2\r\n") << "delete"
            << "<none>" << QByteArray("[S]\r\n[T]\r\nK=9\r\n[s]\r\n");
        QTest::newRow("long value twice")
            << QByteArray("[S]\r\nK=a\r\nK__$Count=2\r\nK__$Line2=b\r\nK__$Count=2\r\n"
                          "K__$Line2=c\r\n")
            << "delete"
            << "<none>" << QByteArray("[S]\r\n");
        QTest::newRow("section twice")
            << QByteArray("[S]\r\nK=1\r\n\r\n[T]\r\nA=1\r\n[s]\r\nK=2\r\n") << "erase"
            << "<none>" << QByteArray("[T]\r\nA=1\r\n");
    }
    void content() {
        QFETCH(QByteArray, content);
        QFETCH(QString, change);
        QFETCH(QByteArray, expected);
        QVERIFY(writeBytes(m_path, content));
        TSafeIniFile ini(m_path);
        if (change == "write")
            ini.WriteString("Z", "V", "1");
        else if (change == "delete")
            ini.DeleteKey("S", "K");
        else if (change == "erase")
            ini.EraseSection("S");
        QTEST(ini.ReadString("S", "K", "<none>"), "value");
        if (!change.isEmpty())
            QVERIFY(readBytes(m_path) == expected);
    }

    // Refused before it is read: the file is sparse, reading it would cost time and memory.
    void fileOverTheLimit() {
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(40) << 20));
        f.close();
        TSafeIniFile ini(m_path);
        QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.ReadString("S", "K", {}));
        QCOMPARE(errorOf([&] { ini.WriteString("S", "K", "v"); }),
                 "TSafeIniFile.WriteString -> Файл настроек " + m_path +
                     " слишком велик (40.0 МБ, допустимо не более 32.0 МБ); проверьте, тот ли это "
                     "файл");
        QCOMPARE(QFileInfo(m_path).size(), qint64(40) << 20);
    }

    // Whatever stands at the lock file's name, a write either runs under the lock or fails
    // naming the lock file; it never goes on unlocked.
    void lockInTheWay_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("link") << int(S_IFLNK);
        QTest::newRow("FIFO") << int(S_IFIFO);
        QTest::newRow("folder") << int(S_IFDIR);
        QTest::newRow("another user's closed file") << int(S_IFREG);
    }
    void lockInTheWay() {
        QFETCH(int, kind);
        const QString lock = NamedLock::lockFolder() + "/" + TSafeIniFile::lockNameFor(m_path);
        const QByteArray name = QFile::encodeName(lock);
        const int made = kind == S_IFLNK   ? ::symlink("/nonexistent", name.constData())
                         : kind == S_IFIFO ? ::mkfifo(name.constData(), 0666)
                         : kind == S_IFDIR ? ::mkdir(name.constData(), 0777)
                                           : ::close(::open(name.constData(), O_CREAT, 0));
        QVERIFY(made == 0);
        QVERIFY(writeBytes(m_path, "[S]\r\nK=old\r\n"));
        setMode(m_path, 0666);
        const QString message =
            asOtherUser([&] { TSafeIniFile(m_path).WriteString("S", "K", "new"); });
        if (::unlink(name.constData()) != 0)
            ::rmdir(name.constData());
        QVERIFY2(message.startsWith("TSafeIniFile.WriteString -> Не удалось захватить блокировку "
                                    "файла настроек: файл блокировки " +
                                    lock + " недоступен ("),
                 qPrintable(message));
        QCOMPARE(readBytes(m_path), QByteArray("[S]\r\nK=old\r\n"));
    }

    // A file closed to the writer is never replaced; a writable one in a closed folder is
    // written in place and keeps its owner. Only a replacement makes the writer the owner.
    void filesOfOthers_data() {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("folderMode");
        QTest::newRow("read-only file, open folder") << 0444 << 0777;
        QTest::newRow("read-only file, closed folder") << 0444 << 0555;
        QTest::newRow("writable file, closed folder") << 0666 << 0555;
        QTest::newRow("writable file, open folder") << 0666 << 0777;
    }
    void filesOfOthers() {
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        const QString folder = m_dir->filePath("etc");
        const QString path = folder + "/cnf.INI";
        const QByteArray before = "[S]\r\nK=old\r\n; keep\r\n";
        QVERIFY(QDir().mkdir(folder) && writeBytes(path, before));
        setMode(path, mode_t(fileMode));
        setMode(folder, mode_t(folderMode));
        struct stat was {
        }, is{};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &was) == 0);
        const QString message =
            asOtherUser([&] { TSafeIniFile(path).WriteString("S", "K", "new"); });
        setMode(folder, 0755);
        QVERIFY(::stat(QFile::encodeName(path).constData(), &is) == 0);
        QCOMPARE(is.st_mode, was.st_mode);
        if (fileMode == 0444) {
            QCOMPARE(message, "TSafeIniFile.WriteString -> Отказано в доступе -> Не удалось "
                              "записать файл " +
                                  path);
            QCOMPARE(readBytes(path), before);
        } else {
            QVERIFY2(message.isEmpty(), qPrintable(message));
            QCOMPARE(readBytes(path), QByteArray("[S]\r\nK=new\r\n; keep\r\n"));
        }
        if (folderMode == 0555 || fileMode == 0444)
            QCOMPARE(is.st_uid, was.st_uid);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Temporary files of killed writers go with the next write; young ones and other names stay.
    void staleTemporaries() {
        const QStringList names{".cnf.INI.0k3z9.tmp", ".cnf.INI.0k3z9.tmp.keep",
                                ".other.INI.abc.tmp", ".cnf.INI.fresh1.tmp"};
        const timeval old[2] = {{::time(nullptr) - 7200, 0}, {::time(nullptr) - 7200, 0}};
        for (const QString& name : names) {
            QVERIFY(writeBytes(m_dir->filePath(name), "x"));
            if (name != names.last())
                QVERIFY(::utimes(QFile::encodeName(m_dir->filePath(name)).constData(), old) == 0);
        }
        TSafeIniFile(m_path).WriteString("S", "K", "v");
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{".cnf.INI.0k3z9.tmp.keep", ".cnf.INI.fresh1.tmp",
                              ".other.INI.abc.tmp", "cnf.INI"}));
    }

    // Two upper-case hexadecimal digits per byte, in the long-value form beyond one key; read
    // back at the device's position, up to the first pair that is not one.
    void binaryStreams_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("storedAs");
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        QTest::newRow("every byte") << all << QByteArray("Blob=000102030405060708090A0B");
        QTest::newRow("longer than one key")
            << all.repeated(200) << QByteArray("Blob__$Count=2\r\n");
        QTest::newRow("empty") << QByteArray() << QByteArray("Blob=\r\n");
        QTest::newRow("not hexadecimal") << QByteArray("\x0a\xff") << QByteArray("Blob=0aFFzz11");
    }
    void binaryStreams() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, storedAs);
        TSafeIniFile ini(m_path);
        QBuffer source;
        source.setData("skipped" + bytes);
        QVERIFY(source.open(QIODevice::ReadOnly) && source.seek(7));
        if (storedAs.contains("zz"))
            ini.WriteString("S", "Blob", "0aFFzz11");
        else
            ini.WriteBinaryStream("S", "Blob", source);
        QVERIFY(readBytes(m_path).contains(storedAs));
        QBuffer target;
        target.setData("kept");
        QVERIFY(target.open(QIODevice::ReadWrite) && target.seek(4));
        QCOMPARE(ini.ReadBinaryStream("S", "Blob", target), int(bytes.size()));
        QCOMPARE(target.pos(), qint64(4));
        QCOMPARE(target.data(), "kept" + bytes);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestHostileSettings)
#include "tst_hostilesettings.moc"
