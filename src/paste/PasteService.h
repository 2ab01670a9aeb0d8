#pragma once

#include "core/Clip.h"
#include "core/Flavor.h"
#include "paste/Transforms.h"
#include "platform/PasteTarget.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <QList>

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
    // flavor), moves it to the top and pastes it into `target`. When nothing could be written
    // the entry stays where it is and no key stroke is sent: pasting stale contents is worse
    // than none.
    void paste(const Clip &clip, bool plain, const PasteTarget &target,
               std::optional<Transform> transform = std::nullopt);
    // Writes the text alone and pastes it into `target`; the history is left as it is.
    void pasteText(const QString &text, const PasteTarget &target);
    bool writePlain(const QString &text);
    // False, with the clipboard untouched, when the entry's content is missing or unreadable.
    bool writeFlavors(const Clip &clip);

    // Sends the paste stroke into `target` when auto-paste is on and strokes can be
    // delivered. The target is activated first, since the picker took the keyboard from it.
    void sendPasteKeystroke(const PasteTarget &target);
    // Whether a stroke is on its way; pastes asked for meanwhile wait their turn, so a stroke
    // never pastes what a later paste wrote.
    bool isStrokePending() const { return m_strokePending; }

    // Opens the README's help on auto-paste (X11 needs no permission for synthetic keys).
    static void openAutoPasteHelp();
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
    void inTurn(std::function<void()> job);
    void sendStroke(const PasteTarget &target);
    void strokeDone();

    std::function<bool()> m_autoPaste;
    bool m_strokePending = false;
    QList<std::function<void()>> m_waiting;
};
