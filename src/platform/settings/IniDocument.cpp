#include "platform/settings/IniDocument.h"

#include "platform/core/CodePage1251.h"
#include "platform/core/Exceptions.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString trimBlanks(const QString& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

QString folded(const QString& name) {
    return trimBlanks(name).toCaseFolded();
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

} // namespace

IniDocument::Line IniDocument::parseLine(QByteArray raw) {
    Line line;
    line.raw = std::move(raw);
    const QByteArray& r = line.raw;
    qsizetype i = 0;
    while (i < r.size() && isBlank(r.at(i)))
        ++i;
    if (i == r.size() || r.at(i) == ';')
        return line;
    if (r.at(i) == '[') {
        qsizetype close = r.indexOf(']', i + 1);
        if (close < 0)
            close = r.size();
        line.kind = Kind::Section;
        line.name = trimBlanks(CodePage1251::decode(r.mid(i + 1, close - i - 1)));
        return line;
    }
    const qsizetype eq = r.indexOf('=', i);
    if (eq < 0)
        return line;
    line.name = trimBlanks(CodePage1251::decode(r.mid(i, eq - i)));
    line.kind = line.name.isEmpty() ? Kind::Other : Kind::Key;
    return line;
}

IniDocument IniDocument::fromBytes(const QByteArray& bytes) {
    IniDocument doc;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        const qsizetype next = end < 0 ? bytes.size() : end + 1;
        if (end < 0)
            end = bytes.size();
        qsizetype stop = end;
        if (stop > start && bytes.at(stop - 1) == '\r')
            --stop;
        doc.m_lines.append(parseLine(bytes.mid(start, stop - start)));
        start = next;
    }
    doc.reindex();
    return doc;
}

QByteArray IniDocument::toBytes() const {
    qsizetype size = 0;
    for (const Line& line : m_lines)
        size += line.raw.size() + 2;
    QByteArray out;
    out.reserve(size);
    for (const Line& line : m_lines) {
        out += line.raw;
        out += "\r\n";
    }
    return out;
}

void IniDocument::reindex() {
    m_sections.clear();
    m_sectionIndex.clear();
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines.at(i);
        if (line.kind == Kind::Section) {
            if (!m_sections.isEmpty())
                m_sections.last().end = i;
            Section s;
            s.name = line.name;
            s.header = i;
            m_sections.append(s);
        } else if (line.kind == Kind::Key && !m_sections.isEmpty()) {
            m_sections.last().lastKey = i;
        }
    }
    if (!m_sections.isEmpty())
        m_sections.last().end = m_lines.size();
    // Filled backwards because QHash::insert keeps the last duplicate and the profile functions
    // see the first one.
    for (qsizetype i = m_sections.size() - 1; i >= 0; --i) {
        m_sectionIndex.insert(m_sections.at(i).name.toCaseFolded(), i);
        Section& s = m_sections[i];
        for (qsizetype k = s.end - 1; k > s.header; --k)
            if (m_lines.at(k).kind == Kind::Key)
                s.keys.insert(m_lines.at(k).name.toCaseFolded(), k);
    }
}

const IniDocument::Section* IniDocument::findSection(const QString& name) const {
    const auto it = m_sectionIndex.constFind(folded(name));
    return it == m_sectionIndex.cend() ? nullptr : &m_sections.at(*it);
}

qsizetype IniDocument::findKey(const QString& section, const QString& key) const {
    const Section* s = findSection(section);
    if (!s)
        return -1;
    return s->keys.value(folded(key), -1);
}

QString IniDocument::storedValueText(const Line& line) const {
    const qsizetype eq = line.raw.indexOf('=');
    return trimBlanks(CodePage1251::decode(line.raw.mid(eq + 1)));
}

std::optional<QString> IniDocument::value(const QString& section, const QString& key) const {
    const qsizetype at = findKey(section, key);
    if (at < 0)
        return std::nullopt;
    QString text = storedValueText(m_lines.at(at));
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

bool IniDocument::hasSection(const QString& section) const {
    return findSection(section) != nullptr;
}

QStringList IniDocument::sectionNames() const {
    QStringList names;
    for (const Section& s : m_sections)
        names.append(s.name);
    return names;
}

QStringList IniDocument::keyNames(const QString& section) const {
    QStringList names;
    for (const auto& [key, value] : storedEntries(section))
        names.append(key);
    return names;
}

QList<std::pair<QString, QString>> IniDocument::storedEntries(const QString& section) const {
    QList<std::pair<QString, QString>> entries;
    const Section* s = findSection(section);
    if (!s)
        return entries;
    for (qsizetype i = s->header + 1; i < s->end; ++i) {
        const Line& line = m_lines.at(i);
        if (line.kind == Kind::Key)
            entries.append({line.name, storedValueText(line)});
    }
    return entries;
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
        const QByteArray raw = CodePage1251::encode(line.name) + '=' + CodePage1251::encode(value);
        if (raw == line.raw)
            return;
        line.raw = raw;
        m_modified = true;
        return;
    }
    Line line;
    line.kind = Kind::Key;
    line.name = keyName;
    line.raw = CodePage1251::encode(keyName) + '=' + CodePage1251::encode(value);
    if (const Section* s = findSection(sectionName)) {
        m_lines.insert((s->lastKey >= 0 ? s->lastKey : s->header) + 1, line);
    } else {
        Line header;
        header.kind = Kind::Section;
        header.name = sectionName;
        header.raw = '[' + CodePage1251::encode(sectionName) + ']';
        m_lines.append(header);
        m_lines.append(line);
    }
    m_modified = true;
    reindex();
}

bool IniDocument::removeKey(const QString& section, const QString& key) {
    const qsizetype at = findKey(section, key);
    if (at < 0)
        return false;
    m_lines.removeAt(at);
    m_modified = true;
    reindex();
    return true;
}

bool IniDocument::removeSection(const QString& section) {
    const Section* s = findSection(section);
    if (!s)
        return false;
    m_lines.remove(s->header, s->end - s->header);
    m_modified = true;
    reindex();
    return true;
}
