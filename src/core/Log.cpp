#include "core/Log.h"

#include <cstdio>
#include <unistd.h>

namespace Log {

void line(const QString &message)
{
    // One write per line so concurrent threads never interleave inside a line.
    const QByteArray text = "ulvane[" + QByteArray::number(static_cast<qint64>(::getpid())) +
                            "]: " + message.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace Log
