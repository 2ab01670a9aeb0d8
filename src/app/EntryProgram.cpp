#include "app/EntryProgram.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace EntryProgram {

QString forExecutable(const QString &executable, const QStringList &searchPaths)
{
    const QFileInfo binary(executable);
    const QString found = QStandardPaths::findExecutable(binary.fileName(), searchPaths);
    if (!found.isEmpty() && QFileInfo(found).canonicalFilePath() == binary.canonicalFilePath())
        return binary.fileName();
    return binary.absoluteFilePath();
}

QString current()
{
    // An empty list means $PATH to findExecutable.
    return forExecutable(QCoreApplication::applicationFilePath(), {});
}

bool canStart(const QString &execValue, const QStringList &searchPaths)
{
    const QString program = QProcess::splitCommand(execValue).value(0);
    if (program.isEmpty())
        return false;
    if (!program.contains(u'/'))
        return !QStandardPaths::findExecutable(program, searchPaths).isEmpty();
    const QFileInfo file(program);
    return file.isFile() && file.isExecutable();
}

bool canStart(const QString &execValue)
{
    return canStart(execValue, {});
}

} // namespace EntryProgram
