#pragma once

#include <QString>

// Diagnostic lines for the system log: one line per message on standard error, prefixed
// "ulvane[pid]: ". Callers keep their bracketed component tags ("[Store] ...").
namespace Log {
void line(const QString &message);
}
