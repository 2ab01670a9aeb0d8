#pragma once

#include <QString>

#include <mutex>

// Held by every writer from "is this content already stored?" until its row is in, so a
// capture and an import never both add the same content: a mutex for this process's threads,
// and an flock on the Content folder for other processes writing the same store (an
// `ulvane --import-copyless` beside the running application). The flock is held only while the
// mutex is, and never by SQLite, so it cannot clash with the database's locks.
class DedupeLock
{
public:
    explicit DedupeLock(const QString &folder);
    ~DedupeLock();
    DedupeLock(const DedupeLock &) = delete;
    DedupeLock &operator=(const DedupeLock &) = delete;

    void lock();
    void unlock();

private:
    std::mutex m_mutex;
    int m_folder = -1;
};
