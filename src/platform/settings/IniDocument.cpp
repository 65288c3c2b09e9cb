#include "platform/settings/IniDocument.h"

#include "platform/core/CodePage1251.h"
#include "platform/core/Exceptions.h"

#include <array>
#include <limits>

namespace {

// Offsets are 32-bit to keep the index small; the profile-file service refuses far smaller files.
constexpr qsizetype kMaxBytes = std::numeric_limits<qint32>::max() / 2;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Names and values as text and as the file's bytes are trimmed alike.
template <typename Text>
Text trimmedBlanks(Text s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.sliced(b, e - b);
}

QString trimBlanks(const QString& s) {
    return trimmedBlanks<QString>(s);
}

QByteArrayView trimBlanks(QByteArrayView s) {
    return trimmedBlanks(s);
}

// Byte to case-folded byte in code page 1251, from Qt's own case folding of each character.
const std::array<uchar, 256>& foldTable() {
    static const std::array<uchar, 256> table = [] {
        std::array<uchar, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            const QString folded = CodePage1251::decode(QByteArrayView(&c, 1)).toCaseFolded();
            const QByteArray back = CodePage1251::encode(folded);
            t[b] = back.size() == 1 && CodePage1251::decode(back) == folded ? uchar(back.at(0))
                                                                            : uchar(b);
        }
        return t;
    }();
    return table;
}

QByteArray foldBytes(QByteArrayView bytes) {
    const auto& fold = foldTable();
    QByteArray out(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = char(fold[uchar(bytes.at(i))]);
    return out;
}

// The name as the file would hold it, folded; empty (matching nothing, since names in the file are
// never empty) when the code page cannot hold it.
QByteArray foldedName(const QString& name) {
    const QString trimmed = trimBlanks(name);
    if (!CodePage1251::representable(trimmed))
        return {};
    return foldBytes(CodePage1251::encode(trimmed));
}

bool sameFolded(QByteArrayView fileName, const QByteArray& folded) {
    if (fileName.size() != folded.size() || folded.isEmpty())
        return false;
    const auto& fold = foldTable();
    for (qsizetype i = 0; i < folded.size(); ++i)
        if (fold[uchar(fileName.at(i))] != uchar(folded.at(i)))
            return false;
    return true;
}

bool startsWithFolded(QByteArrayView fileName, const QByteArray& folded) {
    return fileName.size() >= folded.size() && sameFolded(fileName.first(folded.size()), folded);
}

[[noreturn]] void refuse(const QString& fileName, const QString& what, const QString& why) {
    throw EIniFileException(
        QStringLiteral("Нельзя записать в файл %1: %2 %3").arg(fileName, what, why));
}

void checkText(const QString& text, const QString& fileName, const QString& what,
               const QString& forbidden) {
    for (QChar c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.unicode() == 0)
            refuse(fileName, what, QStringLiteral("содержит перевод строки или нулевой символ"));
        if (forbidden.contains(c))
            refuse(fileName, what, QStringLiteral("содержит недопустимый символ «%1»").arg(c));
    }
    const qsizetype bad = CodePage1251::firstUnrepresentable(text);
    if (bad >= 0)
        refuse(fileName, what,
               QStringLiteral("содержит символ U+%1, которого нет в кодовой странице 1251")
                   .arg(QString::number(text.at(bad).unicode(), 16)
                            .toUpper()
                            .rightJustified(4, QLatin1Char('0'))));
}

// The end of the line that starts at `start` and the start of the next one. CR LF, LF and a lone
// CR each end a line, as with the profile functions.
qsizetype lineEnd(const char* p, qsizetype n, qsizetype start, qsizetype* next) {
    qsizetype end = start;
    while (end < n && p[end] != '\n' && p[end] != '\r')
        ++end;
    *next = end;
    if (end < n)
        *next = p[end] == '\r' && end + 1 < n && p[end + 1] == '\n' ? end + 2 : end + 1;
    return end;
}

} // namespace

IniDocument IniDocument::fromBytes(QByteArray bytes) {
    if (bytes.size() > kMaxBytes)
        throw EIniFileException(
            QStringLiteral("Файл настроек слишком велик: %1 байт").arg(bytes.size()));
    IniDocument doc;
    doc.m_source = std::move(bytes);
    const char* p = doc.m_source.constData();
    const qsizetype n = doc.m_source.size();
    bool inSection = false;
    qsizetype start = 0;
    while (start < n) {
        qsizetype next = 0;
        const qsizetype end = lineEnd(p, n, start, &next);
        qsizetype i = start;
        while (i < end && isBlank(p[i]))
            ++i;
        std::optional<Kind> kind;
        if (i < end && p[i] == '[') {
            kind = Kind::Section;
            inSection = true;
        } else if (inSection && i < end && p[i] != ';' && p[i] != '=' &&
                   QByteArrayView(p + i, end - i).contains('=')) {
            // Keys before the first section belong to none and stay with the preamble.
            kind = Kind::Key;
        }
        if (kind) {
            if (doc.m_lines.isEmpty())
                doc.m_preambleEnd = qint32(start);
            else
                doc.m_lines.last().gapEnd = qint32(start);
            Line line;
            line.begin = qint32(start);
            line.size = qint32(end - start);
            line.gapBegin = line.gapEnd = qint32(next);
            line.kind = *kind;
            doc.m_lines.append(line);
        }
        start = next;
    }
    if (doc.m_lines.isEmpty())
        doc.m_preambleEnd = qint32(n);
    else
        doc.m_lines.last().gapEnd = qint32(n);
    return doc;
}

void IniDocument::appendLine(QByteArray& out, QByteArrayView text) const {
    out += text;
    out += "\r\n";
}

QByteArray IniDocument::toBytes() const {
    QByteArray out;
    out.reserve(m_source.size() + m_added.size() + m_source.size() / 8 + 64);
    const char* p = m_source.constData();
    auto appendGap = [&](qsizetype begin, qsizetype end) {
        while (begin < end) {
            qsizetype next = 0;
            const qsizetype stop = qMin(lineEnd(p, end, begin, &next), end);
            appendLine(out, QByteArrayView(p + begin, stop - begin));
            begin = next;
        }
    };
    appendGap(0, m_preambleEnd);
    for (const Line& line : m_lines) {
        if (line.removed == Removed::No)
            appendLine(out, text(line));
        if (line.removed != Removed::WithGap)
            appendGap(line.gapBegin, line.gapEnd);
    }
    return out;
}

QByteArrayView IniDocument::text(const Line& line) const {
    const QByteArray& store = line.added ? m_added : m_source;
    return QByteArrayView(store.constData() + line.begin, line.size);
}

QByteArrayView IniDocument::name(const Line& line) const {
    const QByteArrayView t = text(line);
    if (line.kind == Kind::Section) {
        const qsizetype open = t.indexOf('[');
        qsizetype close = t.indexOf(']', open + 1);
        if (close < 0)
            close = t.size();
        return trimBlanks(t.sliced(open + 1, close - open - 1));
    }
    return trimBlanks(t.first(t.indexOf('=')));
}

QString IniDocument::valueText(const Line& line) const {
    const QByteArrayView t = text(line);
    return trimBlanks(CodePage1251::decode(t.sliced(t.indexOf('=') + 1)));
}

qsizetype IniDocument::findSection(const QByteArray& folded, qsizetype from, qsizetype* end) const {
    for (qsizetype i = from; i < m_lines.size(); ++i) {
        const Line& line = m_lines.at(i);
        if (line.kind != Kind::Section || line.removed != Removed::No ||
            !sameFolded(name(line), folded))
            continue;
        qsizetype e = i + 1;
        while (e < m_lines.size() && m_lines.at(e).kind != Kind::Section)
            ++e;
        *end = e;
        return i;
    }
    return -1;
}

qsizetype IniDocument::findKey(const QString& section, const QString& key) const {
    qsizetype end = 0;
    const qsizetype header = findSection(foldedName(section), 0, &end);
    if (header < 0)
        return -1;
    const QByteArray folded = foldedName(key);
    for (qsizetype i = header + 1; i < end; ++i)
        if (m_lines.at(i).removed == Removed::No && sameFolded(name(m_lines.at(i)), folded))
            return i;
    return -1;
}

std::optional<QString> IniDocument::value(const QString& section, const QString& key) const {
    const qsizetype at = findKey(section, key);
    if (at < 0)
        return std::nullopt;
    QString text = valueText(m_lines.at(at));
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

bool IniDocument::hasSection(const QString& section) const {
    qsizetype end = 0;
    return findSection(foldedName(section), 0, &end) >= 0;
}

QStringList IniDocument::sectionNames() const {
    QStringList names;
    for (const Line& line : m_lines)
        if (line.kind == Kind::Section && line.removed == Removed::No)
            names.append(CodePage1251::decode(name(line)));
    return names;
}

QStringList IniDocument::keyNames(const QString& section) const {
    QStringList names;
    qsizetype end = 0;
    const qsizetype header = findSection(foldedName(section), 0, &end);
    for (qsizetype i = header + 1; header >= 0 && i < end; ++i)
        if (m_lines.at(i).removed == Removed::No)
            names.append(CodePage1251::decode(name(m_lines.at(i))));
    return names;
}

QList<std::pair<QString, QString>> IniDocument::storedEntries(const QString& section) const {
    QList<std::pair<QString, QString>> entries;
    qsizetype end = 0;
    const qsizetype header = findSection(foldedName(section), 0, &end);
    for (qsizetype i = header + 1; header >= 0 && i < end; ++i) {
        const Line& line = m_lines.at(i);
        if (line.removed == Removed::No)
            entries.append({CodePage1251::decode(name(line)), valueText(line)});
    }
    return entries;
}

void IniDocument::forEachKey(
    const QString& section, const QString& prefix,
    const std::function<void(const QString& name, const QString& value)>& visit) const {
    qsizetype end = 0;
    const qsizetype header = findSection(foldedName(section), 0, &end);
    if (header < 0 || !CodePage1251::representable(prefix))
        return;
    const QByteArray foldedPrefix = foldBytes(CodePage1251::encode(prefix));
    for (qsizetype i = header + 1; i < end; ++i) {
        const Line& line = m_lines.at(i);
        if (line.removed != Removed::No || !startsWithFolded(name(line), foldedPrefix))
            continue;
        QString text = valueText(line);
        if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) &&
            text.endsWith(QLatin1Char('"')))
            text = text.mid(1, text.size() - 2);
        visit(CodePage1251::decode(name(line)), text);
    }
}

qint32 IniDocument::addText(const QByteArray& text) {
    if (m_added.size() + text.size() > kMaxBytes)
        throw EIniFileException(QStringLiteral("Файл настроек слишком велик"));
    const auto begin = qint32(m_added.size());
    m_added += text;
    return begin;
}

void IniDocument::setValue(const QString& section, const QString& key, const QString& value,
                           const QString& fileName) {
    const QString sectionName = trimBlanks(section);
    const QString keyName = trimBlanks(key);
    if (sectionName.isEmpty() || keyName.isEmpty())
        throw EIniFileException(
            QStringLiteral("Нельзя записать в файл %1 переменную без названия секции или "
                           "переменной")
                .arg(fileName));
    checkText(sectionName, fileName, QStringLiteral("название секции «%1»").arg(sectionName),
              QStringLiteral("]"));
    checkText(keyName, fileName, QStringLiteral("название переменной «%1»").arg(keyName),
              QStringLiteral("="));
    if (keyName.startsWith(QLatin1Char('[')) || keyName.startsWith(QLatin1Char(';')))
        refuse(fileName, QStringLiteral("название переменной «%1»").arg(keyName),
               QStringLiteral("начинается с «[» или «;»"));
    checkText(value, fileName, QStringLiteral("значение переменной «%1»").arg(keyName), {});

    const qsizetype at = findKey(sectionName, keyName);
    if (at >= 0) {
        Line& line = m_lines[at];
        const QByteArray raw = name(line).toByteArray() + '=' + CodePage1251::encode(value);
        if (text(line) == raw)
            return;
        line.begin = addText(raw);
        line.size = qint32(raw.size());
        line.added = true;
        m_modified = true;
        return;
    }
    Line line;
    line.kind = Kind::Key;
    line.added = true;
    const QByteArray raw = CodePage1251::encode(keyName) + '=' + CodePage1251::encode(value);
    line.begin = addText(raw);
    line.size = qint32(raw.size());
    qsizetype end = 0;
    const qsizetype header = findSection(foldedName(sectionName), 0, &end);
    if (header >= 0) {
        qsizetype after = header;
        for (qsizetype i = end - 1; i > header; --i)
            if (m_lines.at(i).removed == Removed::No) {
                after = i;
                break;
            }
        // The new key goes right after the last one; what followed that key now follows it.
        Line& previous = m_lines[after];
        line.gapBegin = previous.gapBegin;
        line.gapEnd = previous.gapEnd;
        previous.gapBegin = previous.gapEnd;
        m_lines.insert(after + 1, line);
    } else {
        Line headerLine;
        headerLine.kind = Kind::Section;
        headerLine.added = true;
        const QByteArray headerRaw = '[' + CodePage1251::encode(sectionName) + ']';
        headerLine.begin = addText(headerRaw);
        headerLine.size = qint32(headerRaw.size());
        m_lines.append(headerLine);
        m_lines.append(line);
    }
    m_modified = true;
}

bool IniDocument::removeKey(const QString& section, const QString& key) {
    const QByteArray folded = foldedName(key);
    return removeKeys(section, key,
                      [&](const QString& found) { return foldedName(found) == folded; });
}

bool IniDocument::removeKeys(const QString& section, const QString& prefix,
                             const std::function<bool(const QString& name)>& which) {
    if (!CodePage1251::representable(prefix))
        return false;
    const QByteArray folded = foldedName(section);
    const QByteArray foldedPrefix = foldBytes(CodePage1251::encode(trimBlanks(prefix)));
    bool changed = false;
    qsizetype end = 0;
    for (qsizetype header = findSection(folded, 0, &end); header >= 0;
         header = findSection(folded, end, &end)) {
        for (qsizetype i = header + 1; i < end; ++i) {
            Line& line = m_lines[i];
            if (line.removed != Removed::No || !startsWithFolded(name(line), foldedPrefix) ||
                !which(CodePage1251::decode(name(line))))
                continue;
            line.removed = Removed::LineOnly;
            changed = true;
        }
    }
    m_modified = m_modified || changed;
    return changed;
}

bool IniDocument::removeSection(const QString& section) {
    const QByteArray folded = foldedName(section);
    bool changed = false;
    qsizetype end = 0;
    for (qsizetype header = findSection(folded, 0, &end); header >= 0;
         header = findSection(folded, end, &end)) {
        for (qsizetype i = header; i < end; ++i)
            m_lines[i].removed = Removed::WithGap;
        changed = true;
    }
    m_modified = m_modified || changed;
    return changed;
}
