#pragma once

#include "core/Clip.h"
#include "core/Flavor.h"
#include "paste/Transforms.h"
#include "platform/PasteKeys.h"
#include "platform/PasteTarget.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
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
    // flavor), moves it to the top and pastes it into `target` with the key that window's
    // application pastes with (a terminal that pastes only the primary selection gets the
    // entry there as well). When nothing could be written
    // the entry stays where it is and no key stroke is sent: pasting stale contents is worse
    // than none.
    void paste(const Clip &clip, bool plain, const PasteTarget &target,
               std::optional<Transform> transform = std::nullopt);
    // Writes the text alone and pastes it into `target`; the history is left as it is.
    void pasteText(const QString &text, const PasteTarget &target);
    bool writePlain(const QString &text);
    // False, with the clipboard untouched, when the entry's content is missing or unreadable.
    bool writeFlavors(const Clip &clip);

    // Rewrites the clipboard's contents as their plain text alone. Another application's
    // offer is read on a thread with the capture's time limits, so an owner that never
    // answers holds up nothing else; nothing changes when it does not answer.
    void stripFormatting();

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

private:
    Pasteboard &m_pasteboard;
    KeySynthesizer &m_keys;
    Workspace &m_workspace;
    Store &m_store;
    void inTurn(std::function<void()> job);
    static ItemList plainItems(const QString &text);
    std::optional<ItemList> storedItems(const Clip &clip) const;
    bool writeForPaste(const ItemList &items, const PasteTarget &target);
    bool willSendKeys() const;
    // The WM_CLASS of the window a stroke for `target` goes to; empty without one.
    QString targetClass(const PasteTarget &target) const;
    void sendStroke(const PasteTarget &target);
    void strokeDone();

    void writePlainOf(const std::optional<ItemList> &items);

    std::function<bool()> m_autoPaste;
    bool m_strokePending = false;
    QList<std::function<void()>> m_waiting;
    // Last, so it is destroyed first: it waits for a read still running, which uses the rest.
    QThreadPool m_reader;
};
