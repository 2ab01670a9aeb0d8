#include "paste/PasteService.h"

#include "core/InstallLayout.h"
#include "core/Log.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {
Flavor markerFlavor()
{
    return Flavor{Uti::selfMarker, QByteArray(1, '\x01')};
}
} // namespace

PasteService::PasteService(Pasteboard &pasteboard, KeySynthesizer &keys, Workspace &workspace,
                           Store &store, std::function<bool()> autoPaste, QObject *parent)
    : QObject(parent), m_pasteboard(pasteboard), m_keys(keys), m_workspace(workspace),
      m_store(store), m_autoPaste(std::move(autoPaste))
{
    m_reader.setMaxThreadCount(1);
}

void PasteService::paste(const Clip &clip, bool plain, const PasteTarget &target,
                         std::optional<Transform> transform)
{
    inTurn([this, clip, plain, target, transform] {
        std::optional<ItemList> items;
        if (plain || transform) {
            QString text = m_store.plainText(clip.id).value_or(QString());
            if (transform)
                text = Transforms::apply(*transform, text);
            items = plainItems(text);
        } else {
            items = storedItems(clip);
        }
        if (!items || !writeForPaste(*items, target))
            return;
        m_store.touchTop(clip.digest);
        sendPasteKeystroke(target);
    });
}

void PasteService::pasteText(const QString &text, const PasteTarget &target)
{
    inTurn([this, text, target] {
        if (writeForPaste(plainItems(text), target))
            sendPasteKeystroke(target);
    });
}

void PasteService::inTurn(std::function<void()> job)
{
    if (m_strokePending) {
        m_waiting.append(std::move(job));
        return;
    }
    job();
}

ItemList PasteService::plainItems(const QString &text)
{
    return {FlavorList{Flavor{Uti::plainText, text.toUtf8()}, markerFlavor()}};
}

std::optional<ItemList> PasteService::storedItems(const Clip &clip) const
{
    QFile file(m_store.contentPath(clip.id));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<PBContent> content = PBContent::fromJson(file.readAll());
    if (!content)
        return std::nullopt;
    ItemList items = content->decodedItems(true);
    if (items.isEmpty())
        return std::nullopt;
    items.first().append(markerFlavor());
    return items;
}

bool PasteService::writePlain(const QString &text)
{
    return m_pasteboard.write(plainItems(text));
}

bool PasteService::writeFlavors(const Clip &clip)
{
    const std::optional<ItemList> items = storedItems(clip);
    return items && m_pasteboard.write(*items);
}

void PasteService::stripFormatting()
{
    if (m_pasteboard.ownsClipboard()) {
        writePlainOf(m_pasteboard.read({Uti::plainText}));
        return;
    }
    m_reader.start([this] {
        const std::optional<ItemList> items = m_pasteboard.read({Uti::plainText});
        QMetaObject::invokeMethod(this, [this, items] { writePlainOf(items); });
    });
}

void PasteService::writePlainOf(const std::optional<ItemList> &items)
{
    const FlavorList flat = items ? Flavors::flatten(*items) : FlavorList();
    const auto text = std::find_if(flat.cbegin(), flat.cend(),
                                   [](const Flavor &f) { return f.uti == Uti::plainText; });
    if (text != flat.cend() && !text->data.isEmpty())
        writePlain(QString::fromUtf8(text->data));
}

bool PasteService::writeForPaste(const ItemList &items, const PasteTarget &target)
{
    if (!m_pasteboard.write(items))
        return false;
    // A terminal that pastes only the primary selection from the keyboard gets the clip
    // there too; without a stroke the primary selection stays the user's own.
    if (willSendKeys() && PasteKeys::pastesPrimary(PasteKeys::forWindowClass(targetClass(target))))
        m_pasteboard.writePrimary(items);
    return true;
}

bool PasteService::willSendKeys() const
{
    return m_autoPaste && m_autoPaste() && m_keys.canSendKeys();
}

QString PasteService::targetClass(const PasteTarget &target) const
{
    const quint64 window = target.isNull() ? m_workspace.activeWindow() : target.window;
    return window != 0 ? m_workspace.windowClass(window) : QString();
}

void PasteService::sendPasteKeystroke(const PasteTarget &target)
{
    if (!willSendKeys())
        return;
    m_strokePending = true;
    // Activated now rather than at the stroke, so the window manager has the delay to act.
    if (!target.isNull())
        m_workspace.activateWindow(target.window);
    QTimer::singleShot(keyStrokeDelayMs, this, [this, target] { sendStroke(target); });
}

void PasteService::sendStroke(const PasteTarget &target)
{
    const QString windowClass = targetClass(target);
    const PasteKey key = PasteKeys::forWindowClass(windowClass);
    const QString where = windowClass.isEmpty() ? QStringLiteral("an unnamed window") : windowClass;
    const QPointer<PasteService> self(this);
    m_keys.sendPasteKeystroke(key, [self, key, where](bool sent) {
        // One line per attempt, so a user can see which key went where.
        Log::line(QStringLiteral("[Paste] %1 %2 to %3")
                      .arg(sent ? QStringLiteral("sent") : QStringLiteral("could not send"),
                           PasteKeys::label(key), where));
        if (self)
            self->strokeDone();
    });
}

void PasteService::strokeDone()
{
    m_strokePending = false;
    while (!m_strokePending && !m_waiting.isEmpty())
        m_waiting.takeFirst()();
}

QUrl PasteService::helpUrl()
{
    for (const QString &path : InstallLayout::running().readmePaths()) {
        if (QFileInfo::exists(path)) {
            QUrl url = QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath());
            url.setFragment(QStringLiteral("auto-paste"));
            return url;
        }
    }
    return {};
}

void PasteService::openAutoPasteHelp()
{
    const QUrl url = helpUrl();
    if (url.isValid())
        QDesktopServices::openUrl(url);
}
