#include "app/settings/GeneralPage.h"

#include "app/LoginItem.h"
#include "panel/FormKit.h"
#include "panel/Theme.h"
#include "prefs/Prefs.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int customRole = Qt::UserRole + 1; // marks a picker entry that only mirrors a value

// "1 000", "12 500": a space groups the thousands, as the capacity choices are written.
QString groupedNumber(int value)
{
    QString digits = QString::number(value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u' ');
    return digits;
}

} // namespace

GeneralPage::GeneralPage(Prefs &prefs, LoginItem &loginItem, QWidget *parent)
    : SettingsPage(parent), m_prefs(prefs), m_loginItem(loginItem)
{
    auto *section = new FormKit::Section(content());

    m_launchAtLogin = new FormKit::Switch(QStringLiteral("launchAtLogin"), section);
    section->addRow(QStringLiteral("Launch at login"), m_launchAtLogin);
    connect(m_launchAtLogin, &QAbstractButton::clicked, this, [this](bool on) {
        m_loginItem.set(on);
        // A failed change is only logged; the switch shows what is really in place.
        syncLoginItem();
    });

    m_autoPaste = new FormKit::Switch(QStringLiteral("autoPaste"), section);
    section->addRow(QStringLiteral("Auto-paste on select"), m_autoPaste);
    connect(m_autoPaste, &QAbstractButton::clicked, &m_prefs, &Prefs::setAutoPaste);
    m_autoPasteNotice = section->addWidget(buildAutoPasteNotice(section));
    m_autoPasteNotice->setObjectName(QStringLiteral("autoPasteNotice"));

    m_historyCap = FormKit::picker(QStringLiteral("historyCap"), section);
    const QList<std::pair<QString, int>> caps = {
        {QStringLiteral("100"), 100},    {QStringLiteral("200"), 200},
        {QStringLiteral("500"), 500},    {QStringLiteral("1 000"), 1000},
        {QStringLiteral("5 000"), 5000}, {QStringLiteral("Unlimited"), 0}};
    for (const auto &[label, value] : caps)
        m_historyCap->addItem(label, value);
    section->addRow(QStringLiteral("History capacity"), m_historyCap);
    connect(m_historyCap, &QComboBox::activated, this,
            [this](int index) { m_prefs.setHistoryCap(m_historyCap->itemData(index).toInt()); });

    m_plainTextMode = new FormKit::Switch(QStringLiteral("plainTextMode"), section);
    section->addRow(QStringLiteral("Plain-text mode (store text without formatting)"),
                    m_plainTextMode);
    connect(m_plainTextMode, &QAbstractButton::clicked, &m_prefs, &Prefs::setPlainTextMode);

    m_soundOn = new FormKit::Switch(QStringLiteral("soundOn"), section);
    section->addRow(QStringLiteral("Capture sound"), m_soundOn);
    connect(m_soundOn, &QAbstractButton::clicked, &m_prefs, &Prefs::setSoundOn);

    m_paused = new FormKit::Switch(QStringLiteral("paused"), section);
    section->addRow(QStringLiteral("Pause clipping"), m_paused);
    connect(m_paused, &QAbstractButton::clicked, &m_prefs, &Prefs::setPaused);

    contentLayout()->addWidget(section);
    contentLayout()->addStretch(1);

    connect(&m_prefs, &Prefs::historyCapChanged, this, &GeneralPage::syncHistoryCap);
    connect(&m_prefs, &Prefs::autoPasteChanged, this, [this] {
        syncSwitches();
        updateAutoPasteNotice();
    });
    for (auto signal :
         {&Prefs::plainTextModeChanged, &Prefs::soundOnChanged, &Prefs::pausedChanged})
        connect(&m_prefs, signal, this, &GeneralPage::syncSwitches);
    syncSwitches();
    syncHistoryCap();
}

namespace {

// What this desktop lacks for sending the paste keystroke, in the words its user would look up.
QString missingKeySender()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == u"xcb")
        return QStringLiteral("the X server offers no XTEST extension");
    if (platform.startsWith(u"wayland"))
        return QStringLiteral("Wayland lets no application send keys to another");
    return QStringLiteral("this desktop accepts no synthetic keys");
}

} // namespace

QWidget *GeneralPage::buildAutoPasteNotice(QWidget *parent)
{
    auto *notice = new QWidget(parent);
    auto *layout = new QHBoxLayout(notice);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *symbol = new QLabel(notice);
    symbol->setPixmap(Symbols::pixmap(Symbol::Warning, 14, Brisel::gold(), devicePixelRatioF()));
    layout->addWidget(symbol);
    QLabel *text = FormKit::label(QStringLiteral("Auto-paste unavailable: ") + missingKeySender() +
                                      QStringLiteral(" — selection only copies."),
                                  Fonts::ui(12), Brisel::text(), notice);
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    QPushButton *enable = FormKit::borderedButton(QStringLiteral("enableAutoPaste"),
                                                  QStringLiteral("How to Enable…"), notice);
    connect(enable, &QPushButton::clicked, this, [this] {
        if (m_enableAutoPaste)
            m_enableAutoPaste->trigger();
    });
    layout->addWidget(enable);
    return notice;
}

void GeneralPage::setEnableAutoPasteAction(QAction *action)
{
    if (m_enableAutoPaste)
        disconnect(m_enableAutoPaste, nullptr, this, nullptr);
    m_enableAutoPaste = action;
    if (action)
        connect(action, &QAction::changed, this, &GeneralPage::updateAutoPasteNotice);
    updateAutoPasteNotice();
}

void GeneralPage::refresh()
{
    syncLoginItem();
    updateAutoPasteNotice();
}

void GeneralPage::syncSwitches()
{
    m_autoPaste->setChecked(m_prefs.autoPaste());
    m_plainTextMode->setChecked(m_prefs.plainTextMode());
    m_soundOn->setChecked(m_prefs.soundOn());
    m_paused->setChecked(m_prefs.paused());
}

void GeneralPage::syncHistoryCap()
{
    for (int i = m_historyCap->count() - 1; i >= 0; --i) {
        if (m_historyCap->itemData(i, customRole).toBool())
            m_historyCap->removeItem(i);
    }
    const int cap = m_prefs.historyCap();
    // The store keeps everything for any cap below 1.
    int index = m_historyCap->findData(cap < 1 ? 0 : cap);
    if (index < 0) {
        // A hand-edited capacity is honoured by the store, so show it as it is.
        index = 0;
        while (index < m_historyCap->count() - 1 && m_historyCap->itemData(index).toInt() < cap)
            ++index;
        m_historyCap->insertItem(index, groupedNumber(cap), cap);
        m_historyCap->setItemData(index, true, customRole);
    }
    m_historyCap->setCurrentIndex(index);
}

void GeneralPage::syncLoginItem()
{
    m_launchAtLogin->setChecked(m_loginItem.isEnabled());
}

void GeneralPage::updateAutoPasteNotice()
{
    // The action is visible exactly while key strokes cannot be delivered.
    const bool canSendKeys = !m_enableAutoPaste || !m_enableAutoPaste->isVisible();
    m_autoPasteNotice->setVisible(m_prefs.autoPaste() && !canSendKeys);
}
