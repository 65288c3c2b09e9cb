#pragma once

#include <QString>
#include <QTranslator>

// Qt's own texts in Russian while the object lives: the buttons and captions of the print, page
// set-up, font, file and preview dialogs and the standard buttons of message boxes, which would
// otherwise speak English in an all-Russian window. The system speaks Russian whatever the
// workstation's language, so the Russian catalogue is loaded, not the locale's. Qt looks a text
// up in the last catalogue installed first; several owners may hold one each, and removing one
// leaves the others in force.
class RussianQtTranslations {
public:
    // Installs the catalogue into the application, which must exist.
    RussianQtTranslations();
    ~RussianQtTranslations();
    RussianQtTranslations(const RussianQtTranslations&) = delete;
    RussianQtTranslations& operator=(const RussianQtTranslations&) = delete;

    // False when the catalogue is not where Qt keeps its translations (Debian's
    // qt6-translations-l10n is not installed) or there is no application to install it into.
    bool isInstalled() const { return m_installed; }
    // The catalogue's file, for a message that it is missing.
    static QString catalogueFile();

private:
    QTranslator m_translator;
    bool m_installed = false;
};
