#pragma once

#include <QString>
#include <QStringList>

// The program that the user's own desktop entries (launch at login, the menu entry that carries
// the chosen icon) start. They outlive the install that wrote them, so they name the program
// in the way most likely to keep working after it moves to another prefix.
namespace EntryProgram {

// The executable's file name when a search of `searchPaths` for that name finds this very
// file (the entry then follows the program from /usr/local to /usr, say), else its absolute
// path.
QString forExecutable(const QString &executable, const QStringList &searchPaths);
// The running binary, searched for on $PATH.
QString current();

// Whether an entry's Exec value still names a program that can start: a bare name found on
// `searchPaths`, or an executable file. An entry written by an install since removed fails.
bool canStart(const QString &execValue, const QStringList &searchPaths);
// The same against $PATH.
bool canStart(const QString &execValue);

} // namespace EntryProgram
