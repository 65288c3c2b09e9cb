#include "support/SafeIniFile.h"

#include "platform/core/CodePage1251.h"
#include "platform/core/Exceptions.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

#include <cerrno>
#include <cmath>

namespace {

const QString kLineBreakMarker = QStringLiteral("<@\\n@>");
constexpr qsizetype kMaxPartLength = 65532;
// What ReadString and DeleteKey take for "no count stored".
constexpr int kNoCount = -65535;

const QString kCountSuffix = QStringLiteral("__$Count");
const QString kHashSuffix = QStringLiteral("__$Hash");
// The hash of all parts together. K__$Hash covers only part 1, so a value whose later parts were
// cut (a torn file, a part lost by hand) would read back short as if it were whole. Programs that
// do not know the key ignore it; values they write have none and read by part 1's hash alone.
const QString kFullHashSuffix = QStringLiteral("__$HashAll");
const QString kLineSuffix = QStringLiteral("__$Line");

// Built at load time rather than on first use, which may come from any thread.
[[maybe_unused]] const TFormatSettings& loadedAtStartup = IniFormatSettings();

template <class Body>
auto withContext(const char* context, Body&& body) -> decltype(body()) {
    return CallWithContext(QLatin1String(context), std::forward<Body>(body));
}

// The Windows errors after which the profile functions give up at once, as errno values. Waiting
// a second cannot mend any of them:
//   path not found (3)   - ENOENT, ENOTDIR: a folder on the way is missing or is a file;
//   file name too long (111) - ENAMETOOLONG;
//   disk full (112)      - ENOSPC, EDQUOT (the user's quota), EFBIG (over the file size limit);
//   invalid name (123)   - EINVAL (a device or FIFO where the file should be), ELOOP (a link
//                          where the file should be, which the writer refuses to follow).
// A folder where the file should be (EISDIR) is retried: Windows reports it as access denied,
// which is retried like a file held open by another program.
bool failsAtOnce(int osError) {
    switch (osError) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EINVAL:
    case ELOOP:
        return true;
    default:
        return false;
    }
}

QString partKey(const QString& ident, qsizetype i) {
    return ident + kLineSuffix + QString::number(i);
}

// The number of a part key K__$Line<i> with 2 <= i <= count, written as the writer writes it;
// 0 for any other key.
int partNumber(const QString& key, const QString& ident, int count) {
    const QString digits = key.mid(ident.size() + kLineSuffix.size());
    int i = 0;
    if (!key.startsWith(ident + kLineSuffix, Qt::CaseInsensitive) ||
        !TCustomIniFile::parseInteger(digits, &i) || i < 2 || i > count ||
        digits != QString::number(i))
        return 0;
    return i;
}

// Removes K__$Count, K__$Hash and K__$Line2 … K__$Line<count> in one pass over the section, so a
// hand-edited count of two billion costs no more than a count of three.
void removeCompanions(IniDocument& doc, const QString& section, const QString& ident, int count) {
    doc.removeKeys(section, ident + QStringLiteral("__$"), [&](const QString& key) {
        return key.compare(ident + kCountSuffix, Qt::CaseInsensitive) == 0 ||
               key.compare(ident + kHashSuffix, Qt::CaseInsensitive) == 0 ||
               key.compare(ident + kFullHashSuffix, Qt::CaseInsensitive) == 0 ||
               partNumber(key, ident, count) != 0;
    });
}

// Whether the parts read are the ones written, when the writer left the hash of them all; a missing
// part counts as empty, and then fails it.
bool allPartsMatch(const IniDocument& doc, const QString& section, const QString& ident,
                   const QString& first, const QMap<int, QString>& parts) {
    const std::optional<QString> text = doc.value(section, ident + kFullHashSuffix);
    if (!text)
        return true;
    int stored = 0;
    QString all = first;
    for (const QString& part : parts)
        all += part;
    return TCustomIniFile::parseInteger(TSafeIniFile::decodeValue(ProfileIniFile::limited(*text)),
                                        &stored) &&
           stored == IniValueHash(all);
}

int storedCount(const IniDocument& doc, const QString& section, const QString& ident) {
    const std::optional<QString> text = doc.value(section, ident + kCountSuffix);
    int count = kNoCount;
    if (!text || !TCustomIniFile::parseInteger(
                     TSafeIniFile::decodeValue(ProfileIniFile::limited(*text)), &count))
        return kNoCount;
    return count;
}

// Reads the parsers below accept: the written forms, with one or two digits where the writer pads.
const QRegularExpression& dateRe() {
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})$"));
    return re;
}

const QRegularExpression& timeRe() {
    static const QRegularExpression re(
        QStringLiteral("^(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2})(?:\\.(\\d{1,3}))?)?$"));
    return re;
}

std::optional<TDateTime> parseDate(const QString& text) {
    const QRegularExpressionMatch m = dateRe().match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    if (!date.isValid())
        return std::nullopt;
    return fromQDate(date);
}

std::optional<TDateTime> parseTime(const QString& text) {
    const QRegularExpressionMatch m = timeRe().match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int h = m.captured(1).toInt();
    const int n = m.captured(2).toInt();
    const int s = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    // "5" after the point is five hundred milliseconds, as a decimal fraction reads.
    const int z =
        m.captured(4).isEmpty() ? 0 : m.captured(4).leftJustified(3, QLatin1Char('0')).toInt();
    if (h > 23 || n > 59 || s > 59)
        return std::nullopt;
    return (h * 3600000.0 + n * 60000.0 + s * 1000.0 + z) / kMsecPerDay;
}

std::optional<TDateTime> parseDateTime(const QString& text) {
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return parseDate(text);
    const std::optional<TDateTime> date = parseDate(text.left(blank));
    const std::optional<TDateTime> time = parseTime(text.mid(blank + 1).trimmed());
    if (!date || !time)
        return std::nullopt;
    // Before 1899-12-30 the fraction counts away from zero (see DateTime.h).
    return *date >= 0 ? *date + *time : *date - *time;
}

std::optional<double> parseFloat(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (text == QLatin1String("NAN"))
        return std::nan("");
    if (text == QLatin1String("INF") || text == QLatin1String("-INF"))
        return text.startsWith(QLatin1Char('-')) ? -HUGE_VAL : HUGE_VAL;
    if (!re.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

const TFormatSettings& IniFormatSettings() {
    static const TFormatSettings settings =
        TFormatSettings::fixed(QStringLiteral("dd.mm.yyyy"), QStringLiteral("hh:nn:ss.zzzz"),
                               QLatin1Char('.'), QLatin1Char(':'));
    return settings;
}

qint32 IniValueHash(const QString& text) {
    quint32 h = 0;
    for (const char c : CodePage1251::encode(text)) {
        h += uchar(c);
        h -= (h << 13) | (h >> 19);
    }
    return qint32(h);
}

QString TSafeIniFile::lockNameFor(const QString& fileName) {
    QString name = QStringLiteral("ini file lock mutex") + CodePage1251::toLower(fileName);
    while (name.contains(QLatin1String("\\\\")))
        name.replace(QLatin1String("\\\\"), QLatin1String("\\"));
    for (QChar& c : name)
        if (QStringView(u"\"*/:<>?\\|").contains(c))
            c = QLatin1Char('_');
    return name;
}

QString TSafeIniFile::quotePart(const QString& part) {
    auto special = [](QChar c) { return c == QLatin1Char('"') || c.unicode() <= 32; };
    if (!part.isEmpty() && (special(part.front()) || special(part.back())))
        return QLatin1Char('"') + part + QLatin1Char('"');
    return part;
}

QStringList TSafeIniFile::splitValue(const QString& value) {
    QString text = value;
    text.remove(QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), kLineBreakMarker);
    QStringList parts;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = qMin(start + kMaxPartLength, text.size());
        if (end < text.size()) {
            // The marker cannot overlap itself, so at most one occurrence straddles the cut.
            const qsizetype marker = text.lastIndexOf(kLineBreakMarker, end - 1);
            if (marker > start && marker + kLineBreakMarker.size() > end)
                end = marker;
        }
        parts.append(text.mid(start, end - start));
        start = end;
    }
    return parts;
}

QString TSafeIniFile::decodeValue(const QString& stored) {
    QString text = stored;
    return text.replace(kLineBreakMarker, QLatin1String("\r\n"));
}

TSafeIniFile::TSafeIniFile(const QString& fileName)
    : TIniFile(fileName)
    , m_lockHandle(std::make_unique<NamedLock>(lockNameFor(fileName))) {}

// Nothing is cached between calls, so there is nothing to write back under the lock here.
TSafeIniFile::~TSafeIniFile() = default;

void TSafeIniFile::checkSection(const QString& section) const {
    if (section.isEmpty())
        throw EIniFileException(
            QStringLiteral("Не указано название секции. Имя файла: %1").arg(FileName()));
}

void TSafeIniFile::checkIdent(const QString& ident) const {
    if (ident.isEmpty())
        throw EIniFileException(
            QStringLiteral("Не указано название переменной. Имя файла: %1").arg(FileName()));
}

void TSafeIniFile::writeWithRetry(const std::function<void(IniDocument&)>& change) {
    const QDeadlineTimer deadline(1000);
    for (;;) {
        try {
            profile().update(change);
            return;
        } catch (const EIniWriteError& e) {
            if (deadline.hasExpired() || failsAtOnce(e.osError()))
                RaiseWithContext(SysErrorMessage(e.osError()), e);
        }
        QThread::msleep(20);
    }
}

QString TSafeIniFile::ReadString(const QString& section, const QString& ident,
                                 const QString& defaultValue) {
    return withContext("TSafeIniFile.ReadString", [&] {
        checkSection(section);
        checkIdent(ident);
        NamedLockHolder hold(m_lockHandle.get());
        // One snapshot for all parts: under the lock the file does not change between them, and
        // a writer without the lock replaces the file whole, so the parts read belong together or
        // fail the hash.
        const IniDocument doc = profile().read();
        const int count = storedCount(doc, section, ident);
        const QString raw = ProfileIniFile::limited(
            doc.value(section, ident).value_or(ProfileIniFile::defaultAsRead(defaultValue)));
        QString value = decodeValue(raw);
        if (count > 1) {
            int storedHash = 0;
            const std::optional<QString> hashText = doc.value(section, ident + kHashSuffix);
            if (hashText &&
                TCustomIniFile::parseInteger(decodeValue(ProfileIniFile::limited(*hashText)),
                                             &storedHash) &&
                storedHash == IniValueHash(raw)) {
                // The first key of each number wins, as a lookup of that key would give it.
                QMap<int, QString> parts;
                doc.forEachKey(section, ident + kLineSuffix,
                               [&](const QString& key, const QString& text) {
                                   const int i = partNumber(key, ident, count);
                                   if (i != 0 && !parts.contains(i))
                                       parts.insert(i, ProfileIniFile::limited(text));
                               });
                if (allPartsMatch(doc, section, ident, raw, parts)) {
                    for (const QString& part : std::as_const(parts))
                        value += decodeValue(part);
                }
            }
        }
        return value;
    });
}

void TSafeIniFile::WriteString(const QString& section, const QString& ident, const QString& value) {
    withContext("TSafeIniFile.WriteString", [&] {
        checkSection(section);
        checkIdent(ident);
        const QStringList parts = splitValue(value);
        NamedLockHolder hold(m_lockHandle.get());
        // One replacement of the file for the whole value: no reader, with or without the lock,
        // can see the new first part beside old companions, and a crash keeps the old value.
        writeWithRetry([&](IniDocument& doc) {
            const int count = storedCount(doc, section, ident);
            if (count != kNoCount)
                removeCompanions(doc, section, ident, count);
            doc.setValue(section, ident, quotePart(parts.value(0)), FileName());
            if (parts.size() <= 1)
                return;
            doc.setValue(section, ident + kCountSuffix, QString::number(parts.size()), FileName());
            doc.setValue(section, ident + kHashSuffix, QString::number(IniValueHash(parts.first())),
                         FileName());
            doc.setValue(section, ident + kFullHashSuffix,
                         QString::number(IniValueHash(parts.join(QString()))), FileName());
            for (qsizetype i = 1; i < parts.size(); ++i)
                doc.setValue(section, partKey(ident, i + 1), quotePart(parts.at(i)), FileName());
        });
    });
}

void TSafeIniFile::DeleteKey(const QString& section, const QString& ident) {
    withContext("TSafeIniFile.DeleteKey", [&] {
        checkSection(section);
        checkIdent(ident);
        NamedLockHolder hold(m_lockHandle.get());
        writeWithRetry([&](IniDocument& doc) {
            const int count = storedCount(doc, section, ident);
            if (count != kNoCount)
                removeCompanions(doc, section, ident, count);
            doc.removeKey(section, ident);
        });
    });
}

void TSafeIniFile::EraseSection(const QString& section) {
    withContext("TSafeIniFile.EraseSection", [&] {
        checkSection(section);
        NamedLockHolder hold(m_lockHandle.get());
        writeWithRetry([&](IniDocument& doc) { doc.removeSection(section); });
    });
}

void TSafeIniFile::ReadSection(const QString& section, QStringList& strings) {
    withContext("TSafeIniFile.ReadSection", [&] {
        checkSection(section);
        NamedLockHolder hold(m_lockHandle.get());
        TIniFile::ReadSection(section, strings);
    });
}

void TSafeIniFile::ReadSections(QStringList& strings) {
    NamedLockHolder hold(m_lockHandle.get());
    TIniFile::ReadSections(strings);
}

void TSafeIniFile::ReadSectionValues(const QString& section, QStringList& strings) {
    withContext("TSafeIniFile.ReadSectionValues", [&] {
        checkSection(section);
        NamedLockHolder hold(m_lockHandle.get());
        TIniFile::ReadSectionValues(section, strings);
    });
}

void TSafeIniFile::UpdateFile() {
    NamedLockHolder hold(m_lockHandle.get());
    TIniFile::UpdateFile();
}

TDateTime TSafeIniFile::ReadDate(const QString& section, const QString& ident,
                                 TDateTime defaultValue) {
    const QString text = ReadString(section, ident, QString());
    return withContext("TSafeIniFile.ReadDate", [&] {
        return text.isEmpty() ? defaultValue : parseDate(text).value_or(defaultValue);
    });
}

TDateTime TSafeIniFile::ReadTime(const QString& section, const QString& ident,
                                 TDateTime defaultValue) {
    const QString text = ReadString(section, ident, QString());
    return withContext("TSafeIniFile.ReadTime", [&] {
        return text.isEmpty() ? defaultValue : parseTime(text).value_or(defaultValue);
    });
}

TDateTime TSafeIniFile::ReadDateTime(const QString& section, const QString& ident,
                                     TDateTime defaultValue) {
    const QString text = ReadString(section, ident, QString());
    return withContext("TSafeIniFile.ReadDateTime", [&] {
        return text.isEmpty() ? defaultValue : parseDateTime(text).value_or(defaultValue);
    });
}

double TSafeIniFile::ReadFloat(const QString& section, const QString& ident, double defaultValue) {
    const QString text = ReadString(section, ident, QString());
    return withContext("TSafeIniFile.ReadFloat", [&] {
        return text.isEmpty() ? defaultValue : parseFloat(text).value_or(defaultValue);
    });
}

void TSafeIniFile::WriteDate(const QString& section, const QString& ident, TDateTime value) {
    withContext("TSafeIniFile.WriteDate", [&] {
        WriteString(
            section, ident,
            formatDateTime(IniFormatSettings().shortDateFormat, value, IniFormatSettings()));
    });
}

void TSafeIniFile::WriteTime(const QString& section, const QString& ident, TDateTime value) {
    withContext("TSafeIniFile.WriteTime", [&] {
        WriteString(section, ident,
                    formatDateTime(IniFormatSettings().longTimeFormat, value, IniFormatSettings()));
    });
}

void TSafeIniFile::WriteDateTime(const QString& section, const QString& ident, TDateTime value) {
    withContext("TSafeIniFile.WriteDateTime", [&] {
        WriteString(section, ident,
                    formatDateTime(QStringLiteral("c"), value, IniFormatSettings()));
    });
}

void TSafeIniFile::WriteFloat(const QString& section, const QString& ident, double value) {
    withContext("TSafeIniFile.WriteFloat", [&] {
        WriteString(section, ident, floatToStrGeneral(value, 15, IniFormatSettings()));
    });
}
