// Settings-file speed against references measured in the same run. Writes: Qt's own INI settings
// (QSettings) on the same data, once syncing after every key and once after all of them. Reads:
// the bare file read and decoded from code page 1251, because QSettings keeps files it has read
// in a process-wide cache and would not read the file at all. TSafeIniFile pays for the lock, the
// parsing and an fsync'ed replacement of the file per write.
#include "support/SafeIniFile.h"

#include "platform/core/CodePage1251.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double milliseconds(const std::function<void()>& body) {
    QElapsedTimer timer;
    timer.start();
    body();
    return double(timer.nsecsElapsed()) / 1e6;
}

QString text(int size, int seed) {
    static const QString alphabet = QStringLiteral("abcdefАБВГДЕ0123 ");
    QString s;
    s.reserve(size);
    for (int i = 0; i < size; ++i) {
        if (i % 997 == 996)
            s += QLatin1Char('\n');
        else
            s += alphabet.at((i * 31 + seed) % alphabet.size());
    }
    return s;
}

QString rawFileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? CodePage1251::decode(f.readAll()) : QString();
}

void report(const char* what, double ours, double reference, const char* referenceName) {
    std::printf("%-44s %10.2f ms   %-28s %10.2f ms   ratio %6.2f\n", what, ours, referenceName,
                reference, ours / reference);
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One ReadString and one WriteString on a 10 MB file of the given shape, in a child process so
// that every shape starts from the same peak. Memory is reported as a multiple of the file size,
// time against a bare read of the file.
void memoryOfShape(const QString& path, const char* shape, const QByteArray& unit,
                   const QByteArray& head) {
    constexpr qsizetype kSize = 10 << 20;
    QByteArray bytes = head;
    bytes.reserve(kSize + unit.size());
    int n = 0;
    while (bytes.size() < kSize)
        bytes += QByteArray(unit).replace('#', QByteArray::number(n++));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return;
    f.close();
    const qsizetype size = bytes.size();
    bytes = QByteArray();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        const long before = peakKilobytes();
        volatile qsizetype sink = 0;
        TSafeIniFile ini(path);
        const double ours = milliseconds([&] {
            sink = sink + ini.ReadString(QStringLiteral("S"), QStringLiteral("k1"), {}).size();
            ini.WriteString(QStringLiteral("S"), QStringLiteral("k1"), QStringLiteral("x"));
        });
        const double multiple = double(peakKilobytes() - before) * 1024 / double(size);
        const double raw = milliseconds([&] { sink = sink + rawFileText(path).size(); });
        std::printf("  %-24s peak %6.1f x file size   read+write %8.2f ms   raw read %7.2f ms"
                    "   ratio %6.2f\n",
                    shape, multiple, ours, raw, ours / raw);
        std::fflush(stdout);
        _exit(sink < 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString safePath = dir.filePath(QStringLiteral("safe.ini"));
    const QString qtPath = dir.filePath(QStringLiteral("qt.ini"));
    volatile qsizetype sink = 0;

    // One value of 200,000 characters, four parts; written and read 20 times.
    constexpr int kRounds = 20;
    const QString big = text(200000, 1);
    {
        TSafeIniFile ini(safePath);
        const double write = milliseconds([&] {
            for (int i = 0; i < kRounds; ++i)
                ini.WriteString(QStringLiteral("Report"), QStringLiteral("Text"), big);
        });
        const double read = milliseconds([&] {
            for (int i = 0; i < kRounds; ++i)
                sink = sink +
                       ini.ReadString(QStringLiteral("Report"), QStringLiteral("Text"), {}).size();
        });
        const double qtWrite = milliseconds([&] {
            for (int i = 0; i < kRounds; ++i) {
                QSettings s(qtPath, QSettings::IniFormat);
                s.setValue(QStringLiteral("Report/Text"), big);
                s.sync();
            }
        });
        const double rawRead = milliseconds([&] {
            for (int i = 0; i < kRounds; ++i)
                sink = sink + rawFileText(safePath).size();
        });
        std::printf("200,000-character value, %d rounds\n", kRounds);
        report("  TSafeIniFile WriteString", write, qtWrite, "QSettings setValue+sync");
        report("  TSafeIniFile ReadString", read, rawRead, "raw file read+decode");
    }

    // 1,000 small keys in one file: each written, then each read.
    constexpr int kKeys = 1000;
    QStringList keys;
    QStringList values;
    for (int i = 0; i < kKeys; ++i) {
        keys << QStringLiteral("Key%1").arg(i);
        values << text(20 + i % 40, i);
    }
    {
        QFile::remove(safePath);
        QFile::remove(qtPath);
        TSafeIniFile ini(safePath);
        const double write = milliseconds([&] {
            for (int i = 0; i < kKeys; ++i)
                ini.WriteString(QStringLiteral("Keys"), keys.at(i), values.at(i));
        });
        const double read = milliseconds([&] {
            for (int i = 0; i < kKeys; ++i)
                sink = sink + ini.ReadString(QStringLiteral("Keys"), keys.at(i), {}).size();
        });
        QSettings s(qtPath, QSettings::IniFormat);
        const double qtWriteEach = milliseconds([&] {
            for (int i = 0; i < kKeys; ++i) {
                s.setValue(QStringLiteral("Keys/") + keys.at(i), values.at(i));
                s.sync();
            }
        });
        const double rawReadEach = milliseconds([&] {
            for (int i = 0; i < kKeys; ++i)
                sink = sink + rawFileText(safePath).size();
        });
        QFile::remove(qtPath);
        const double qtWriteBatch = milliseconds([&] {
            QSettings batch(qtPath, QSettings::IniFormat);
            for (int i = 0; i < kKeys; ++i)
                batch.setValue(QStringLiteral("Keys/") + keys.at(i), values.at(i));
            batch.sync();
        });
        std::printf("%d small keys in one file\n", kKeys);
        report("  TSafeIniFile WriteString, each key", write, qtWriteEach,
               "QSettings sync each key");
        report("  TSafeIniFile WriteString, each key", write, qtWriteBatch, "QSettings one sync");
        report("  TSafeIniFile ReadString, each key", read, rawReadEach,
               "raw file read+decode each");
    }
    std::printf("10 MB settings files of hostile shapes\n");
    memoryOfShape(safePath, "blank lines", "\r\n", "[S]\r\n");
    memoryOfShape(safePath, "short lines", "x\r\n", "[S]\r\n");
    memoryOfShape(safePath, "one key per line", "k#=v\r\n", "[S]\r\n");
    memoryOfShape(safePath, "one section per line", "[s#]\r\n", "");
    return sink < 0 ? 1 : 0;
}
