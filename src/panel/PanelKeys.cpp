#include "panel/PanelKeys.h"

#include "panel/ClipActions.h"
#include "panel/PanelModel.h"

#include <QKeyEvent>
#include <QStringList>

namespace PanelKeys {

QString displayLabel(const QString &label)
{
    // Leading modifier glyphs are collected and written in the order Linux desktops use.
    bool control = false;
    bool alt = false;
    bool shift = false;
    qsizetype i = 0;
    for (; i < label.size(); ++i) {
        const QChar c = label.at(i);
        if (c == u'⌘' || c == u'⌃')
            control = true;
        else if (c == u'⌥')
            alt = true;
        else if (c == u'⇧')
            shift = true;
        else
            break;
    }
    if (i == 0)
        return label;
    QStringList parts;
    if (control)
        parts.append(QStringLiteral("Ctrl"));
    if (alt)
        parts.append(QStringLiteral("Alt"));
    if (shift)
        parts.append(QStringLiteral("Shift"));
    parts.append(label.mid(i));
    return parts.join(u'+');
}

QString footerHint()
{
    const QStringList tokens = {QStringLiteral("↩ paste"),    QStringLiteral("⌥↩ plain"),
                                QStringLiteral("⌘1–9 quick"), QStringLiteral("⌘D pin"),
                                QStringLiteral("⌘I preview"), QStringLiteral("⌘⌫ delete"),
                                QStringLiteral("esc close")};
    QStringList shown;
    for (const QString &token : tokens)
        shown.append(displayLabel(token));
    return shown.join(QStringLiteral(" · "));
}

QString quickPasteLabel(int index)
{
    if (index < 0 || index >= 9)
        return {};
    return displayLabel(QStringLiteral("⌘%1").arg(index + 1));
}

} // namespace PanelKeys

PanelKeyHandler::PanelKeyHandler(PanelModel &model, ClipActions &clipActions, Actions actions)
    : m_model(model), m_clipActions(clipActions), m_actions(std::move(actions))
{}

QString PanelKeyHandler::charactersIgnoringModifiers(const QKeyEvent &event)
{
    const int key = event.key();
    const bool shift = event.modifiers() & Qt::ShiftModifier;
    // Qt reports letters as upper-case key codes whatever Shift says; Shift decides the case.
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        const QChar letter = QChar(u'a' + (key - Qt::Key_A));
        return shift ? QString(letter.toUpper()) : QString(letter);
    }
    // Other printable keys arrive already shifted (Shift+1 is '!'), which is what we want.
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return QString(QChar(key));
    return {};
}

bool PanelKeyHandler::handle(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool alt = mods & Qt::AltModifier;
    // Typing goes on to the search field and is debounced there; everything else here acts on
    // the list, which must first show what was typed (Return right after a few letters).
    const auto actsOnTheList = [&] {
        switch (event.key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return true;
        default:
            return bool(mods & Qt::ControlModifier);
        }
    };
    if (actsOnTheList())
        m_model.settlePendingSearch();
    switch (event.key()) {
    case Qt::Key_Up:
        m_model.moveSelection(-1);
        return true;
    case Qt::Key_Down:
        m_model.moveSelection(+1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (const std::optional<Clip> clip = m_model.selectedClip())
            m_clipActions.paste(*clip, alt);
        return true;
    case Qt::Key_Escape:
        if (m_model.hasPreview())
            m_model.setPreview(std::nullopt);
        else if (!m_model.query().isEmpty())
            m_model.setQuery(QString());
        else if (m_actions.hidePanel)
            m_actions.hidePanel();
        return true;
    default:
        break;
    }

    if (!(mods & Qt::ControlModifier))
        return false;
    const QString characters = charactersIgnoringModifiers(event);
    if (characters.size() == 1 && characters.at(0) >= u'1' && characters.at(0) <= u'9') {
        m_clipActions.pasteRow(characters.at(0).digitValue() - 1, alt);
        return true;
    }
    if (characters == QLatin1String("d")) {
        if (const std::optional<Clip> clip = m_model.selectedClip())
            m_clipActions.togglePin(*clip);
        return true;
    }
    if (characters == QLatin1String("i")) {
        m_model.togglePreview();
        return true;
    }
    if (characters == QLatin1String(",")) {
        if (m_actions.openSettings)
            m_actions.openSettings();
        if (m_actions.hidePanel)
            m_actions.hidePanel();
        return true;
    }
    if (event.key() == Qt::Key_Backspace) {
        if (const std::optional<Clip> clip = m_model.selectedClip())
            m_clipActions.remove(*clip);
        return true;
    }
    return false;
}
