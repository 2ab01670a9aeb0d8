#include "app/LoginItem.h"

#include "app/EntryProgram.h"
#include "core/Log.h"
#include "platform/xdg/AutostartEntry.h"
#include "platform/xdg/DesktopEntry.h"

QString LoginItem::defaultEntryPath()
{
    return AutostartEntry::defaultPath(DesktopEntry::fileName);
}

LoginItem::LoginItem() : LoginItem(defaultEntryPath(), EntryProgram::current()) {}

LoginItem::LoginItem(QString entryPath, QString executable)
    : m_entryPath(std::move(entryPath)), m_executable(std::move(executable))
{}

bool LoginItem::isEnabled() const
{
    return AutostartEntry::isEnabled(m_entryPath);
}

bool LoginItem::set(bool enabled)
{
    QString error;
    const bool done = enabled ? write(&error) : AutostartEntry::remove(m_entryPath, &error);
    if (!done)
        Log::line(QStringLiteral("[LoginItem] failed: ") + error);
    return done;
}

void LoginItem::repair()
{
    if (!isEnabled())
        return;
    const QString exec = DesktopEntry::value(
        DesktopEntry::readFile(m_entryPath).value_or(QString()), QStringLiteral("Exec"));
    if (!EntryProgram::canStart(exec))
        set(true);
}

bool LoginItem::write(QString *error) const
{
    // Written whole: an entry the desktop's settings marked Hidden=true is replaced.
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Ulvane\n"
                                        "Comment=Clipboard history, kept on this computer\n"
                                        "Exec=") +
                         DesktopEntry::execValue(m_executable) +
                         QStringLiteral("\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n");
    return AutostartEntry::write(m_entryPath, text, error);
}
