#pragma once

#include <QString>
#include <QStringList>

// The command words of the executable. Each is matched as a whole argument anywhere in the
// argument vector; the first word of this order that is present wins.
namespace CommandLine {

enum class Mode { Help, Version, SelfTest, ImportCopyLess, Stats, SetIcon, Show, Start };

struct Command
{
    Mode mode = Mode::Start;
    QString value; // the style name for SetIcon
};

Command parse(const QStringList &arguments);

// Usage and version need no application object and touch nothing: they run before one exists.
int runHelp();
int runVersion();

// The jobs; each prints its result to standard output and returns the exit status.
int runStats();
int runSetIcon(const QString &styleName);
int runShow();
int runImportCopyLess();

// One line on standard output.
void printLine(const QString &line);

} // namespace CommandLine
