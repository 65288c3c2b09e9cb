#include "platform/core/CodePage1251.h"
#include "platform/settings/NamedLock.h"
#include "platform/settings/ProfileIniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray cp(const QString& text) {
    return CodePage1251::encode(text);
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestProfileIniFile : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void readString_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("names without regard to case")
            << QByteArray("[Report]\r\nFont=Arial\r\n") << "REPORT"
            << "font"
            << "Arial";
        QTest::newRow("Cyrillic names without regard to case")
            << cp(QStringLiteral("[Отчёт]\r\nШрифт=Курьер\r\n")) << QStringLiteral("ОТЧЁТ")
            << QStringLiteral("шрифт") << QStringLiteral("Курьер");
        QTest::newRow("outer blanks stripped") << QByteArray("[S]\r\n  K \t=  a b \t\r\n") << "S"
                                               << "K"
                                               << "a b";
        QTest::newRow("one pair of quotes stripped")
            << QByteArray("[S]\r\nK=\"\" x \"\"\r\n") << "S"
            << "K"
            << "\" x \"";
        QTest::newRow("lone quote kept") << QByteArray("[S]\r\nK=\"\r\n") << "S"
                                         << "K"
                                         << "\"";
        QTest::newRow("missing key gives default") << QByteArray("[S]\r\nA=1\r\n") << "S"
                                                   << "B"
                                                   << "<default>";
        QTest::newRow("missing section gives default") << QByteArray("[S]\r\nA=1\r\n") << "T"
                                                       << "A"
                                                       << "<default>";
        QTest::newRow("key of another section not seen")
            << QByteArray("[S]\r\n[T]\r\nA=1\r\n") << "S"
            << "A"
            << "<default>";
        QTest::newRow("first duplicate wins")
            << QByteArray("[S]\r\nA=1\r\na=2\r\n[s]\r\nA=3\r\n") << "S"
            << "A"
            << "1";
        QTest::newRow("comment is no key") << QByteArray("[S]\r\n;A=1\r\n") << "S"
                                           << ";A"
                                           << "<default>";
        QTest::newRow("LF line ends") << QByteArray("[S]\nA=1\nB=2") << "S"
                                      << "B"
                                      << "2";
        QTest::newRow("equals sign in value") << QByteArray("[S]\r\nA=x=y\r\n") << "S"
                                              << "A"
                                              << "x=y";
        static const char binary[] = "\x00\xff[\x01\x02\r\x98=\n\x00=\x00\n";
        QTest::newRow("binary bytes") << QByteArray(binary, sizeof binary - 1) << "S"
                                      << "A"
                                      << "<default>";
    }
    void readString() {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeBytes(path(), content);
        QCOMPARE(ProfileIniFile(path()).readString(section, key, QStringLiteral("<default>")),
                 expected);
    }

    void readLimit() {
        writeBytes(path(), "[S]\r\nK=" + QByteArray(70000, 'v') + "\r\n");
        QCOMPARE(ProfileIniFile(path()).readString("S", "K", {}).size(),
                 ProfileIniFile::kMaxValueLength);
    }

    void missingFileReadsEmptyAndIsCreatedOnWrite() {
        ProfileIniFile ini(path());
        QCOMPARE(ini.readString("S", "K", "d"), QStringLiteral("d"));
        ini.deleteKey("S", "K");
        ini.eraseSection("S");
        QVERIFY2(!QFile::exists(path()), "a deletion must not create the file");
        ini.writeString(QStringLiteral("Секция"), "K", QStringLiteral("Значение"));
        QCOMPARE(readBytes(path()), cp(QStringLiteral("[Секция]\r\nK=Значение\r\n")));
    }

    // Everything a change does not touch stays byte for byte, comments and odd bytes included.
    void changesKeepTheRest_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("operation");
        QTest::addColumn<QByteArray>("after");

        const QByteArray base(
            "; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\nY = 2\r\nz=3\r\n\xff\x98\r\n");
        QTest::newRow("replace keeps stored key spelling")
            << base << 0
            << QByteArray(
                   "; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\nY=new\r\nz=3\r\n\xff\x98\r\n");
        QTest::newRow("new key after the section's last key")
            << base << 1
            << QByteArray("; head\r\n[A]\r\nx=1\r\nn=v\r\n\r\n[B]\r\n;note\r\nY = 2\r\nz=3\r\n"
                          "\xff\x98\r\n");
        QTest::newRow("new section at the end")
            << QByteArray("[A]\nx=1") << 2 << QByteArray("[A]\r\nx=1\r\n[C]\r\nk=v\r\n");
        QTest::newRow("delete key") << base << 3
                                    << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\n"
                                                  "z=3\r\n\xff\x98\r\n");
        QTest::newRow("erase section with its comments")
            << base << 4 << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n");
    }
    void changesKeepTheRest() {
        QFETCH(QByteArray, before);
        QFETCH(int, operation);
        QFETCH(QByteArray, after);
        writeBytes(path(), before);
        ProfileIniFile ini(path());
        switch (operation) {
        case 0:
            ini.writeString("b", "y", "new");
            break;
        case 1:
            ini.writeString("a", "n", "v");
            break;
        case 2:
            ini.writeString("C", "k", "v");
            break;
        case 3:
            ini.deleteKey("B", "y");
            break;
        default:
            ini.eraseSection("b");
            break;
        }
        QCOMPARE(readBytes(path()), after);
    }

    // What the file could not give back unchanged is refused, and the file stays as it was.
    void refusedWrites_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("reason");
        QTest::newRow("line break in value") << "S"
                                             << "K"
                                             << "a\nb"
                                             << "перевод строки";
        QTest::newRow("equals sign in key") << "S"
                                            << "K=1"
                                            << "v"
                                            << "«=»";
        QTest::newRow("bracket in section") << "S]"
                                            << "K"
                                            << "v"
                                            << "«]»";
        QTest::newRow("character outside the code page")
            << "S"
            << "K" << QStringLiteral("日本") << "U+65E5";
        QTest::newRow("key that reads as a comment") << "S"
                                                     << ";K"
                                                     << "v"
                                                     << "«;»";
    }
    void refusedWrites() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, reason);
        writeBytes(path(), "[S]\r\nK=old\r\n");
        try {
            ProfileIniFile(path()).writeString(section, key, value);
            QFAIL("the write was not refused");
        } catch (const EIniFileException& e) {
            QVERIFY2(e.message().contains(reason) && e.message().contains(path()),
                     qPrintable(e.message()));
        }
        QCOMPARE(readBytes(path()), QByteArray("[S]\r\nK=old\r\n"));
    }

    void plantedLinkIsNotWrittenThrough() {
        const QString victim = m_dir->filePath("victim");
        writeBytes(victim, "secret\n");
        QVERIFY(QFile::link(victim, path()));
        ProfileIniFile ini(path());
        try {
            ini.writeString("S", "K", "v");
            QFAIL("a write through a link succeeded");
        } catch (const EIniWriteError& e) {
            QCOMPARE(e.osError(), ELOOP);
        }
        QCOMPARE(readBytes(victim), QByteArray("secret\n"));
    }

    void replacementKeepsModeAndLeavesNoTemporaryFile() {
        writeBytes(path(), "[S]\r\n");
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0666) == 0);
        ProfileIniFile(path()).writeString("S", "K", "v");
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0666));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("cnf.INI")});
    }

    void codePageLowerCase_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Latin and Cyrillic")
            << QStringLiteral("/Home/ДАРА/Ёлка.INI") << QStringLiteral("/home/дара/ёлка.ini");
        // Greek is not in the code page: the ANSI lower-casing of the original leaves it alone.
        QTest::newRow("outside the code page") << QStringLiteral("ΣA") << QStringLiteral("Σa");
    }
    void codePageLowerCase() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(CodePage1251::toLower(text), expected);
    }

    void namedLockFile() {
        const QString name = QStringLiteral("torvi test lock %1").arg(::getpid());
        const mode_t oldMask = ::umask(077);
        auto lock = std::make_unique<NamedLock>(name);
        ::umask(oldMask);
        QVERIFY(lock->isValid());
        QCOMPARE(lock->filePath(), QStringLiteral("/tmp/") + name);
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(lock->filePath()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0666));

        // Another open file stands for another process: it cannot take the lock while it is held,
        // also not while only the inner of two nested holds has been released.
        const int other = ::open(QFile::encodeName(lock->filePath()).constData(), O_RDONLY);
        QVERIFY(other >= 0);
        NamedLock second(name);
        lock->lock();
        second.lock();
        second.unlock();
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), -1);
        lock->unlock();
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::flock(other, LOCK_UN);
        ::close(other);
        ::unlink(QFile::encodeName(lock->filePath()).constData());
    }

private:
    QString path() const { return m_dir->filePath(QStringLiteral("cnf.INI")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestProfileIniFile)
#include "tst_profileinifile.moc"
