#include "paste/PasteService.h"

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

void PasteService::paste(const Clip &clip, bool plain, std::optional<Transform> transform)
{
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
    sendCmdVIfPossible();
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

void PasteService::sendCmdVIfPossible()
{
    if (!m_autoPaste || !m_autoPaste() || !m_keys.isTrusted())
        return;
    // Activated now rather than at the stroke, so the window manager has the delay to act.
    m_strokeWindow = m_targetWindow;
    m_targetWindow = 0;
    if (m_strokeWindow != 0)
        m_workspace.activateWindow(m_strokeWindow);
    QTimer::singleShot(keyStrokeDelayMs, this, [this] { synthesizeCmdV(); });
}

void PasteService::synthesizeCmdV()
{
    const quint64 window = m_strokeWindow != 0 ? m_strokeWindow : m_workspace.activeWindow();
    m_strokeWindow = 0;
    // Terminal emulators take Ctrl+V as a literal control character.
    const bool terminal = window != 0 && TerminalApps::isTerminal(m_workspace.windowClass(window));
    if (m_keys.sendPaste(terminal))
        Q_EMIT keyStrokeSent(terminal);
}

QUrl PasteService::helpUrl()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        appDir + QStringLiteral("/README.md"),
        appDir + QStringLiteral("/../share/doc/ulvane/README.md"),
        QStringLiteral(ULVANE_SOURCE_DIR "/README.md"),
    };
    for (const QString &path : candidates) {
        if (QFileInfo::exists(path)) {
            QUrl url = QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath());
            url.setFragment(QStringLiteral("auto-paste"));
            return url;
        }
    }
    return {};
}

void PasteService::requestAccess()
{
    openAXSettings();
}

void PasteService::openAXSettings()
{
    const QUrl url = helpUrl();
    if (url.isValid())
        QDesktopServices::openUrl(url);
}
