#include "platform/settings/IniFile.h"

TIniFile::TIniFile(QString fileName)
    : TCustomIniFile(fileName)
    , m_profile(std::move(fileName)) {}

QString TIniFile::ReadString(const QString& section, const QString& ident,
                             const QString& defaultValue) {
    return m_profile.readString(section, ident, defaultValue);
}

void TIniFile::WriteString(const QString& section, const QString& ident, const QString& value) {
    m_profile.writeString(section, ident, value);
}

void TIniFile::DeleteKey(const QString& section, const QString& ident) {
    m_profile.deleteKey(section, ident);
}

void TIniFile::EraseSection(const QString& section) {
    m_profile.eraseSection(section);
}

void TIniFile::ReadSection(const QString& section, QStringList& strings) {
    strings = m_profile.read().keyNames(section);
}

void TIniFile::ReadSections(QStringList& strings) {
    strings = m_profile.read().sectionNames();
}

void TIniFile::ReadSectionValues(const QString& section, QStringList& strings) {
    strings.clear();
    for (const auto& [key, value] : m_profile.read().storedEntries(section))
        strings.append(key + QLatin1Char('=') + value);
}

void TIniFile::UpdateFile() {
    m_profile.flush();
}
