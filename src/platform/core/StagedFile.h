#pragma once

#include <QByteArray>
#include <QString>

// A file that is written whole, as a new file: under a temporary name in its own folder, synced
// to the disk, and only then renamed to its name. A link planted at the name is replaced instead
// of written through, and a write that did not complete (a full disk, a file size limit, a folder
// in the way) leaves whatever was there before and no partial file.
//
// Every failure is an EOSError "Не удалось записать файл <name>: <reason>" in the user's words.
class StagedFile {
public:
    // Creates the temporary file beside `path`, with the mode a new file of the user gets.
    explicit StagedFile(const QString& path);
    // Removes the temporary file unless it was committed.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    QString path() const { return m_path; }
    // Where the content goes until the commit; another writer (a printer) may write it by name.
    QString temporaryPath() const { return m_temporary; }

    // Appends to the temporary file.
    void write(const QByteArray& bytes);
    // Syncs the temporary file and gives it the final name.
    void commit();
    // The content did not come out whole although no write reported it (a writer that does not
    // check its writes): finds out why by trying to extend the file, and throws with that reason.
    [[noreturn]] void failIncomplete();

private:
    [[noreturn]] void fail(int osError) const;

    QString m_path;
    QString m_temporary;
    int m_fd = -1;
    bool m_committed = false;
};

// Writes `bytes` as the file `path` (see StagedFile).
void writeWholeFile(const QString& path, const QByteArray& bytes);

// Moves the file `from` to `to`, replacing what is there; across file systems the content is
// written as a StagedFile and `from` removed afterwards.
void moveWholeFile(const QString& from, const QString& to);
