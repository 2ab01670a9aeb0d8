#pragma once

#include "core/Clip.h"
#include "core/Flavor.h"
#include "paste/Transforms.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class KeySynthesizer;
class Pasteboard;
class Store;
class Workspace;

// Puts a history entry back on the clipboard and, when allowed, pastes it into the window the
// user was working in. Every write carries the self marker so the monitor never stores it
// again.
class PasteService : public QObject
{
    Q_OBJECT

public:
    static constexpr int keyStrokeDelayMs = 80;

    PasteService(Pasteboard &pasteboard, KeySynthesizer &keys, Workspace &workspace, Store &store,
                 std::function<bool()> autoPaste, QObject *parent = nullptr);

    // Writes the entry (its plain text when `plain` or a transform is given, else every stored
    // flavor), moves it to the top and pastes it. When nothing could be written the entry
    // stays where it is and no key stroke is sent: pasting stale contents is worse than none.
    void paste(const Clip &clip, bool plain, std::optional<Transform> transform = std::nullopt);
    bool writePlain(const QString &text);
    // False, with the clipboard untouched, when the entry's content is missing or unreadable.
    bool writeFlavors(const Clip &clip);

    // Schedules the paste stroke when auto-paste is on and strokes can be delivered.
    void sendCmdVIfPossible();
    void synthesizeCmdV();

    // The window that was active when the picker opened. X11 focus moves to the picker, so
    // the window is activated again before the next stroke; used once, then forgotten, so a
    // later paste without the picker goes to whatever is active then.
    void setTargetWindow(quint64 window) { m_targetWindow = window; }
    quint64 targetWindow() const { return m_targetWindow; }

    // X11 needs no permission for synthetic keys; both actions lead to the README's help on
    // auto-paste.
    static void requestAccess();
    static void openAXSettings();
    // The README section that explains auto-paste, or an empty URL when no README is found.
    static QUrl helpUrl();

Q_SIGNALS:
    // After a stroke was handed to the key synthesizer.
    void keyStrokeSent(bool terminal);

private:
    Pasteboard &m_pasteboard;
    KeySynthesizer &m_keys;
    Workspace &m_workspace;
    Store &m_store;
    std::function<bool()> m_autoPaste;
    quint64 m_targetWindow = 0;
    quint64 m_strokeWindow = 0;
};
