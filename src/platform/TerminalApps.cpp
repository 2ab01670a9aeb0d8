#include "platform/TerminalApps.h"

#include <QStringList>

namespace TerminalApps {

namespace {

// WM_CLASS class or instance names of terminal emulators, lower case. Several emulators set
// a reverse-DNS application id as their class, so both forms are listed.
const QStringList &names()
{
    static const QStringList list = {
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("org.gnome.terminal"),
        QStringLiteral("kgx"),
        QStringLiteral("org.gnome.console"),
        QStringLiteral("ptyxis"),
        QStringLiteral("org.gnome.ptyxis"),
        QStringLiteral("konsole"),
        QStringLiteral("org.kde.konsole"),
        QStringLiteral("yakuake"),
        QStringLiteral("org.kde.yakuake"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("tilix"),
        QStringLiteral("com.gexperts.tilix"),
        QStringLiteral("terminator"),
        QStringLiteral("alacritty"),
        QStringLiteral("org.alacritty.alacritty"),
        QStringLiteral("kitty"),
        QStringLiteral("wezterm"),
        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("foot"),
        QStringLiteral("footclient"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("lxterminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("xterm"),
        QStringLiteral("uxterm"),
        QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),
        QStringLiteral("rxvt-unicode"),
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("sakura"),
        QStringLiteral("guake"),
        QStringLiteral("terminology"),
        QStringLiteral("cool-retro-term"),
        QStringLiteral("eterm"),
        QStringLiteral("aterm"),
        QStringLiteral("roxterm"),
        QStringLiteral("termite"),
        QStringLiteral("terminix"),
        QStringLiteral("tabby"),
        QStringLiteral("hyper"),
        QStringLiteral("blackbox"),
        QStringLiteral("com.raggesilver.blackbox"),
        QStringLiteral("contour"),
        QStringLiteral("deepin-terminal"),
        QStringLiteral("io.elementary.terminal"),
        QStringLiteral("pantheon-terminal"),
        QStringLiteral("x-terminal-emulator"),
    };
    return list;
}

} // namespace

bool isTerminal(const QString &windowClass)
{
    const QString name = windowClass.trimmed();
    if (name.isEmpty())
        return false;
    return names().contains(name, Qt::CaseInsensitive);
}

} // namespace TerminalApps
