#include "platform/PasteKeys.h"

#include <QStringList>

namespace PasteKeys {

namespace {

// WM_CLASS class or instance names, lower case. Several emulators set a reverse-DNS
// application id as their class, so both forms are listed.
const QStringList &controlShiftVTerminals()
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
        // st binds Ctrl+Shift+V to the clipboard (Shift+Insert to the primary selection).
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("sakura"),
        QStringLiteral("guake"),
        QStringLiteral("terminology"),
        QStringLiteral("cool-retro-term"),
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
    };
    return list;
}

// Terminals whose only default paste key is Shift+Insert, which inserts the primary
// selection: xterm binds nothing to the clipboard, and in rxvt-unicode Ctrl+Shift starts
// its Unicode character entry.
const QStringList &shiftInsertTerminals()
{
    static const QStringList list = {
        QStringLiteral("xterm"), QStringLiteral("uxterm"),       QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),  QStringLiteral("rxvt-unicode"), QStringLiteral("eterm"),
        QStringLiteral("aterm"),
    };
    return list;
}

} // namespace

PasteKey forWindowClass(const QString &windowClass)
{
    const QString name = windowClass.trimmed();
    if (name.isEmpty())
        return PasteKey::ControlV;
    if (shiftInsertTerminals().contains(name, Qt::CaseInsensitive))
        return PasteKey::ShiftInsert;
    if (controlShiftVTerminals().contains(name, Qt::CaseInsensitive))
        return PasteKey::ControlShiftV;
    return PasteKey::ControlV;
}

QString label(PasteKey key)
{
    switch (key) {
    case PasteKey::ControlV:
        break;
    case PasteKey::ControlShiftV:
        return QStringLiteral("Ctrl+Shift+V");
    case PasteKey::ShiftInsert:
        return QStringLiteral("Shift+Insert");
    }
    return QStringLiteral("Ctrl+V");
}

} // namespace PasteKeys
