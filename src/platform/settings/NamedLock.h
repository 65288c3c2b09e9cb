#pragma once

#include <QString>

#include <memory>

// A named lock shared by every process of the machine, of every user: the stand-in for a named
// mutex. The name is a file in /tmp, locked with flock(); the file is made readable and writable
// for everybody so that whoever comes first does not shut the others out.
//
// Within a process, all objects of one name share one open file and one recursive mutex, so the
// lock is re-entrant per thread and two objects of one name exclude each other's threads like two
// handles of one mutex would.
//
// When the name is longer than a file name may be, the object is not valid and locking it does
// nothing: its users go on without the lock. When the file exists but cannot be used (a link,
// a FIFO, another user's file closed to others), the object is not valid either, but locking it
// raises EOSError naming the lock file: nobody may switch the lock off by planting a file.
class NamedLock {
public:
    explicit NamedLock(const QString& name);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    bool isValid() const { return m_entry != nullptr; }
    const QString& name() const { return m_name; }
    // The lock file; empty when the object is not valid.
    QString filePath() const;

    // Waits without a time limit. Raises EOSError when the lock file cannot be used.
    void lock();
    void unlock();

    // The folder that holds the lock files.
    static QString lockFolder();

    struct Entry;

private:
    [[noreturn]] static void raiseUnusable(const QString& path, const QString& reason);

    QString m_name;
    std::shared_ptr<Entry> m_entry;
    QString m_failedPath;
    QString m_failure; // why a lock file in the way is unusable; empty when none or name too long
};

// Holds a NamedLock for a scope; an invalid one is held as a no-op, one that raises is not held.
class NamedLockHolder {
public:
    explicit NamedLockHolder(NamedLock* lock)
        : m_lock(lock) {
        if (m_lock)
            m_lock->lock();
    }
    ~NamedLockHolder() {
        if (m_lock)
            m_lock->unlock();
    }
    NamedLockHolder(const NamedLockHolder&) = delete;
    NamedLockHolder& operator=(const NamedLockHolder&) = delete;

private:
    NamedLock* m_lock;
};
