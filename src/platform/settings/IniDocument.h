#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// One settings file in memory, read and changed the way the Windows profile functions do it:
// names of sections and keys match without regard to case, the first section and the first key of
// a name win, a value loses its outer blanks and one surrounding pair of double quotes. Lines that
// a change does not touch (other sections and keys, comments, blank lines, even bytes that are not
// text) are written back exactly as they were read.
class IniDocument {
public:
    IniDocument() = default;
    // Bytes in code page 1251; lines end in LF or CR LF.
    static IniDocument fromBytes(const QByteArray& bytes);
    // Every line ends in CR LF, as the suite's other programs write the file.
    QByteArray toBytes() const;

    // The value as the profile functions return it, without length limit; nothing for a missing
    // section or key.
    std::optional<QString> value(const QString& section, const QString& key) const;
    bool hasSection(const QString& section) const;
    QStringList sectionNames() const;
    // Key names as they stand in the file, in file order.
    QStringList keyNames(const QString& section) const;
    // Key and stored value text (outer blanks dropped, quotes kept) as they stand in the file.
    QList<std::pair<QString, QString>> storedEntries(const QString& section) const;

    // Replaces the first key of that name, or adds it after the last key of the section, or adds
    // the section at the end. Names and values that the file could not give back unchanged (line
    // breaks, "=" in a key, "]" in a section, characters outside code page 1251) raise
    // EIniFileException naming `fileName`.
    void setValue(const QString& section, const QString& key, const QString& value,
                  const QString& fileName);
    // Each returns whether the document changed.
    bool removeKey(const QString& section, const QString& key);
    bool removeSection(const QString& section);

    bool isModified() const { return m_modified; }

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        QByteArray raw;
        Kind kind = Kind::Other;
        QString name; // section or key name, trimmed, as written
    };
    struct Section {
        QString name;
        qsizetype header = 0;           // line of "[name]"
        qsizetype end = 0;              // one past its last line
        qsizetype lastKey = -1;         // last key line, -1 when none
        QHash<QString, qsizetype> keys; // case-folded name → first line
    };

    static Line parseLine(QByteArray raw);
    void reindex();
    const Section* findSection(const QString& name) const;
    qsizetype findKey(const QString& section, const QString& key) const;
    QString storedValueText(const Line& line) const;

    QList<Line> m_lines;
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex; // case-folded name → first section
    bool m_modified = false;
};
