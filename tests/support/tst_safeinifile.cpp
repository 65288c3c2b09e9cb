#include "common/Errors.h"
#include "common/TestFiles.h"

#include "platform/core/CodePage1251.h"
#include "support/SafeIniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The value exactly as stored under a key, for checks of the stored form.
QString stored(const QString& path, const QString& key) {
    return IniDocument::fromBytes(readBytes(path)).value("S", key).value_or("<none>");
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

using Op = std::function<void(TSafeIniFile&)>;
using Read = std::function<QVariant(TSafeIniFile&)>;

// One call on the file under test, for the tables.
#define WRITE(call) Op([=](TSafeIniFile& i) { i.call; })
#define READ(call) Read([=](TSafeIniFile& i) { return QVariant(i.call); })

} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Read)

class TestSafeIniFile : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void hash_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        // clang-format off
        QTest::newRow("abc") << "abc" << 397824173;
        QTest::newRow("empty") << "" << 0;
        // One byte 0xFF in code page 1251, two in UTF-8.
        QTest::newRow("Cyrillic ya") << QStringLiteral("я") << -2088705;
        // clang-format on
    }
    void hash() {
        QFETCH(QString, text);
        QTEST(IniValueHash(text), "expected");
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("storedForm");
        QTest::addColumn<QString>("readBack");
        // clang-format off
        QTest::newRow("CR LF") << "A\r\nB" << "A<@\\n@>B" << "A\r\nB";
        QTest::newRow("lone LF comes back as CR LF") << "A\nB" << "A<@\\n@>B" << "A\r\nB";
        QTest::newRow("lone CR is dropped") << "A\rB" << "AB" << "AB";
        QTest::newRow("outer blanks quoted") << " a\t" << "\" a\t\"" << " a\t";
        QTest::newRow("quotes kept") << "\"q\"" << "\"\"q\"\"" << "\"q\"";
        QTest::newRow("Cyrillic") << "Отчёт №5" << "Отчёт №5" << "Отчёт №5";
        // clang-format on
    }
    void roundTrip() {
        QFETCH(QString, value);
        QFETCH(QString, storedForm);
        TSafeIniFile ini(path());
        ini.WriteString("S", "K", value);
        QCOMPARE(readBytes(path()).count("K"), 1); // one key, no companions
        const QByteArray line = "K=" + CodePage1251::encode(storedForm) + "\r\n";
        QVERIFY2(readBytes(path()).contains(line), readBytes(path()).constData());
        QTEST(ini.ReadString("S", "K", "<default>"), "readBack");
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
    void mismatchedPartsGiveFirstPart_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("first part edited") << "K" << "edited" << "edited";
        QTest::newRow("hash edited") << "K__$Hash" << "1" << "first..";
        // clang-format on
    }
    void mismatchedPartsGiveFirstPart() {
        QFETCH(QString, key);
        QFETCH(QString, edit);
        QFETCH(QString, expected);
        TSafeIniFile ini(path());
        const QString value = "first" + QString(65527, '.') + "second";
        ini.WriteString("S", "K", value);
        QCOMPARE(ini.ReadString("S", "K", {}), value);
        IniDocument doc = IniDocument::fromBytes(readBytes(path()));
        doc.setValue("S", key, edit, path());
        QVERIFY(writeBytes(path(), doc.toBytes()));
        QCOMPARE(ini.ReadString("S", "K", {}).left(7), expected); // the first seven characters
    }

    // Written in the fixed formats whatever the workstation's locale (also run under ru_RU).
    void typedValues_data() {
        QTest::addColumn<Op>("write");
        QTest::addColumn<QString>("storedForm");
        QTest::addColumn<Read>("read");
        QTest::addColumn<QVariant>("expected"); // dates and times to the millisecond
        const TDateTime dt = encodeDateTime(2009, 8, 24, 13, 5, 7, 45);
        const TDateTime day = encodeDateTime(2009, 8, 24);
        const auto text = [](const QString& v) { return WRITE(WriteString("S", "K", v)); };
        // clang-format off
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
    void typedValues() {
        QFETCH(Op, write);
        QFETCH(Read, read);
        QFETCH(QVariant, expected);
        TSafeIniFile ini(path());
        write(ini);
        QTEST(stored(path(), "K"), "storedForm");
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
        // clang-format off
        QTest::newRow("folder is a file") << "file/cnf.INI" << int(ENOTDIR) << false;
        QTest::newRow("missing folder") << "missing/cnf.INI" << int(ENOENT) << false;
        QTest::newRow("file is a folder") << "folder" << int(EISDIR) << true;
        QTest::newRow("read-only folder") << "readonly/cnf.INI" << int(EACCES) << true;
        // clang-format on
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

    void lockNames_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("lockName");
        // clang-format off
        QTest::newRow("Linux path") << "/home/u/DARA/etc/cnf.INI"
            << "ini file lock mutex_home_u_dara_etc_cnf.ini";
        QTest::newRow("doubled backslashes collapse") << "C:\\\\WINDOWS\\cnf.INI"
            << "ini file lock mutexc__windows_cnf.ini";
        QTest::newRow("Cyrillic lower-cased") << "/home/Оператор/НАСТРОЙКИ.INI"
            << "ini file lock mutex_home_оператор_настройки.ini";
        QTest::newRow("forbidden characters") << "a\"*:<>?|b" << "ini file lock mutexa_______b";
        // Ё lies apart from А-Я; Greek is not in the code page and stays as it is.
        QTest::newRow("Yo and Greek") << "/ΣA/Ёлка" << "ini file lock mutex_Σa_ёлка";
        // clang-format on
    }
    void lockNames() {
        QFETCH(QString, fileName);
        QTEST(TSafeIniFile::lockNameFor(fileName), "lockName");
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

private:
    QString path() const { return m_dir->filePath(QStringLiteral("cnf.INI")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSafeIniFile)
#include "tst_safeinifile.moc"
