#include "common/Errors.h"
#include "common/TestFiles.h"

#include "platform/core/CodePage1251.h"
#include "platform/settings/NamedLock.h"
#include "platform/settings/ProfileIniFile.h"

#include <QDir>
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
        // clang-format off
        QTest::newRow("Cyrillic names without regard to case")
            << cp(QStringLiteral("[Отчёт]\r\nШрифт=Курьер\r\n")) << "ОТЧЁТ" << "шрифт" << "Курьер";
        QTest::newRow("outer blanks stripped") << QByteArray("[S]\r\n  K \t=  a b \t\r\n") << "S"
            << "K" << "a b";
        QTest::newRow("one pair of quotes stripped") << QByteArray("[S]\r\nK=\"\" x \"\"\r\n")
            << "S" << "K" << "\" x \"";
        QTest::newRow("lone quote kept") << QByteArray("[S]\r\nK=\"\r\n") << "S" << "K" << "\"";
        QTest::newRow("key of another section not seen") << QByteArray("[S]\r\n[T]\r\nA=1\r\n")
            << "S" << "A" << "<default>";
        QTest::newRow("first duplicate wins") << QByteArray("[S]\r\nA=1\r\na=2\r\n[s]\r\nA=3\r\n")
            << "S" << "A" << "1";
        QTest::newRow("comment is no key") << QByteArray("[S]\r\n;A=1\r\n") << "S" << ";A"
            << "<default>";
        QTest::newRow("LF line ends, equals sign in value") << QByteArray("[S]\nA=1\nB=x=y") << "S"
            << "B" << "x=y";
        // clang-format on
        static const char binary[] = "\x00\xff[\x01\x02\r\x98=\n\x00=\x00\n";
        // clang-format off
        QTest::newRow("binary bytes") << QByteArray(binary, sizeof binary - 1) << "S" << "A"
            << "<default>";
        // clang-format on
    }
    void readString() {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QVERIFY(writeBytes(path(), content));
        QTEST(ProfileIniFile(path()).readString(section, key, QStringLiteral("<default>")),
              "expected");
    }

    void readLimitAndMissingFile() {
        QVERIFY(writeBytes(path(), "[S]\r\nK=" + QByteArray(70000, 'v') + "\r\n"));
        QCOMPARE(ProfileIniFile(path()).readString("S", "K", {}).size(),
                 ProfileIniFile::kMaxValueLength);
        QFile::remove(path());
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
        // clang-format off
        QTest::newRow("replace keeps stored key spelling") << base << 0
            << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\nY=new\r\nz=3\r\n"
                          "\xff\x98\r\n");
        QTest::newRow("new key after the section's last key") << base << 1
            << QByteArray("; head\r\n[A]\r\nx=1\r\nn=v\r\n\r\n[B]\r\n;note\r\nY = 2\r\nz=3\r\n"
                          "\xff\x98\r\n");
        QTest::newRow("new section at the end") << QByteArray("[A]\nx=1") << 2
            << QByteArray("[A]\r\nx=1\r\n[C]\r\nk=v\r\n");
        QTest::newRow("delete key") << base << 3
            << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\n" "z=3\r\n\xff\x98\r\n");
        QTest::newRow("erase section with its comments") << base << 4
            << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n");
        // clang-format on
    }
    void changesKeepTheRest() {
        QFETCH(QByteArray, before);
        QFETCH(int, operation);
        QVERIFY(writeBytes(path(), before));
        ProfileIniFile ini(path());
        if (operation == 0)
            ini.writeString("b", "y", "new");
        else if (operation < 3)
            ini.writeString(operation == 1 ? "a" : "C", operation == 1 ? "n" : "k", "v");
        else if (operation == 3)
            ini.deleteKey("B", "y");
        else
            ini.eraseSection("b");
        QTEST(readBytes(path()), "after");
    }

    // What the file could not give back unchanged is refused, and the file stays as it was.
    void refusedWrites_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("reason");
        // clang-format off
        QTest::newRow("line break in value") << "S" << "K" << "a\nb" << "перевод строки";
        QTest::newRow("equals sign in key") << "S" << "K=1" << "v" << "«=»";
        QTest::newRow("bracket in section") << "S]" << "K" << "v" << "«]»";
        QTest::newRow("outside the code page") << "S" << "K" << "日本" << "U+65E5";
        QTest::newRow("key that reads as a comment") << "S" << ";K" << "v" << "«;»";
        // clang-format on
    }
    void refusedWrites() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, reason);
        QVERIFY(writeBytes(path(), "[S]\r\nK=old\r\n"));
        const QString message = errorOf<EIniFileException>(
            [&] { ProfileIniFile(path()).writeString(section, key, value); });
        QVERIFY2(message.contains(reason) && message.contains(path()), qPrintable(message));
        QCOMPARE(readBytes(path()), QByteArray("[S]\r\nK=old\r\n"));
    }

    // The file is replaced whole, with its mode, never written through a planted link.
    void replacement() {
        QVERIFY(writeBytes(path(), "[S]\r\n"));
        QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0666) == 0);
        ProfileIniFile(path()).writeString("S", "K", "v");
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0666));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"cnf.INI"});

        const QString victim = m_dir->filePath("victim");
        QVERIFY(writeBytes(victim, "secret\n"));
        QFile::remove(path());
        QVERIFY(QFile::link(victim, path()));
        try {
            ProfileIniFile(path()).writeString("S", "K", "v");
            QFAIL("a write through a link succeeded");
        } catch (const EIniWriteError& e) {
            QCOMPARE(e.osError(), ELOOP);
        }
        QCOMPARE(readBytes(victim), QByteArray("secret\n"));
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
