#pragma once

#include "platform/core/Exceptions.h"

#include <QString>
#include <QStringList>

// LibreOffice is not on the program search path.
class EOfficeNotInstalled : public ExceptionClass<EOfficeNotInstalled, EOSError> {
public:
    using ExceptionClass::ExceptionClass;
    QString className() const override { return QStringLiteral("EOfficeNotInstalled"); }
};

// LibreOffice is there but its program could not be started at all.
class EOfficeStartError : public ExceptionClass<EOfficeStartError, EOSError> {
public:
    using ExceptionClass::ExceptionClass;
    QString className() const override { return QStringLiteral("EOfficeStartError"); }
};

// The workstation's office suite, LibreOffice, driven through its program `soffice`: documents
// are converted by a headless instance of its own and then opened for the user in the suite's
// usual window.
namespace OfficeLauncher {

// The full path of `soffice` found on PATH. Throws EOfficeNotInstalled when there is none.
QString executable();

// One conversion: `source` is read with the import filter `importFilter` (empty: LibreOffice
// guesses) and written with `exportFilter` ("docx:MS Word 2007 XML") to `target`, which must not
// exist yet. The conversion runs in a private profile, so a LibreOffice the user has open neither
// takes the job over nor is disturbed by it. Throws EOfficeStartError when the program does not
// start, EOSError when it fails, produces nothing or takes longer than `timeoutMs` (it is killed
// then, with everything it started).
void convert(const QString& source, const QString& importFilter, const QString& exportFilter,
             const QString& target, int timeoutMs = 120000);

// True when a LibreOffice window can be seen: the session has a display server.
bool canShowDocuments();

// Opens `path` in LibreOffice for the user and returns at once. With `asNewDocument` the file
// serves as the template of a new, untitled document. Throws EOfficeStartError when the program
// cannot be started.
void openDocument(const QString& path, bool asNewDocument);

} // namespace OfficeLauncher
