#pragma once

#include <functional>

// In-memory stand-ins for the platform interfaces, so capture and paste logic runs without a
// desktop. Each records what was asked of it; `log` (when set) interleaves the calls of
// several fakes so tests can check their order.

#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

#include <QHash>
#include <QStringList>

class FakePasteboard : public Pasteboard
{
public:
    ItemList items;
    qint64 count = 0;
    int reads = 0;
    int writes = 0;

    // Runs as a read begins, on the reading thread: an owner that takes its time.
    std::function<void()> onRead;

    qint64 changeCount() const override { return count; }

    QStringList currentTypes() override
    {
        if (onRead)
            onRead();
        QStringList types;
        for (const FlavorList &item : items) {
            for (const Flavor &f : item) {
                if (!types.contains(f.uti))
                    types.append(f.uti);
            }
        }
        return types;
    }

    std::optional<ItemList> read(const QStringList &wantedUtis) override
    {
        ++reads;
        if (items.isEmpty())
            return std::nullopt;
        ItemList offered;
        for (const FlavorList &item : items) {
            FlavorList kept;
            for (const Flavor &f : item) {
                if (wantedUtis.contains(f.uti))
                    kept.append(f);
            }
            offered.append(kept);
        }
        return offered;
    }

    // Like the X11 clipboard: our own writes are changes too, announced at once.
    bool write(const ItemList &written) override
    {
        ++writes;
        copy(written, true);
        return true;
    }

    // Another application copies.
    void copy(const ItemList &offer, bool announce = false)
    {
        items = offer;
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

    std::optional<AppInfo> frontmostApplication() override { return app; }
    quint64 activeWindow() override { return active; }
    void activateWindow(quint64 window) override
    {
        active = window;
        if (log)
            log->append(QStringLiteral("activate %1").arg(window));
    }
    QString windowClass(quint64 window) override { return classes.value(window); }

    void sleep() { Q_EMIT willSleep(); }
    void wake() { Q_EMIT didWake(); }
};

class FakeKeySynthesizer : public KeySynthesizer
{
public:
    bool trusted = true;
    QList<bool> strokes; // one entry per stroke: whether it was the terminal variant
    QStringList *log = nullptr;

    bool isTrusted() const override { return trusted; }
    bool sendPaste(bool terminal) override
    {
        strokes.append(terminal);
        if (log)
            log->append(terminal ? QStringLiteral("terminal stroke") : QStringLiteral("stroke"));
        return true;
    }
};
