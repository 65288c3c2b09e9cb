#pragma once

#include "platform/core/Exceptions.h"

#include <QString>
#include <QStringList>

// LibreOffice is neither on the program search path nor where its packages install it.
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

// The full path of `soffice`: found on PATH, else where LibreOffice's packages install it
// (installLocations). Throws EOfficeNotInstalled when there is none.
QString executable();

// Where `soffice` is looked for after PATH, in this order; a "*" in a folder's name stands for any
// text, and of several matches the highest version comes first. The default is the Debian
// package's /usr/lib/libreoffice/program/soffice, then LibreOffice's own packages under
// /opt/libreoffice*/program/soffice. Returns the previous list; tests set their own.
QStringList setInstallLocations(const QStringList& locations);

// One conversion: `source` is read with the import filter `importFilter` (empty: LibreOffice
// guesses) and written with `exportFilter` ("docx:MS Word 2007 XML") to `target`, which must not
// exist yet. The conversion runs in a profile of its own that no other conversion uses at the
// same time, so neither a LibreOffice the user has open nor a second export takes the job over.
// The user interface keeps painting meanwhile, without taking input. Throws EOfficeStartError
// when the program does not start, EOSError when it fails (with what LibreOffice said), produces
// nothing or takes longer than `timeoutMs` (it is killed then, with everything it started).
void convert(const QString& source, const QString& importFilter, const QString& exportFilter,
             const QString& target, int timeoutMs = 120000);

// True when a LibreOffice window can be seen: the session has a display server.
bool canShowDocuments();

// Opens `path` in LibreOffice for the user and returns at once. With `asNewDocument` the file
// serves as the template of a new, untitled document. Throws EOfficeStartError when the program
// cannot be started.
void openDocument(const QString& path, bool asNewDocument);

} // namespace OfficeLauncher
