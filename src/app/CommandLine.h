#pragma once

#include "launcher/CommandWords.h"

#include <QString>
#include <QStringList>

// The commands the application runs. The words are read by CommandWords, the same reading the
// launcher does; `--show` and `--version` are answered there and never reach these.
namespace CommandLine {

using Mode = CommandWords::Mode;

struct Command
{
    Mode mode = Mode::Start;
    QString value; // the style name for SetIcon
};

Command parse(const QStringList &arguments);

// Usage needs no application object and touches nothing: it runs before one exists.
int runHelp();

// The jobs; each prints its result to standard output and returns the exit status.
int runStats();
int runSetIcon(const QString &styleName);
int runImportCopyLess();

// One line on standard output.
void printLine(const QString &line);

} // namespace CommandLine
