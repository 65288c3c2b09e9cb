// Several processes share one settings file, as the viewers of several users share cnf.INI. The
// test runs its own executable as the writers.
#include "support/SafeIniFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

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

// Writes shared keys and its own counter until the time is up, reading back shared keys between.
// Prints the number of its last write; exits non-zero on the first bad value it reads.
int runWriter(const QString& file, int writer, int durationMs) {
    QRandomGenerator random(quint32(writer * 7919 + 1));
    TSafeIniFile ini(file);
    const QDeadlineTimer deadline(durationMs);
    int seq = 0;
    try {
        while (!deadline.hasExpired()) {
            ++seq;
            const QString key = kSharedKeys.at(random.bounded(int(kSharedKeys.size())));
            ini.WriteString(QStringLiteral("Shared"), key, makeValue(writer, seq, random));
            ini.WriteInteger(QStringLiteral("Writers"), QStringLiteral("Last%1").arg(writer), seq);
            for (const QString& k : kSharedKeys) {
                const QString problem = checkValue(ini.ReadString(QStringLiteral("Shared"), k, {}));
                if (!problem.isEmpty()) {
                    std::fprintf(stderr, "%s: %s\n", qPrintable(k), qPrintable(problem));
                    return 2;
                }
            }
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
    std::printf("%d\n", seq);
    return 0;
}

} // namespace

class TestSafeIniFileProcesses : public QObject {
    Q_OBJECT

private slots:
    // No torn value, no lost write and a file that reads back whole at the end.
    void writersShareOneFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("cnf.INI"));
        const int durationMs = qEnvironmentVariableIntValue("TORVI_INI_STRESS_MS") > 0
                                   ? qEnvironmentVariableIntValue("TORVI_INI_STRESS_MS")
                                   : 2500;
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 1; w <= kWriters; ++w) {
            auto p = std::make_unique<QProcess>();
            p->start(QCoreApplication::applicationFilePath(),
                     {QLatin1String(kWriterArgument), file, QString::number(w),
                      QString::number(durationMs)});
            writers.push_back(std::move(p));
        }
        QList<int> lastWrites;
        for (auto& p : writers) {
            QVERIFY(p->waitForFinished(durationMs + 60000));
            const QByteArray errors = p->readAllStandardError();
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                     errors.constData());
            lastWrites << p->readAllStandardOutput().trimmed().toInt();
            QVERIFY(lastWrites.last() > 0);
        }

        TSafeIniFile ini(file);
        for (int w = 1; w <= kWriters; ++w)
            QCOMPARE(ini.ReadInteger("Writers", QStringLiteral("Last%1").arg(w), -1),
                     lastWrites.at(w - 1));
        QStringList keys;
        ini.ReadSection("Shared", keys);
        for (const QString& key : kSharedKeys) {
            const QString value = ini.ReadString("Shared", key, {});
            QVERIFY2(!value.isEmpty(), qPrintable(key));
            QVERIFY2(checkValue(value).isEmpty(), qPrintable(checkValue(value)));
        }
        // Only the keys and companions of the current values remain.
        for (const QString& key : std::as_const(keys)) {
            const QString base = key.section(QLatin1String("__$"), 0, 0);
            QVERIFY2(kSharedKeys.contains(base), qPrintable(key));
            if (key != base) {
                const int count = ini.ReadInteger("Shared", base + "__$Count", 0);
                QVERIFY2(key.endsWith("$Count") || key.endsWith("$Hash") ||
                             key.mid(base.size() + 7).toInt() <= count,
                         qPrintable(key));
            }
        }
    }
};

int main(int argc, char** argv) {
    if (argc == 5 && qstrcmp(argv[1], kWriterArgument) == 0) {
        QCoreApplication app(argc, argv);
        return runWriter(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    }
    QCoreApplication app(argc, argv);
    TestSafeIniFileProcesses test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_safeinifile_processes.moc"
