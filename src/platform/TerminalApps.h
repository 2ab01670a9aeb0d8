#pragma once

#include <QString>

// Terminal emulators paste with Ctrl+Shift+V instead of Ctrl+V. The one list of them.
namespace TerminalApps {
// `windowClass` is WM_CLASS's class or instance name; compared without regard to case.
bool isTerminal(const QString &windowClass);
} // namespace TerminalApps
