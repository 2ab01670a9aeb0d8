#include "paste/PasteService.h"

#include "core/InstallLayout.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/TerminalApps.h"
#include "platform/Workspace.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QUrl>

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
{}

void PasteService::paste(const Clip &clip, bool plain, const PasteTarget &target,
                         std::optional<Transform> transform)
{
    inTurn([this, clip, plain, target, transform] {
        bool written = false;
        if (plain || transform) {
            QString text = m_store.plainText(clip.id).value_or(QString());
            if (transform)
                text = Transforms::apply(*transform, text);
            written = writePlain(text);
        } else {
            written = writeFlavors(clip);
        }
        if (!written)
            return;
        m_store.touchTop(clip.digest);
        sendPasteKeystroke(target);
    });
}

void PasteService::pasteText(const QString &text, const PasteTarget &target)
{
    inTurn([this, text, target] {
        if (writePlain(text))
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

bool PasteService::writePlain(const QString &text)
{
    return m_pasteboard.write({FlavorList{Flavor{Uti::plainText, text.toUtf8()}, markerFlavor()}});
}

bool PasteService::writeFlavors(const Clip &clip)
{
    QFile file(m_store.contentPath(clip.id));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const std::optional<PBContent> content = PBContent::fromJson(file.readAll());
    if (!content)
        return false;
    ItemList items = content->decodedItems(true);
    if (items.isEmpty())
        return false;
    items.first().append(markerFlavor());
    return m_pasteboard.write(items);
}

void PasteService::sendPasteKeystroke(const PasteTarget &target)
{
    if (!m_autoPaste || !m_autoPaste() || !m_keys.canSendKeys())
        return;
    m_strokePending = true;
    // Activated now rather than at the stroke, so the window manager has the delay to act.
    if (!target.isNull())
        m_workspace.activateWindow(target.window);
    QTimer::singleShot(keyStrokeDelayMs, this, [this, target] { sendStroke(target); });
}

void PasteService::sendStroke(const PasteTarget &target)
{
    const quint64 window = target.isNull() ? m_workspace.activeWindow() : target.window;
    // Terminal emulators take Ctrl+V as a literal control character.
    const bool terminal = window != 0 && TerminalApps::isTerminal(m_workspace.windowClass(window));
    const QPointer<PasteService> self(this);
    m_keys.sendPasteKeystroke(terminal, [self, terminal](bool sent) {
        if (!self)
            return;
        if (sent)
            Q_EMIT self->keyStrokeSent(terminal);
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
