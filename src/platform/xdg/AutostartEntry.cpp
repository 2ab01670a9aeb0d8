#include "platform/xdg/AutostartEntry.h"

#include "platform/xdg/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace AutostartEntry {

QString defaultPath(const QString &fileName)
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/") + fileName;
}

bool isEnabled(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QString hidden =
        DesktopEntry::value(QString::fromUtf8(file.read(1 << 20)), QStringLiteral("Hidden"));
    return hidden.trimmed().compare(u"true", Qt::CaseInsensitive) != 0;
}

bool write(const QString &path, const QString &text, QString *error)
{
    return DesktopEntry::writeFile(path, text, error);
}

bool remove(const QString &path, QString *error)
{
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return true;
    if (file.remove())
        return true;
    *error = QStringLiteral("cannot remove ") + path + QStringLiteral(": ") + file.errorString();
    return false;
}

} // namespace AutostartEntry
