#pragma once

#include <functional>

// In-memory stand-ins for the platform interfaces, so capture and paste logic runs without a
// desktop. Each records what was asked of it; `log` (when set) interleaves the calls of
// several fakes so tests can check their order.

#include "platform/HotKeyRegistrar.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "prefs/HotKeys.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QTest>

class FakePasteboard : public Pasteboard
{
public:
    ItemList items;
    qint64 count = 0;
    int offers = 0; // looks at the offer
    int reads = 0;  // of them, those that transferred content
    int writes = 0;
    bool owned = false; // whether the last change was a write of ours
    ItemList primary;

    // Runs as a read begins, on the reading thread: an owner that takes its time.
    std::function<void()> onRead;

    bool announces = false; // like X11 with XFixes: no poll needed
    qint64 changeCount() const override { return count; }
    bool announcesChanges() const override { return announces; }

    std::optional<Offer> readOffer(const QStringList &wantedUtis, const TypeCheck &accept) override
    {
        ++offers;
        if (onRead)
            onRead();
        if (items.isEmpty())
            return std::nullopt;
        Offer offer;
        for (const FlavorList &item : items) {
            for (const Flavor &f : item) {
                if (!offer.types.contains(f.uti))
                    offer.types.append(f.uti);
            }
        }
        if (!accept || !accept(offer.types))
            return offer;
        ++reads;
        for (const FlavorList &item : items) {
            FlavorList kept;
            for (const Flavor &f : item) {
                if (wantedUtis.contains(f.uti))
                    kept.append(f);
            }
            offer.items.append(kept);
        }
        return offer;
    }

    // Like the X11 clipboard: our own writes are changes too, announced at once.
    bool write(const ItemList &written) override
    {
        ++writes;
        copy(written, true);
        owned = true;
        return true;
    }
    bool ownsClipboard() const override { return owned; }
    bool writePrimary(const ItemList &written) override
    {
        primary = written;
        return true;
    }

    // Another application copies.
    void copy(const ItemList &offer, bool announce = false)
    {
        items = offer;
        owned = false;
        ++count;
        if (announce)
            Q_EMIT changed();
    }
    void copyText(const QString &text, bool announce = false)
    {
        copy({FlavorList{Flavor{Uti::plainText, text.toUtf8()}}}, announce);
    }
};

class FakeWorkspace : public Workspace
{
public:
    std::optional<AppInfo> app =
        AppInfo{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 4242};
    quint64 active = 7;
    QHash<quint64, QString> classes;
    QStringList *log = nullptr;

    std::optional<AppInfo> activeApplication() override { return app; }
    quint64 activeWindow() override { return active; }
    void activateWindow(quint64 window) override
    {
        active = window;
        if (log)
            log->append(QStringLiteral("activate %1").arg(window));
    }
    QString windowClass(quint64 window) override { return classes.value(window); }

    void sleep() { Q_EMIT aboutToSleep(); }
    void wake() { Q_EMIT resumed(); }
};

// Sends at once, as the real one does when no modifier is held; `holdStrokes` keeps them
// waiting (a modifier still held) until release() lets the first one go.
class FakeKeySynthesizer : public KeySynthesizer
{
public:
    bool canSend = true;
    bool holdStrokes = false;
    QList<PasteKey> strokes; // one entry per stroke sent
    QStringList *log = nullptr;

    bool canSendKeys() const override { return canSend; }
    void sendPasteKeystroke(PasteKey key, std::function<void(bool)> done) override
    {
        m_waiting.append({key, std::move(done)});
        if (!holdStrokes)
            release();
    }
    int waiting() const { return int(m_waiting.size()); }
    void release()
    {
        while (!m_waiting.isEmpty()) {
            const auto [key, done] = m_waiting.takeFirst();
            strokes.append(key);
            if (log)
                log->append(PasteKeys::label(key));
            if (done)
                done(true);
            if (holdStrokes)
                return;
        }
    }

private:
    QList<std::pair<PasteKey, std::function<void(bool)>>> m_waiting;
};

// Grabs in memory; refuses what cannot be labelled and the labels it is told are taken, and
// a combination it already holds, as a real window system does.
class FakeHotKeyRegistrar : public HotKeyRegistrar
{
public:
    static constexpr int TakenError = 10; // BadAccess

    QSet<QString> taken;
    QMap<QString, quint32> held; // label → handle
    Route routeNow = Route::Grab;
    QMap<QString, QString> assigned; // label → the keys the desktop describes

    Route route() const override { return routeNow; }
    QString assignedKeys(quint32 handle) const override { return assigned.value(held.key(handle)); }

    Grab grab(QKeyCombination keys) override
    {
        const QString label = HotKeys::label(keys);
        if (label.isEmpty() || taken.contains(label))
            return {0, GrabStatus::Refused, TakenError};
        if (held.contains(label))
            return {0, GrabStatus::AlreadyHeld};
        held.insert(label, m_next);
        return {m_next++, GrabStatus::Granted};
    }
    void release(quint32 handle) override { held.remove(held.key(handle)); }

    void press(const QString &label)
    {
        QVERIFY2(held.contains(label), qPrintable(QStringLiteral("not held: ") + label));
        Q_EMIT pressed(held.value(label));
    }

private:
    quint32 m_next = 100;
};
