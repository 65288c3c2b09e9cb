#pragma once

#include "platform/settings/CustomIniFile.h"
#include "platform/settings/ProfileIniFile.h"

// The toolkit's settings file over the profile-file service: every call goes straight to the file.
class TIniFile : public TCustomIniFile {
public:
    explicit TIniFile(QString fileName);

    QString ReadString(const QString& section, const QString& ident,
                       const QString& defaultValue) override;
    // Raises EIniWriteError (an INI-file error) naming the file when it cannot be written.
    void WriteString(const QString& section, const QString& ident, const QString& value) override;
    void DeleteKey(const QString& section, const QString& ident) override;
    void EraseSection(const QString& section) override;
    // The lists are cleared first.
    void ReadSection(const QString& section, QStringList& strings) override;
    void ReadSections(QStringList& strings) override;
    // "key=value" lines with the values as stored.
    void ReadSectionValues(const QString& section, QStringList& strings) override;
    void UpdateFile() override;

protected:
    ProfileIniFile& profile() { return m_profile; }

private:
    ProfileIniFile m_profile;
};
