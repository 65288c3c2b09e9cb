// The settings files: the profile file that keeps every byte it does not change, its named lock,
// and the viewers' INI class over it, also as a careless or hostile user leaves the file (huge,
// oddly shaped, duplicated, read-only or another user's, with the lock file taken away) and as
// several processes share it, as the viewers of several users share cnf.INI.
#include "common/ChildProcess.h"
#include "common/Errors.h"
#include "common/TestFiles.h"

#include "platform/core/CodePage1251.h"
#include "platform/settings/NamedLock.h"
#include "platform/settings/ProfileIniFile.h"
#include "support/SafeIniFile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

QByteArray cp(const QString& text) {
    return CodePage1251::encode(text);
}

QString longText(qsizetype size, quint32 seed) {
    static const QString alphabet = QStringLiteral("abcdefghijАБВГДежзий0123456789 .,;");
    QString text;
    for (qsizetype i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += alphabet.at((seed >> 16) % alphabet.size());
    }
    return text;
}

QByteArray lines(const QByteArray& head, const QByteArray& unit, int count) {
    QByteArray out = head;
    for (int i = 0; i < count; ++i)
        out += QByteArray(unit).replace('#', QByteArray::number(i));
    return out;
}

void setMode(const QString& path, mode_t mode) {
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}

const char* const kWriterArgument = "--shared-ini-writer";
constexpr int kWriters = 4;
const QStringList kSharedKeys{"Report", "Title", "Footer"};

// A value that can tell whether it came back whole: "<writer>:<seq>:<length>:<hash>|" and a body
// of that length and hash, with line breaks; lengths from one key to four parts.
QString makeValue(int writer, int seq, QRandomGenerator& random) {
    static const QString alphabet = QStringLiteral("abcxyzАБВЭЮЯ019 ;=\"[]");
    const int length = random.bounded(2) ? random.bounded(1, 200) : random.bounded(60000, 200000);
    QString body;
    body.reserve(length);
    while (body.size() < length) {
        if (random.bounded(500) == 0 && body.size() + 2 <= length)
            body += QLatin1String("\r\n");
        else
            body += alphabet.at(random.bounded(int(alphabet.size())));
    }
    return QStringLiteral("%1:%2:%3:%4|").arg(writer).arg(seq).arg(length).arg(IniValueHash(body)) +
           body;
}

// Empty when the value is whole (or was never written), else what is wrong with it.
QString checkValue(const QString& value) {
    if (value.isEmpty())
        return {};
    const qsizetype bar = value.indexOf(QLatin1Char('|'));
    const QStringList head = value.left(bar).split(QLatin1Char(':'));
    if (bar < 0 || head.size() != 4)
        return QStringLiteral("no header in a value of %1 characters").arg(value.size());
    const QString body = value.mid(bar + 1);
    if (body.size() != head.at(2).toInt() || IniValueHash(body) != head.at(3).toInt())
        return QStringLiteral("torn value of writer %1, write %2: %3 characters of %4")
            .arg(head.at(0), head.at(1))
            .arg(body.size())
            .arg(head.at(2));
    return {};
}

// Writes the shared keys in turn, and its own counter, until the time is up and every shared key
// has been written at least once, however slow the machine; reads back the shared keys before
// and between. Prints "ready" after its first write and at the end the number of its last one;
// exits non-zero on the first bad value it reads.
int runWriter(const QString& file, int writer, int durationMs) {
    QRandomGenerator random(quint32(writer * 7919 + 1));
    TSafeIniFile ini(file);
    const QDeadlineTimer deadline(durationMs);
    int seq = 0;
    try {
        for (;;) {
            for (const QString& k : kSharedKeys) {
                const QString problem = checkValue(ini.ReadString(QStringLiteral("Shared"), k, {}));
                if (!problem.isEmpty()) {
                    std::fprintf(stderr, "%s: %s\n", qPrintable(k), qPrintable(problem));
                    return 2;
                }
            }
            if (seq >= kSharedKeys.size() && deadline.hasExpired())
                break;
            const QString key = kSharedKeys.at(seq++ % kSharedKeys.size());
            ini.WriteString(QStringLiteral("Shared"), key, makeValue(writer, seq, random));
            ini.WriteInteger(QStringLiteral("Writers"), QStringLiteral("Last%1").arg(writer), seq);
            if (seq == 1) {
                std::printf("ready\n");
                std::fflush(stdout);
            }
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
    std::printf("%d\n", seq);
    return 0;
}

using Op = std::function<void(TSafeIniFile&)>;
using Read = std::function<QVariant(TSafeIniFile&)>;

// One call on the file under test, for the tables.
#define WRITE(call) Op([=](TSafeIniFile& i) { i.call; })
#define READ(call) Read([=](TSafeIniFile& i) { return QVariant(i.call); })

} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Read)

class TestSettingsFiles : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        setMode(m_dir->path(), 0755);
        // The writers' own folder for the safety copies of rewrites in place.
        const QString state = m_dir->filePath("state");
        QVERIFY(QDir().mkdir(state));
        QVERIFY(::geteuid() != 0 ||
                ::chown(QFile::encodeName(state).constData(), 65534, 65534) == 0);
        qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    }

    void readString_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        static const char binary[] = "\x00\xff[\x01\x02\r\x98=\n\x00=\x00\n";
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
        QTest::newRow("binary bytes") << QByteArray(binary, sizeof binary - 1) << "S" << "A"
            << "<default>";
        // clang-format on
    }
    void readString() {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QVERIFY(writeBytes(path(), content));
        // A default comes back without its trailing blanks, as from the profile functions.
        QTEST(ProfileIniFile(path()).readString(section, key, QStringLiteral("<default>  ")),
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
        ini.eraseSection(QStringLiteral("СЕКЦИЯ"));
        QCOMPARE(readBytes(path()), QByteArray());
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

    // Cuts at 65532 characters, never inside a line-break marker, and back.
    void longValues_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("partSizes"); // stored sizes of K, K__$Line2, ...
        // clang-format off
        QTest::newRow("65532 fits one key") << QString(65532, 'x') << QStringList{"65532"};
        QTest::newRow("65533 needs a second part") << QString(65533, 'x')
            << QStringList{"65532", "1"};
        QTest::newRow("marker not split") << QString(65530, 'x') + "\ny"
            << QStringList{"65530", "7"};
        QTest::newRow("marker ending exactly at the cut") << QString(65526, 'x') + "\ny"
            << QStringList{"65532", "1"};
        QTest::newRow("quoted parts") << QString(65531, 'x') + " " + QString(10, 'y') + " "
            << QStringList{"65534", "13"};
        QTest::newRow("200000 with line breaks")
            << (longText(70000, 1) + "\r\n" + longText(130000, 2))
            << QStringList{"65532", "65532", "65532", "3410"};
        // clang-format on
    }
    void longValues() {
        QFETCH(QString, value);
        QFETCH(QStringList, partSizes);
        TSafeIniFile ini(path());
        ini.WriteString("S", "K", value);
        const IniDocument doc = IniDocument::fromBytes(readBytes(path()));
        QStringList sizes, keys{"K"};
        for (int i = 2; i <= partSizes.size(); ++i)
            keys << QStringLiteral("K__$Line%1").arg(i);
        for (const auto& [key, text] : doc.storedEntries("S"))
            if (keys.contains(key))
                sizes << QString::number(text.size());
        QCOMPARE(sizes, partSizes);
        QCOMPARE(doc.value("S", "K__$Count").has_value(), partSizes.size() > 1);
        value.replace("\r\n", "\n").replace("\n", "\r\n");
        QCOMPARE(ini.ReadString("S", "K", {}), value);

        // A shorter value, and a deletion, take the companions away with the old parts.
        ini.WriteString("S", "Other", "kept");
        ini.WriteString("S", "K", "short");
        ini.ReadSection("S", keys);
        QCOMPARE(keys, (QStringList{"K", "Other"}));
        ini.WriteString("S", "K", value);
        ini.DeleteKey("S", "K");
        ini.ReadSection("S", keys);
        QCOMPARE(keys, QStringList{"Other"});
    }

    // A first part that no longer matches its hash reads alone: an edit by hand, or a torn write.
    // Later parts cut or lost read as part 1 alone too; a value of a writer that leaves no hash of
    // all parts is checked by part 1's hash only. An empty edit removes the key.
    void mismatchedPartsGiveFirstPart_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expected"); // "<first>" is part 1, "<whole>" the value
        // clang-format off
        QTest::newRow("first part edited") << "K" << "edited" << "edited";
        QTest::newRow("hash edited") << "K__$Hash" << "1" << "<first>";
        QTest::newRow("last part cut") << "K__$Line3" << "thi" << "<first>";
        QTest::newRow("middle part lost") << "K__$Line2" << "" << "<first>";
        QTest::newRow("hash of all edited") << "K__$HashAll" << "x" << "<first>";
        QTest::newRow("writer without hash of all") << "K__$HashAll" << "" << "<whole>";
        // clang-format on
    }
    void mismatchedPartsGiveFirstPart() {
        QFETCH(QString, key);
        QFETCH(QString, edit);
        QFETCH(QString, expected);
        TSafeIniFile ini(path());
        const QString value =
            "first" + QString(65527, '.') + "second" + QString(65526, '.') + "third";
        ini.WriteString("S", "K", value);
        QCOMPARE(ini.ReadString("S", "K", {}), value);
        IniDocument doc = IniDocument::fromBytes(readBytes(path()));
        if (edit.isEmpty())
            QVERIFY(doc.removeKey("S", key));
        else
            doc.setValue("S", key, edit, path());
        QVERIFY(writeBytes(path(), doc.toBytes()));
        QCOMPARE(ini.ReadString("S", "K", {}), expected == "<first>"   ? value.left(65532)
                                               : expected == "<whole>" ? value
                                                                       : expected);
    }

    // Written in the fixed formats whatever the workstation's locale (also run under ru_RU), each
    // as one key without companions, and read back.
    void values_data() {
        QTest::addColumn<Op>("write");
        QTest::addColumn<QString>("storedForm");
        QTest::addColumn<Read>("read");
        QTest::addColumn<QVariant>("expected"); // dates and times to the millisecond
        const TDateTime dt = encodeDateTime(2009, 8, 24, 13, 5, 7, 45);
        const TDateTime day = encodeDateTime(2009, 8, 24);
        const auto text = [](const QString& v) { return WRITE(WriteString("S", "K", v)); };
        const Read string = READ(ReadString("S", "K", "<default>"));
        // clang-format off
        QTest::newRow("CR LF") << text("A\r\nB") << "A<@\\n@>B" << string << QVariant("A\r\nB");
        QTest::newRow("lone LF comes back as CR LF") << text("A\nB") << "A<@\\n@>B" << string
            << QVariant("A\r\nB");
        QTest::newRow("lone CR is dropped") << text("A\rB") << "AB" << string << QVariant("AB");
        QTest::newRow("leading blank quoted") << text(" a") << "\" a\"" << string << QVariant(" a");
        QTest::newRow("trailing blank quoted") << text("a\t") << "\"a\t\"" << string
            << QVariant("a\t");
        QTest::newRow("quotes kept") << text("\"q\"") << "\"\"q\"\"" << string
            << QVariant("\"q\"");
        QTest::newRow("Cyrillic") << text("Отчёт №5") << "Отчёт №5" << string
            << QVariant("Отчёт №5");
        QTest::newRow("date") << WRITE(WriteDate("S", "K", dt)) << "24.08.2009"
            << READ(ReadDate("S", "K", -1)) << QVariant(day);
        QTest::newRow("time") << WRITE(WriteTime("S", "K", dt)) << "13:05:07.045"
            << READ(ReadTime("S", "K", -1)) << QVariant(dt - day);
        QTest::newRow("date-time") << WRITE(WriteDateTime("S", "K", dt))
            << "24.08.2009 13:05:07.045" << READ(ReadDateTime("S", "K", -1)) << QVariant(dt);
        QTest::newRow("midnight writes the date only") << WRITE(WriteDateTime("S", "K", day))
            << "24.08.2009" << READ(ReadDateTime("S", "K", -1)) << QVariant(day);
        QTest::newRow("impossible date gives the default") << text("31.02.2009") << "31.02.2009"
            << READ(ReadDate("S", "K", -1)) << QVariant(-1.0);
        QTest::newRow("float") << WRITE(WriteFloat("S", "K", 12.5)) << "12.5"
            << READ(ReadFloat("S", "K", -1)) << QVariant(12.5);
        QTest::newRow("comma is no decimal point") << text("12,5") << "12,5"
            << READ(ReadFloat("S", "K", -1)) << QVariant(-1.0);
        QTest::newRow("integer") << WRITE(WriteInteger("S", "K", -42)) << "-42"
            << READ(ReadInteger("S", "K", -1)) << QVariant(-42);
        QTest::newRow("hexadecimal, names in any case") << text("0x1F") << "0x1F"
            << READ(ReadInteger("s", "k", -1)) << QVariant(31);
        QTest::newRow("not an integer") << text("12a") << "12a" << READ(ReadInteger("S", "K", -1))
            << QVariant(-1);
        QTest::newRow("boolean") << WRITE(WriteBool("S", "K", true)) << "1"
            << READ(ReadBool("S", "K", false)) << QVariant(true);
        QTest::newRow("value exists, names in any case") << text("") << ""
            << READ(ValueExists("s", "k") && !i.ValueExists("S", "Missing")) << QVariant(true);
        // clang-format on
    }
    void values() {
        QFETCH(Op, write);
        QFETCH(QString, storedForm);
        QFETCH(Read, read);
        QFETCH(QVariant, expected);
        TSafeIniFile ini(path());
        write(ini);
        const QByteArray bytes = readBytes(path());
        QVERIFY2(bytes.count("K") == 1 && bytes.contains("K=" + cp(storedForm) + "\r\n"),
                 bytes.constData());
        const QVariant got = read(ini);
        if (got.typeId() == QMetaType::Double)
            QCOMPARE(qRound64(got.toDouble() * kMsecPerDay),
                     qRound64(expected.toDouble() * kMsecPerDay));
        else
            QCOMPARE(got, expected);
    }

    void errorMessages_data() {
        QTest::addColumn<Op>("operation");
        QTest::addColumn<QString>("expected"); // %1 is the file name
        const QString noSection = QStringLiteral("Не указано название секции. Имя файла: %1");
        const QString noKey = QStringLiteral("Не указано название переменной. Имя файла: %1");
        // clang-format off
        QTest::newRow("ReadString without key") << WRITE(ReadString("S", "", ""))
            << "TSafeIniFile.ReadString -> " + noKey;
        QTest::newRow("DeleteKey without key") << WRITE(DeleteKey("S", ""))
            << "TSafeIniFile.DeleteKey -> " + noKey;
        QTest::newRow("EraseSection") << WRITE(EraseSection(""))
            << "TSafeIniFile.EraseSection -> " + noSection;
        QTest::newRow("ValueExists reports ReadSection") << WRITE(ValueExists("", "K"))
            << "TSafeIniFile.ReadSection -> " + noSection;
        QTest::newRow("WriteFloat nests WriteString") << WRITE(WriteFloat("S", "", 0))
            << "TSafeIniFile.WriteFloat -> TSafeIniFile.WriteString -> " + noKey;
        QTest::newRow("ReadDate leaves ReadString's context alone") << WRITE(ReadDate("", "K", 0))
            << "TSafeIniFile.ReadString -> " + noSection;
        QTest::newRow("value the file cannot hold") << WRITE(WriteString("S", "K", "日"))
            << "TSafeIniFile.WriteString -> Нельзя записать в файл %1: значение переменной «K» "
               "содержит символ U+65E5, которого нет в кодовой странице 1251";
        // clang-format on
    }
    void errorMessages() {
        QFETCH(Op, operation);
        QFETCH(QString, expected);
        TSafeIniFile ini(path());
        QCOMPARE(errorOf<EIniFileException>([&] { operation(ini); }), expected.arg(path()));
    }

    // Lasting failures are reported at once; others only after a second of retries.
    void unwritableFile_data() {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<int>("osError");
        QTest::addColumn<bool>("retried");
        QTest::newRow("folder is a file") << "file/cnf.INI" << int(ENOTDIR) << false;
        QTest::newRow("missing folder") << "missing/cnf.INI" << int(ENOENT) << false;
        QTest::newRow("file is a folder") << "folder" << int(EISDIR) << true;
        QTest::newRow("read-only folder") << "readonly/cnf.INI" << int(EACCES) << true;
    }
    void unwritableFile() {
        QFETCH(QString, relativePath);
        QFETCH(int, osError);
        QFETCH(bool, retried);
        if (osError == EACCES && ::geteuid() == 0)
            QSKIP("permission bits do not stop root");
        QVERIFY(writeBytes(m_dir->filePath("file"), "x"));
        QVERIFY(QDir(m_dir->path()).mkdir("folder") && QDir(m_dir->path()).mkdir("readonly"));
        const QByteArray readonly = QFile::encodeName(m_dir->filePath("readonly"));
        QVERIFY(::chmod(readonly.constData(), 0555) == 0);
        const QString file = m_dir->filePath(relativePath);
        TSafeIniFile ini(file);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(errorOf<EIniFileException>([&] { ini.WriteString("S", "K", "v"); }),
                 QStringLiteral("TSafeIniFile.WriteString -> %1 -> Не удалось записать файл %2")
                     .arg(SysErrorMessage(osError), file));
        QVERIFY2(retried == (timer.elapsed() >= 950), "a lasting failure retried or another not");
        ::chmod(readonly.constData(), 0755);
    }

    // The lock names the suite's other programs derive from a file's name, and the hash of a
    // value they check its parts by.
    void namesAndHashes_data() {
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("expected");
        const auto lock = [](const QString& file) { return TSafeIniFile::lockNameFor(file); };
        const auto hash = [](const QString& text) { return QString::number(IniValueHash(text)); };
        // clang-format off
        QTest::newRow("Linux path") << lock("/home/u/DARA/etc/cnf.INI")
            << "ini file lock mutex_home_u_dara_etc_cnf.ini";
        QTest::newRow("doubled backslashes collapse") << lock("C:\\\\WINDOWS\\cnf.INI")
            << "ini file lock mutexc__windows_cnf.ini";
        QTest::newRow("Cyrillic lower-cased") << lock("/home/Оператор/НАСТРОЙКИ.INI")
            << "ini file lock mutex_home_оператор_настройки.ini";
        QTest::newRow("forbidden characters") << lock("a\"*:<>?|b")
            << "ini file lock mutexa_______b";
        // Ё lies apart from А-Я; Greek is not in the code page and stays as it is.
        QTest::newRow("Yo and Greek") << lock("/ΣA/Ёлка") << "ini file lock mutex_Σa_ёлка";
        QTest::newRow("hash of abc") << hash("abc") << "397824173";
        QTest::newRow("hash of nothing") << hash("") << "0";
        // One byte 0xFF in code page 1251, two in UTF-8.
        QTest::newRow("hash of Cyrillic ya") << hash("я") << "-2088705";
        // clang-format on
    }
    void namesAndHashes() {
        QFETCH(QString, got);
        QTEST(got, "expected");
    }

    void withoutLockTheObjectWorks() {
        // Each folder name is short, the whole path is longer than a file name may be, so no
        // lock file can carry the lock name.
        QString folder = m_dir->path();
        for (int i = 0; i < 12; ++i)
            folder += QStringLiteral("/folder%1-%2").arg(i).arg(QString(20, 'f'));
        QVERIFY(QDir().mkpath(folder));
        TSafeIniFile ini(folder + "/cnf.INI");
        QVERIFY(!ini.lockHandle().isValid());
        ini.WriteString("S", "K", QString(70000, 'x'));
        QCOMPARE(ini.ReadString("S", "K", {}).size(), 70000);
    }

    // A second object on the same file, here a bare lock of the same name, shares the lock: a
    // writer on another thread waits for it, the holding thread itself does not.
    void objectsOfOneFileShareTheLock() {
        TSafeIniFile ini(path());
        QVERIFY(ini.lockHandle().isValid());
        NamedLock same(TSafeIniFile::lockNameFor(path()));
        same.lock();
        ini.WriteString("S", "Reentrant", "yes");
        std::atomic<bool> done = false;
        std::unique_ptr<QThread> writer(QThread::create([&] {
            TSafeIniFile(path()).WriteString("S", "K", "from thread");
            done = true;
        }));
        writer->start();
        QTest::qWait(300);
        QVERIFY2(!done, "the other thread wrote while the lock was held");
        same.unlock();
        QVERIFY(writer->wait(5000));
        QCOMPARE(ini.ReadString("S", "K", {}), QStringLiteral("from thread"));
    }

    // Big and odd files read the key asked for; a change keeps every other line as it was (line
    // ends become CR LF, comments and odd bytes stay), a key keeps its stored spelling, and every
    // copy of a duplicated name goes, so none comes back.
    void content_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Op>("change");
        QTest::addColumn<QString>("value"); // of S/K after the change
        QTest::addColumn<QByteArray>("expected");
        const QByteArray blank = lines("[S]\r\nK=1\r\n", "\r\n", 1 << 20);
        const QByteArray shortLines = lines("[S]\r\nK=1\r\n", "x\n", 1 << 20);
        const QByteArray keys = lines("[S]\r\n", "k#=v\r\n", 200000) + "K=1\r\n";
        const QByteArray sections = lines("[S]\r\nK=1\r\n", "[s#]\r\n", 200000);
        const Op writeZ = WRITE(WriteString("Z", "V", "1"));
        const Op deleteK = WRITE(DeleteKey("S", "K"));
        for (const auto& [name, bytes] :
             {std::pair{"2 MB of blank lines", blank}, std::pair{"2 MB of short lines", shortLines},
              std::pair{"200 000 keys", keys}, std::pair{"200 000 sections", sections}})
            QTest::newRow(name) << bytes << writeZ << "1"
                                << QByteArray(bytes).replace("x\n", "x\r\n") + "[Z]\r\nV=1\r\n";
        const QByteArray base(
            "; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\nY = 2\r\nz=3\r\n\xff\x98\r\n");
        // clang-format off
        QTest::newRow("replace keeps stored key spelling") << base
            << WRITE(WriteString("b", "y", "new")) << "<none>"
            << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\nY=new\r\nz=3\r\n"
                          "\xff\x98\r\n");
        QTest::newRow("new key after the section's last key") << base
            << WRITE(WriteString("a", "n", "v")) << "<none>"
            << QByteArray("; head\r\n[A]\r\nx=1\r\nn=v\r\n\r\n[B]\r\n;note\r\nY = 2\r\nz=3\r\n"
                          "\xff\x98\r\n");
        QTest::newRow("new section at the end") << QByteArray("[A]\nx=1")
            << WRITE(WriteString("C", "k", "v")) << "<none>"
            << QByteArray("[A]\r\nx=1\r\n[C]\r\nk=v\r\n");
        QTest::newRow("delete key") << base << WRITE(DeleteKey("B", "y")) << "<none>"
            << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n[B]\r\n;note\r\n" "z=3\r\n\xff\x98\r\n");
        QTest::newRow("erase section with its comments") << base << WRITE(EraseSection("b"))
            << "<none>" << QByteArray("; head\r\n[A]\r\nx=1\r\n\r\n");
        QTest::newRow("CR-only line ends") << QByteArray("[S]\rJ=0\rK=1\r") << writeZ << "1"
            << QByteArray("[S]\r\nJ=0\r\nK=1\r\n[Z]\r\nV=1\r\n");
        QTest::newRow("empty quotes") << QByteArray("[S]\r\nK=\"\"\r\n") << Op() << ""
            << QByteArray("[S]\r\nK=\"\"\r\n");
        QTest::newRow("key twice") << QByteArray("[S]\r\nK=1\r\n;c\r\nk=2\r\nL=3\r\n") << deleteK
            << "<none>" << QByteArray("[S]\r\n;c\r\nL=3\r\n");
        QTest::newRow("key in a section twice")
            << QByteArray("[S]\r\nK=1\r\n[T]\r\nK=9\r\n[s]\r\nK=2\r\n") << deleteK
            << "<none>" << QByteArray("[S]\r\n[T]\r\nK=9\r\n[s]\r\n");
        QTest::newRow("long value twice")
            << QByteArray("[S]\r\nK=a\r\nK__$Count=2\r\nK__$Line2=b\r\nK__$Count=2\r\n"
                          "K__$Line2=c\r\n")
            << deleteK << "<none>" << QByteArray("[S]\r\n");
        QTest::newRow("section twice")
            << QByteArray("[S]\r\nK=1\r\n\r\n[T]\r\nA=1\r\n[s]\r\nK=2\r\n")
            << WRITE(EraseSection("S")) << "<none>" << QByteArray("[T]\r\nA=1\r\n");
        // clang-format on
    }
    void content() {
        QFETCH(QByteArray, content);
        QFETCH(Op, change);
        QFETCH(QByteArray, expected);
        QVERIFY(writeBytes(path(), content));
        TSafeIniFile ini(path());
        if (change)
            change(ini);
        QTEST(ini.ReadString("S", "K", "<none> "), "value");
        QVERIFY(readBytes(path()) == expected);
    }

    // Refused before it is read: the file is sparse, reading it would cost time and memory.
    void fileOverTheLimit() {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(40) << 20));
        f.close();
        TSafeIniFile ini(path());
        const QString tooBig = "TSafeIniFile.WriteString -> Файл настроек " + path() +
                               " слишком велик (%1 МБ, допустимо не более 32.0 МБ); проверьте, тот "
                               "ли это файл";
        QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.ReadString("S", "K", {}));
        QCOMPARE(errorOf([&] { ini.WriteString("S", "K", "v"); }), tooBig.arg("40.0"));
        QCOMPARE(QFileInfo(path()).size(), qint64(40) << 20);

        // Nor does a write make a file under the limit cross it.
        const QByteArray full = "[S]\r\nK=" + QByteArray((32 << 20) - 100, 'x') + "\r\n";
        QVERIFY(writeBytes(path(), full));
        QCOMPARE(errorOf([&] { ini.WriteString("S", "L", QString(200, 'y')); }),
                 tooBig.arg("32.0"));
        QVERIFY(readBytes(path()) == full);
    }

    // Whatever stands at the lock file's name, a write either runs under the lock or fails
    // naming the lock file; it never goes on unlocked.
    void lockInTheWay_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("link") << int(S_IFLNK) << "символическая ссылка, а не обычный файл)";
        QTest::newRow("FIFO") << int(S_IFIFO) << "именованный канал FIFO, а не обычный файл)";
        QTest::newRow("folder") << int(S_IFDIR) << "папка, а не обычный файл)";
        QTest::newRow("another user's closed file") << int(S_IFREG) << "(Отказано в доступе)";
    }
    void lockInTheWay() {
        QFETCH(int, kind);
        QFETCH(QString, reason);
        const QString lock = NamedLock::lockFolder() + "/" + TSafeIniFile::lockNameFor(path());
        const QByteArray name = QFile::encodeName(lock);
        const int made = kind == S_IFLNK   ? ::symlink("/nonexistent", name.constData())
                         : kind == S_IFIFO ? ::mkfifo(name.constData(), 0666)
                         : kind == S_IFDIR ? ::mkdir(name.constData(), 0777)
                                           : ::close(::open(name.constData(), O_CREAT, 0));
        QVERIFY(made == 0);
        QVERIFY(writeBytes(path(), "[S]\r\nK=old\r\n"));
        setMode(path(), 0666);
        const QString message =
            inChild([&] { TSafeIniFile(path()).WriteString("S", "K", "new"); }).message;
        if (::unlink(name.constData()) != 0)
            ::rmdir(name.constData());
        QVERIFY2(message.startsWith("TSafeIniFile.WriteString -> Не удалось захватить блокировку "
                                    "файла настроек: файл блокировки " +
                                    lock + " недоступен (") &&
                     message.contains(reason),
                 qPrintable(message));
        QCOMPARE(readBytes(path()), QByteArray("[S]\r\nK=old\r\n"));
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
            inChild([&] { TSafeIniFile(path).WriteString("S", "K", "new"); }).message;
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
        TSafeIniFile(path()).WriteString("S", "K", "v");
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
        TSafeIniFile ini(path());
        QBuffer source;
        source.setData("skipped" + bytes);
        QVERIFY(source.open(QIODevice::ReadOnly) && source.seek(7));
        if (storedAs.contains("zz"))
            ini.WriteString("S", "Blob", "0aFFzz11");
        else
            ini.WriteBinaryStream("S", "Blob", source);
        QVERIFY(readBytes(path()).contains(storedAs));
        QBuffer target;
        target.setData("kept");
        QVERIFY(target.open(QIODevice::ReadWrite) && target.seek(4));
        QCOMPARE(ini.ReadBinaryStream("S", "Blob", target), int(bytes.size()));
        QCOMPARE(target.pos(), qint64(4));
        QCOMPARE(target.data(), "kept" + bytes);
    }

    // A rewrite in place (the folder closed to the writer) that stops halfway leaves the old file:
    // cut off by the writer's death, its old content is put back by the next read; failing, it is
    // put back at once; without a safety copy it does not start. A file that another user (who
    // has no access to the copy) wrote over since is left with his content.
    void inPlaceRewrite_data() {
        QTest::addColumn<QString>("end");
        QTest::newRow("writer killed halfway") << "killed";
        QTest::newRow("killed, then written by another") << "overwritten";
        QTest::newRow("disk full halfway") << "full";
        QTest::newRow("no folder for the safety copy") << "no copy";
    }
    void inPlaceRewrite() {
        QFETCH(QString, end);
        const QString folder = m_dir->filePath("etc"), file = folder + "/cnf.INI";
        const QByteArray before = "[S]\r\nK=old\r\n; keep\r\n";
        QVERIFY(QDir().mkdir(folder) && writeBytes(file, before));
        setMode(file, 0666);
        setMode(folder, 0555);
        if (end == "no copy")
            qputenv("XDG_STATE_HOME", QFile::encodeName(file));
        const rlim_t limit = end == "no copy" ? 0 : before.size() + 100000;
        const ChildEnd write =
            inChild([&] { TSafeIniFile(file).WriteString("S", "K", QString(200000, 'n')); }, limit,
                    end == "full");
        QByteArray after = before;
        if (end == "killed" || end == "overwritten") {
            QCOMPARE(write.signal, SIGXFSZ);
            QCOMPARE(QFileInfo(file).size(), qint64(limit)); // torn indeed
            if (end == "overwritten") {
                after = "[S]\r\nK=" + QByteArray(50000, 'o') + "\r\n";
                qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir->filePath("state/other")));
                inChild([&] { TSafeIniFile(file).WriteString("S", "K", QString(50000, 'o')); });
                qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir->filePath("state")));
            }
            QCOMPARE(inChild([&] { TSafeIniFile(file).ReadString("S", "K", {}); }).message,
                     QString());
        } else if (end == "full") {
            QCOMPARE(write.message, "TSafeIniFile.WriteString -> Файл слишком велик -> Не удалось "
                                    "записать файл " +
                                        file);
        } else {
            QVERIFY2(write.message.contains("поэтому он переписывается на месте; страховую копию "
                                            "его содержимого не удалось сохранить в папке " +
                                            file + "/torvi"),
                     qPrintable(write.message));
        }
        setMode(folder, 0755);
        QVERIFY(readBytes(file) == after);
        QCOMPARE(QDir(m_dir->filePath("state/torvi")).entryList(QDir::Files), QStringList());
    }

    // No torn value, no lost write and a file that reads back whole at the end: of writers that
    // replace the file, and of writers that rewrite it in place (the folder closed to them), after
    // rounds of two such writers killed at whatever point they reached after their first write.
    void writersShareOneFile_data() {
        QTest::addColumn<int>("killedRounds");
        QTest::newRow("replacing the file") << 0;
        QTest::newRow("in place, after kills") << 8;
    }
    void writersShareOneFile() {
        QFETCH(int, killedRounds);
        const QString folder = m_dir->filePath("etc"), file = folder + "/cnf.INI";
        QVERIFY(QDir().mkdir(folder) && writeBytes(file, ""));
        setMode(file, 0666);
        setMode(folder, killedRounds ? 0555 : 0777);
        const int durationMs = qEnvironmentVariableIntValue("TORVI_INI_STRESS_MS") > 0
                                   ? qEnvironmentVariableIntValue("TORVI_INI_STRESS_MS")
                                   : 2500;
        auto start = [&](int w, int ms) {
            auto p = std::make_unique<QProcess>();
            QStringList arguments{QLatin1String(kWriterArgument), file, QString::number(w),
                                  QString::number(ms)};
            p->start(QCoreApplication::applicationFilePath(),
                     killedRounds ? arguments << "in place" : arguments);
            return p;
        };
        for (int round = 0; round < killedRounds * 2; ++round) {
            const auto p = start(round % 2 + 1, 600000);
            while (!p->canReadLine() && p->state() != QProcess::NotRunning)
                p->waitForReadyRead(60000);
            QVERIFY2(p->readLine() == "ready\n", p->readAllStandardError().constData());
            ::kill(pid_t(p->processId()), SIGKILL);
            QVERIFY(p->waitForFinished(60000));
        }
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 1; w <= kWriters; ++w)
            writers.push_back(start(w, durationMs));
        QList<int> lastWrites;
        for (auto& p : writers) {
            QVERIFY(p->waitForFinished(durationMs + 60000));
            const QByteArray errors = p->readAllStandardError();
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                     errors.constData());
            lastWrites << p->readAllStandardOutput().trimmed().split('\n').last().toInt();
            QVERIFY(lastWrites.last() > 0);
        }
        setMode(folder, 0755);

        TSafeIniFile ini(file);
        for (int w = 1; w <= kWriters; ++w)
            QCOMPARE(ini.ReadInteger("Writers", QStringLiteral("Last%1").arg(w), -1),
                     lastWrites.at(w - 1));
        for (const QString& key : kSharedKeys) {
            const QString value = ini.ReadString("Shared", key, {});
            QVERIFY2(!value.isEmpty(), qPrintable(key));
            QVERIFY2(checkValue(value).isEmpty(), qPrintable(checkValue(value)));
        }
    }

private:
    QString path() const { return m_dir->filePath(QStringLiteral("cnf.INI")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

// Also the writer processes of writersShareOneFile.
int main(int argc, char** argv) {
    if ((argc == 5 || argc == 6) && qstrcmp(argv[1], kWriterArgument) == 0) {
        // In place: in a folder the writer must not change, which root could.
        if (argc == 6 && !dropRootRights())
            return 4;
        QCoreApplication app(argc, argv);
        return runWriter(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    }
    QCoreApplication app(argc, argv);
    TestSettingsFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsfiles.moc"
