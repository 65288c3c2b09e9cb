#include "platform/settings/CustomIniFile.h"

#include "platform/core/Exceptions.h"

#include <QIODevice>

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

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

} // namespace

int TCustomIniFile::ReadBinaryStream(const QString& section, const QString& ident,
                                     QIODevice& value) {
    const QString text = ReadString(section, ident, QString());
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    for (qsizetype i = 0; i + 1 < text.size(); i += 2) {
        const int high = hexDigit(text.at(i));
        const int low = hexDigit(text.at(i + 1));
        if (high < 0 || low < 0)
            break;
        bytes.append(char(high * 16 + low));
    }
    if (bytes.isEmpty())
        return 0;
    const qint64 start = value.pos();
    if (value.write(bytes) != bytes.size())
        throw EIniFileException(
            QStringLiteral("Не удалось записать в поток значение переменной %1 из файла %2: %3")
                .arg(ident, FileName(), value.errorString()));
    if (!value.isSequential())
        value.seek(start);
    return int(bytes.size());
}

void TCustomIniFile::WriteBinaryStream(const QString& section, const QString& ident,
                                       QIODevice& value) {
    const QByteArray bytes = value.readAll();
    WriteString(section, ident, QString::fromLatin1(bytes.toHex().toUpper()));
}
