#include "platform/settings/CustomIniFile.h"

#include <limits>

TCustomIniFile::TCustomIniFile(QString fileName)
    : m_fileName(std::move(fileName)) {}

TCustomIniFile::~TCustomIniFile() = default;

bool TCustomIniFile::parseInteger(const QString& text, int* value) {
    QStringView t(text);
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.front() == QLatin1Char('-');
        t = t.mid(1);
    }
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t = t.mid(2);
    } else if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        t = t.mid(1);
    }
    if (t.isEmpty())
        return false;
    for (QChar c : t) {
        const char16_t u = c.unicode();
        const bool digit = u >= '0' && u <= '9';
        const bool hexLetter = (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (!digit && !(base == 16 && hexLetter))
            return false;
    }
    bool ok = false;
    const qlonglong magnitude = t.toLongLong(&ok, base);
    if (!ok)
        return false;
    const qlonglong signedValue = negative ? -magnitude : magnitude;
    // Hexadecimal is the bit pattern of a 32-bit number, so $FFFFFFFF reads as -1.
    if (base == 16 && !negative && magnitude <= 0xFFFFFFFFLL) {
        *value = int(quint32(magnitude));
        return true;
    }
    if (signedValue < std::numeric_limits<int>::min() ||
        signedValue > std::numeric_limits<int>::max())
        return false;
    *value = int(signedValue);
    return true;
}

int TCustomIniFile::ReadInteger(const QString& section, const QString& ident, int defaultValue) {
    const QString text = ReadString(section, ident, QString());
    int value = 0;
    return parseInteger(text, &value) ? value : defaultValue;
}

void TCustomIniFile::WriteInteger(const QString& section, const QString& ident, int value) {
    WriteString(section, ident, QString::number(value));
}

bool TCustomIniFile::ReadBool(const QString& section, const QString& ident, bool defaultValue) {
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const QString& section, const QString& ident, bool value) {
    WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TCustomIniFile::ValueExists(const QString& section, const QString& ident) {
    QStringList keys;
    ReadSection(section, keys);
    return keys.contains(ident.trimmed(), Qt::CaseInsensitive);
}
