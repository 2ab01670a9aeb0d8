#pragma once

#include "platform/KeySynthesizer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

class WaylandConnection;
struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

// The paste key stroke through a virtual keyboard (wlroots desktops), on a connection of its
// own. One keyboard with a full keymap serves the whole session: a keyboard made per stroke
// makes clients re-read the keymap and drop the first key meanwhile. The stroke goes to
// whichever window has the focus when it is sent.
class WaylandKeySynthesizer : public QObject, public KeySynthesizer
{
    Q_OBJECT

public:
    // GTK windows drop keys that arrive within this long of gaining the focus, and nothing
    // tells a Wayland client that the user has let go of the hot key: each stroke waits.
    static constexpr int focusSettleMs = 300;

    explicit WaylandKeySynthesizer(QObject *parent = nullptr);
    ~WaylandKeySynthesizer() override;

    bool canSendKeys() const override { return m_keyboard != nullptr; }
    void sendPasteKeystroke(PasteKey key, std::function<void(bool sent)> done) override;

private:
    struct Stroke
    {
        PasteKey key = PasteKey::ControlV;
        std::function<void(bool)> done;
    };

    bool createKeyboard();
    void sendFirst();
    void press(quint32 evdevCode, bool down);
    void setModifiers(quint32 depressed);

    // Declared first, so it closes after every proxy made on it is gone.
    std::unique_ptr<WaylandConnection> m_connection;
    wl_seat *m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1 *m_manager = nullptr;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    QList<Stroke> m_queue; // the first one is waiting to be sent
    QTimer m_settle;
    QElapsedTimer m_clock;
};
