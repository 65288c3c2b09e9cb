#include "platform/core/CodePage1251.h"
#include "support/SafeIniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The value exactly as stored under a key, for checks of the stored form.
QString stored(const QString& path, const QString& key) {
    return IniDocument::fromBytes(readBytes(path))
        .value(QStringLiteral("S"), key)
        .value_or(QStringLiteral("<none>"));
}

QString longText(qsizetype size, quint32 seed) {
    static const QString alphabet = QStringLiteral("abcdefghijАБВГДежзий0123456789 .,;");
    QString text;
    text.reserve(size);
    for (qsizetype i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += alphabet.at((seed >> 16) % alphabet.size());
    }
    return text;
}

using Operation = std::function<void(TSafeIniFile&)>;

} // namespace

Q_DECLARE_METATYPE(Operation)

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
        QTest::newRow("abc") << "abc" << 397824173;
        QTest::newRow("a") << "a" << -794527;
        QTest::newRow("empty") << "" << 0;
        // One byte 0xFF in code page 1251, two in UTF-8.
        QTest::newRow("Cyrillic ya") << QStringLiteral("я") << -2088705;
    }
    void hash() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(IniValueHash(text), expected);
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("storedForm");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("CR LF") << "A\r\nB"
                               << "A<@\\n@>B"
                               << "A\r\nB";
        QTest::newRow("lone LF comes back as CR LF") << "A\nB"
                                                     << "A<@\\n@>B"
                                                     << "A\r\nB";
        QTest::newRow("lone CR is dropped") << "A\rB"
                                            << "AB"
                                            << "AB";
        QTest::newRow("leading blank quoted") << " lead"
                                              << "\" lead\""
                                              << " lead";
        QTest::newRow("trailing tab quoted") << "tab\t"
                                             << "\"tab\t\""
                                             << "tab\t";
        QTest::newRow("quotes kept") << "\"q\""
                                     << "\"\"q\"\""
                                     << "\"q\"";
        QTest::newRow("line break at the end") << "x\n"
                                               << "x<@\\n@>"
                                               << "x\r\n";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("Cyrillic") << QStringLiteral("Отчёт №5") << QStringLiteral("Отчёт №5")
                                  << QStringLiteral("Отчёт №5");
    }
    void roundTrip() {
        QFETCH(QString, value);
        QFETCH(QString, storedForm);
        QFETCH(QString, readBack);
        TSafeIniFile ini(path());
        ini.WriteString("S", "K", value);
        QCOMPARE(readBytes(path()).count("K"), 1); // one key, no companions
        const QByteArray line = "K=" + CodePage1251::encode(storedForm) + "\r\n";
        QVERIFY2(readBytes(path()).contains(line), readBytes(path()).constData());
        QCOMPARE(ini.ReadString("S", "K", "<default>"), readBack);
    }

    // Cuts at 65532 characters, never inside a line-break marker, and back.
    void longValues_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("partSizes"); // stored sizes of K, K__$Line2, ...
        QTest::newRow("65532 fits one key") << QString(65532, 'x') << QStringList{"65532"};
        QTest::newRow("65533 needs a second part")
            << QString(65533, 'x') << QStringList{"65532", "1"};
        QTest::newRow("marker not split")
            << QString(65530, 'x') + "\ny" << QStringList{"65530", "7"};
        QTest::newRow("marker ending exactly at the cut")
            << QString(65526, 'x') + "\ny" << QStringList{"65532", "1"};
        QTest::newRow("quoted parts")
            << QString(65531, 'x') + " " + QString(10, 'y') + " " << QStringList{"65534", "13"};
        QTest::newRow("200000 with line breaks")
            << (longText(70000, 1) + "\r\n" + longText(130000, 2))
            << QStringList{"65532", "65532", "65532", "3410"};
    }
    void longValues() {
        QFETCH(QString, value);
        QFETCH(QStringList, partSizes);
        TSafeIniFile ini(path());
        ini.WriteString("S", "K", value);
        const IniDocument doc = IniDocument::fromBytes(readBytes(path()));
        QStringList sizes;
        QStringList keys{"K"};
        for (int i = 2; i <= partSizes.size(); ++i)
            keys << QStringLiteral("K__$Line%1").arg(i);
        for (const auto& [key, text] : doc.storedEntries("S"))
            if (keys.contains(key))
                sizes << QString::number(text.size());
        QCOMPARE(sizes, partSizes);
        QCOMPARE(doc.value("S", "K__$Count").has_value(), partSizes.size() > 1);
        QString expected = value;
        expected.replace("\r\n", "\n").replace("\n", "\r\n");
        QCOMPARE(ini.ReadString("S", "K", {}), expected);
    }

    void shortValueRemovesCompanions() {
        TSafeIniFile ini(path());
        ini.WriteString("S", "K", QString(150000, 'x'));
        ini.WriteString("S", "Other", "kept");
        QCOMPARE(stored(path(), "K__$Count"), QStringLiteral("3"));
        ini.WriteString("S", "K", "short");
        QStringList keys;
        ini.ReadSection("S", keys);
        QCOMPARE(keys, (QStringList{"K", "Other"}));
        QCOMPARE(ini.ReadString("S", "K", {}), QStringLiteral("short"));
        ini.WriteString("S", "K", QString(70000, 'y'));
        ini.DeleteKey("S", "K");
        ini.ReadSection("S", keys);
        QCOMPARE(keys, QStringList{"Other"});
    }

    // A first part that no longer matches its hash reads alone: an edit by hand, or a torn write.
    void mismatchedPartsGiveFirstPart_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first part edited") << "K=edited"
                                           << "edited";
        QTest::newRow("hash edited") << "K__$Hash=1"
                                     << "first";
        QTest::newRow("hash not a number") << "K__$Hash=abc"
                                           << "first";
    }
    void mismatchedPartsGiveFirstPart() {
        QFETCH(QString, edit);
        QFETCH(QString, expected);
        TSafeIniFile ini(path());
        const QString value = "first" + QString(65527, '.') + "second";
        ini.WriteString("S", "K", value);
        QCOMPARE(ini.ReadString("S", "K", {}), value);
        const QString key = edit.section('=', 0, 0);
        IniDocument doc = IniDocument::fromBytes(readBytes(path()));
        doc.setValue("S", key, edit.section('=', 1), path());
        writeBytes(path(), doc.toBytes());
        QCOMPARE(ini.ReadString("S", "K", {}).left(expected.size() + 1),
                 expected == "first" ? "first." : expected);
    }

    void handEditsSurviveLaterWrites() {
        TSafeIniFile ini(path());
        ini.WriteString("S", "A", "1");
        writeBytes(path(),
                   readBytes(path()) + "; by hand\r\nB=\"  spaced  \"\r\n\r\n[Other]\r\nC=3\r\n");
        ini.WriteString("S", "A", "2");
        ini.WriteString("Other", "D", "4");
        QCOMPARE(readBytes(path()),
                 QByteArray("[S]\r\nA=2\r\n; by hand\r\nB=\"  spaced  \"\r\n\r\n[Other]\r\nC=3\r\n"
                            "D=4\r\n"));
        QCOMPARE(ini.ReadString("S", "B", {}), QStringLiteral("  spaced  "));
    }

    void garbageFile() {
        QByteArray garbage;
        quint32 seed = 7;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 1103515245u + 12345u;
            garbage += char(seed >> 24);
        }
        writeBytes(path(), garbage);
        TSafeIniFile ini(path());
        QCOMPARE(ini.ReadString("Settings", "K", "d"), QStringLiteral("d"));
        QCOMPARE(ini.ReadInteger("Settings", "N", 5), 5);
        QCOMPARE(ini.ReadDate("Settings", "D", 1.0), 1.0);
        ini.WriteString("Settings", "K", "line1\nline2");
        QCOMPARE(ini.ReadString("Settings", "K", "d"), QStringLiteral("line1\r\nline2"));
        // Up to the first line end; a lone CR ends a line too and comes back as CR LF.
        const qsizetype firstEnd = qMin(garbage.indexOf('\n'), garbage.indexOf('\r'));
        QVERIFY(readBytes(path()).startsWith(garbage.left(firstEnd)));
    }

    void integersAndBooleans() {
        TSafeIniFile ini(path());
        ini.WriteInteger("S", "I", -42);
        ini.WriteBool("S", "B", true);
        ini.WriteString("S", "H", "0x1F");
        ini.WriteString("S", "X", "12abc");
        QCOMPARE(stored(path(), "I"), QStringLiteral("-42"));
        QCOMPARE(stored(path(), "B"), QStringLiteral("1"));
        QCOMPARE(ini.ReadInteger("S", "I", 0), -42);
        QCOMPARE(ini.ReadInteger("S", "H", 0), 31);
        QCOMPARE(ini.ReadInteger("S", "X", 7), 7);
        QCOMPARE(ini.ReadBool("S", "B", false), true);
        QVERIFY(ini.ValueExists("s", "h"));
        QVERIFY(!ini.ValueExists("S", "Missing"));
    }

    // Written in the fixed formats whatever the workstation's locale (also run under ru_RU).
    void typedValues_data() {
        QTest::addColumn<Operation>("write");
        QTest::addColumn<QString>("storedForm");
        QTest::addColumn<Operation>("readBack");
        auto check = [](TDateTime (TSafeIniFile::*read)(const QString&, const QString&, TDateTime),
                        TDateTime expected) {
            return Operation([=](TSafeIniFile& ini) {
                QCOMPARE(msecOfDay((ini.*read)("S", "K", -1)), msecOfDay(expected));
                QCOMPARE(dateOf((ini.*read)("S", "K", -1)), dateOf(expected));
            });
        };
        const TDateTime dt = encodeDateTime(2009, 8, 24, 13, 5, 7, 45);
        QTest::newRow("date") << Operation([=](TSafeIniFile& i) { i.WriteDate("S", "K", dt); })
                              << "24.08.2009"
                              << check(&TSafeIniFile::ReadDate, encodeDateTime(2009, 8, 24));
        QTest::newRow("time") << Operation([=](TSafeIniFile& i) { i.WriteTime("S", "K", dt); })
                              << "13:05:07.045"
                              << check(&TSafeIniFile::ReadTime, dt - encodeDateTime(2009, 8, 24));
        QTest::newRow("date-time")
            << Operation([=](TSafeIniFile& i) { i.WriteDateTime("S", "K", dt); })
            << "24.08.2009 13:05:07.045" << check(&TSafeIniFile::ReadDateTime, dt);
        QTest::newRow("midnight writes the date only") << Operation([](TSafeIniFile& i) {
            i.WriteDateTime("S", "K", encodeDateTime(2009, 8, 24));
        }) << "24.08.2009" << check(&TSafeIniFile::ReadDateTime, encodeDateTime(2009, 8, 24));
        QTest::newRow("float") << Operation([](TSafeIniFile& i) { i.WriteFloat("S", "K", 12.5); })
                               << "12.5" << Operation([](TSafeIniFile& i) {
                                      QCOMPARE(i.ReadFloat("S", "K", 0), 12.5);
                                  });
        QTest::newRow("impossible date gives the default")
            << Operation([](TSafeIniFile& i) { i.WriteString("S", "K", "31.02.2009"); })
            << "31.02.2009" << check(&TSafeIniFile::ReadDate, -1);
        QTest::newRow("empty gives the default")
            << Operation([](TSafeIniFile& i) { i.WriteString("S", "K", ""); }) << ""
            << check(&TSafeIniFile::ReadDate, -1);
        QTest::newRow("comma is no decimal point")
            << Operation([](TSafeIniFile& i) { i.WriteString("S", "K", "12,5"); }) << "12,5"
            << Operation([](TSafeIniFile& i) { QCOMPARE(i.ReadFloat("S", "K", -1), -1.0); });
    }
    void typedValues() {
        QFETCH(Operation, write);
        QFETCH(QString, storedForm);
        QFETCH(Operation, readBack);
        TSafeIniFile ini(path());
        write(ini);
        QCOMPARE(stored(path(), "K"), storedForm);
        readBack(ini);
    }

    void errorMessages_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QString>("expected"); // %1 is the file name
        const QString noSection = QStringLiteral("Не указано название секции. Имя файла: %1");
        const QString noKey = QStringLiteral("Не указано название переменной. Имя файла: %1");
        QTest::newRow("ReadString without key")
            << Operation([](TSafeIniFile& i) { i.ReadString("S", "", ""); })
            << "TSafeIniFile.ReadString -> " + noKey;
        QTest::newRow("ReadString without section")
            << Operation([](TSafeIniFile& i) { i.ReadString("", "K", ""); })
            << "TSafeIniFile.ReadString -> " + noSection;
        QTest::newRow("WriteString without key")
            << Operation([](TSafeIniFile& i) { i.WriteString("S", "", "v"); })
            << "TSafeIniFile.WriteString -> " + noKey;
        QTest::newRow("DeleteKey without key")
            << Operation([](TSafeIniFile& i) { i.DeleteKey("S", ""); })
            << "TSafeIniFile.DeleteKey -> " + noKey;
        QTest::newRow("EraseSection") << Operation([](TSafeIniFile& i) { i.EraseSection(""); })
                                      << "TSafeIniFile.EraseSection -> " + noSection;
        QTest::newRow("ReadSectionValues") << Operation([](TSafeIniFile& i) {
            QStringList l;
            i.ReadSectionValues("", l);
        }) << "TSafeIniFile.ReadSectionValues -> " + noSection;
        QTest::newRow("ValueExists reports ReadSection")
            << Operation([](TSafeIniFile& i) { i.ValueExists("", "K"); })
            << "TSafeIniFile.ReadSection -> " + noSection;
        QTest::newRow("WriteDate nests WriteString")
            << Operation([](TSafeIniFile& i) { i.WriteDate("", "K", 0); })
            << "TSafeIniFile.WriteDate -> TSafeIniFile.WriteString -> " + noSection;
        QTest::newRow("WriteFloat nests WriteString")
            << Operation([](TSafeIniFile& i) { i.WriteFloat("S", "", 0); })
            << "TSafeIniFile.WriteFloat -> TSafeIniFile.WriteString -> " + noKey;
        QTest::newRow("ReadDate leaves ReadString's context alone")
            << Operation([](TSafeIniFile& i) { i.ReadDate("", "K", 0); })
            << "TSafeIniFile.ReadString -> " + noSection;
        QTest::newRow("ReadInteger through ReadString")
            << Operation([](TSafeIniFile& i) { i.ReadInteger("S", "", 0); })
            << "TSafeIniFile.ReadString -> " + noKey;
        QTest::newRow("value the file cannot hold")
            << Operation([](TSafeIniFile& i) { i.WriteString("S", "K", QStringLiteral("日")); })
            << "TSafeIniFile.WriteString -> Нельзя записать в файл %1: значение переменной «K» "
               "содержит символ U+65E5, которого нет в кодовой странице 1251";
    }
    void errorMessages() {
        QFETCH(Operation, operation);
        QFETCH(QString, expected);
        TSafeIniFile ini(path());
        try {
            operation(ini);
            QFAIL("no error");
        } catch (const EIniFileException& e) {
            QCOMPARE(e.message(), expected.arg(path()));
            QCOMPARE(e.className(), QStringLiteral("EIniFileException"));
        }
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
        writeBytes(m_dir->filePath("file"), "x");
        QVERIFY(QDir(m_dir->path()).mkdir("folder"));
        QVERIFY(QDir(m_dir->path()).mkdir("readonly"));
        QVERIFY(::chmod(QFile::encodeName(m_dir->filePath("readonly")).constData(), 0555) == 0);
        const QString file = m_dir->filePath(relativePath);
        TSafeIniFile ini(file);
        QElapsedTimer timer;
        timer.start();
        try {
            ini.WriteString("S", "K", "v");
            QFAIL("the write succeeded");
        } catch (const EIniFileException& e) {
            QCOMPARE(e.message(), QStringLiteral("TSafeIniFile.WriteString -> %1 -> Не удалось "
                                                 "записать файл %2")
                                      .arg(SysErrorMessage(osError), file));
        }
        if (retried)
            QVERIFY2(timer.elapsed() >= 950, "given up before a second of retries");
        else
            QVERIFY2(timer.elapsed() < 500, "a lasting failure was retried");
        ::chmod(QFile::encodeName(m_dir->filePath("readonly")).constData(), 0755);
    }

    void lockNames_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("lockName");
        QTest::newRow("Linux path") << "/home/u/DARA/etc/cnf.INI"
                                    << "ini file lock mutex_home_u_dara_etc_cnf.ini";
        QTest::newRow("Windows path") << "C:\\WINDOWS\\cnf.INI"
                                      << "ini file lock mutexc__windows_cnf.ini";
        QTest::newRow("doubled backslashes collapse") << "\\\\\\\\srv\\\\a.ini"
                                                      << "ini file lock mutex_srv_a.ini";
        QTest::newRow("Cyrillic lower-cased")
            << QStringLiteral("/home/Оператор/НАСТРОЙКИ.INI")
            << QStringLiteral("ini file lock mutex_home_оператор_настройки.ini");
        QTest::newRow("forbidden characters") << "a\"*:<>?|b"
                                              << "ini file lock mutexa_______b";
    }
    void lockNames() {
        QFETCH(QString, fileName);
        QFETCH(QString, lockName);
        QCOMPARE(TSafeIniFile::lockNameFor(fileName), lockName);
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
            TSafeIniFile other(path());
            other.WriteString("S", "K", "from thread");
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
