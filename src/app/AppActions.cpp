#include "app/AppActions.h"

#include "app/LoginItem.h"
#include "app/StatusMenu.h"
#include "paste/SerialPaste.h"
#include "prefs/Prefs.h"

#include <QAction>
#include <QCoreApplication>

AppActions::AppActions(Prefs &prefs, SerialPaste &serial, LoginItem &loginItem,
                       std::function<bool()> canSendKeys, QObject *parent)
    : QObject(parent), m_prefs(prefs), m_serial(serial), m_loginItem(loginItem),
      m_canSendKeys(std::move(canSendKeys))
{
    m_showClipboard = make(QString());
    m_pauseClipping = make(QString(), true);
    m_plainTextMode = make(QStringLiteral("Plain-Text Mode"), true);
    m_stripFormatting = make(QStringLiteral("Strip Formatting on Pasteboard"));
    m_serialRecording = make(QString());
    m_serialPasteNext = make(QString());
    m_serialClear = make(QStringLiteral("Serial Paste: Clear Queue"));
    m_enableAutoPaste = make(QStringLiteral("⚠️ Enable Auto-Paste…"));
    m_launchAtLogin = make(QStringLiteral("Launch at Login"), true);
    m_importCopyLess = make(QStringLiteral("Import from CopyLess 2…"));
    m_openSettings = make(QStringLiteral("Settings…"));
    m_openSettings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_showAbout = make(QStringLiteral("About Ulvane"));
    m_quit = make(QStringLiteral("Quit Ulvane"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    // Toggles act on the state as it is now, not on the check mark a menu flipped on its way:
    // the state may have changed since the menu last showed it.
    connect(m_pauseClipping, &QAction::triggered, this,
            [this] { m_prefs.setPaused(!m_prefs.paused()); });
    connect(m_plainTextMode, &QAction::triggered, this,
            [this] { m_prefs.setPlainTextMode(!m_prefs.plainTextMode()); });
    connect(m_serialRecording, &QAction::triggered, &m_serial, &SerialPaste::toggleRecording);
    connect(m_serialPasteNext, &QAction::triggered, &m_serial, &SerialPaste::pasteNext);
    connect(m_serialClear, &QAction::triggered, &m_serial, &SerialPaste::clear);
    connect(m_launchAtLogin, &QAction::triggered, this,
            [this] { m_loginItem.set(!m_loginItem.isEnabled()); });
    connect(m_quit, &QAction::triggered, qApp, &QCoreApplication::quit);
    refresh();
}

AppActions::~AppActions() = default;

QAction *AppActions::make(const QString &text, bool checkable)
{
    auto *action = new QAction(text, this);
    action->setCheckable(checkable);
    return action;
}

void AppActions::refresh()
{
    m_showClipboard->setText(StatusMenu::showTitle(Prefs::activeHotkeyLabel()));
    const bool paused = m_prefs.paused();
    m_pauseClipping->setText(paused ? QStringLiteral("Resume Clipping")
                                    : QStringLiteral("Pause Clipping"));
    m_pauseClipping->setChecked(paused);
    m_plainTextMode->setChecked(m_prefs.plainTextMode());
    m_serialRecording->setText(m_serial.isRecording()
                                   ? QStringLiteral("Serial Paste: Stop Recording")
                                   : QStringLiteral("Serial Paste: Start Recording"));
    const int queued = m_serial.queueLength();
    m_serialPasteNext->setText(QStringLiteral("Serial Paste: Paste Next (%1 left)").arg(queued));
    m_serialPasteNext->setVisible(queued > 0);
    m_serialClear->setVisible(queued > 0);
    refreshAutoPaste();
    m_launchAtLogin->setChecked(m_loginItem.isEnabled());
}

void AppActions::refreshAutoPaste()
{
    m_enableAutoPaste->setVisible(m_canSendKeys && !m_canSendKeys());
}
