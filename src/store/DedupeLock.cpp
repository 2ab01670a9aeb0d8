#include "store/DedupeLock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

DedupeLock::DedupeLock(const QString &folder)
    : m_folder(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{}

DedupeLock::~DedupeLock()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

void DedupeLock::lock()
{
    m_mutex.lock();
    // Without the folder (or where the file system has no flock) threads are still excluded;
    // only another process could then race this one.
    if (m_folder >= 0) {
        while (::flock(m_folder, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

void DedupeLock::unlock()
{
    if (m_folder >= 0)
        ::flock(m_folder, LOCK_UN);
    m_mutex.unlock();
}
