#include "platform/core/QtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace {

// qtbase holds the texts of Qt Widgets, Qt GUI and Qt Print Support, every dialog the system opens.
const QString kCatalogue = QStringLiteral("qtbase_ru");

QString translationsFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

} // namespace

RussianQtTranslations::RussianQtTranslations() {
    m_installed = QCoreApplication::instance() &&
                  m_translator.load(kCatalogue, translationsFolder()) &&
                  QCoreApplication::installTranslator(&m_translator);
}

RussianQtTranslations::~RussianQtTranslations() {
    if (m_installed)
        QCoreApplication::removeTranslator(&m_translator);
}

QString RussianQtTranslations::catalogueFile() {
    return QDir(translationsFolder()).filePath(kCatalogue + QStringLiteral(".qm"));
}
