#include "platform/core/CodePage1251.h"

#include <QHash>
#include <QStringDecoder>

#include <array>

namespace {

// Both directions of the code page, taken from Qt's codec once. The settings files are parsed
// line by line and written on every change, and a codec object per line would cost more than the
// rest of the parsing together.
class Table {
public:
    Table() {
        QStringDecoder decoder("windows-1251");
        QByteArray all(256, '\0');
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const QString chars = decoder(all);
        for (int b = 0; b < 256; ++b) {
            // Should the codec be missing, bytes decode as Latin-1 rather than as nothing; the
            // settings would still round-trip, only Cyrillic would look wrong.
            const QChar c = chars.size() == 256 ? chars.at(b) : QChar(b);
            m_chars[b] = c;
            // A byte the code page leaves undefined decodes to the replacement character, which
            // must not count as representable.
            if (c != QChar::ReplacementCharacter)
                m_bytes.insert(c.unicode(), uchar(b));
        }
    }
    QChar charOf(uchar b) const { return m_chars[b]; }
    bool contains(QChar c) const { return m_bytes.contains(c.unicode()); }
    char byteOf(QChar c) const { return char(m_bytes.value(c.unicode(), uchar('?'))); }

private:
    std::array<QChar, 256> m_chars;
    QHash<char16_t, uchar> m_bytes;
};

const Table& table() {
    static const Table t;
    return t;
}

} // namespace

namespace CodePage1251 {

QString decode(QByteArrayView bytes) {
    const Table& t = table();
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* dst = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        dst[i] = t.charOf(uchar(bytes[i]));
    return out;
}

QByteArray encode(QStringView text) {
    const Table& t = table();
    QByteArray out(text.size(), Qt::Uninitialized);
    char* dst = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        dst[i] = u < 0x80 ? char(u) : t.byteOf(text[i]);
    }
    return out;
}

qsizetype firstUnrepresentable(QStringView text) {
    const Table& t = table();
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i].unicode() >= 0x80 && !t.contains(text[i]))
            return i;
    return -1;
}

bool representable(QStringView text) {
    return firstUnrepresentable(text) < 0;
}

QString toLower(QStringView text) {
    const Table& t = table();
    QString out = text.toString();
    for (QChar& c : out) {
        const QChar lower = c.toLower();
        if (lower != c && t.contains(c) && t.contains(lower))
            c = lower;
    }
    return out;
}

} // namespace CodePage1251
