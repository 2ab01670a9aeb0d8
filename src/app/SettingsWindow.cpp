#include "app/SettingsWindow.h"

#include "app/AboutWindow.h"
#include "app/AppIconManager.h"
#include "app/AppIconPicker.h"
#include "app/LoginItem.h"
#include "exchange/ExportImport.h"
#include "panel/PanelKeys.h"
#include "panel/Symbols.h"
#include "panel/Theme.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QStackedWidget>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int customRole = Qt::UserRole + 1; // marks a picker entry that only mirrors a value
const QColor destructive(0xFF, 0x62, 0x5C);
const QColor switchOff(0x2A, 0x2F, 0x38);

void setForeground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

QLabel *makeLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    setForeground(label, color);
    return label;
}

// Small captions under a section.
QLabel *caption(const QString &text, QWidget *parent)
{
    QLabel *label = makeLabel(text, Fonts::ui(11.5), Brisel::dim(), parent);
    label->setWordWrap(true);
    label->setContentsMargins(4, 0, 4, 0);
    return label;
}

QLabel *sectionHeader(const QString &text, QWidget *parent)
{
    QFont font = Fonts::mono(10);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    QLabel *label = makeLabel(text, font, Brisel::dim(), parent);
    label->setContentsMargins(4, 0, 4, 0);
    return label;
}

// A two-state switch in the palette: blue track when on.
class Switch : public QAbstractButton
{
public:
    explicit Switch(QWidget *parent) : QAbstractButton(parent)
    {
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
    }

    QSize sizeHint() const override { return QSize(34, 20); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(0, 0, 34, 20).translated(0, (height() - 20) / 2.0);
        QColor fill = isChecked() ? Brisel::blue() : switchOff;
        if (!isEnabled())
            fill.setAlphaF(0.4f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(track, 10, 10);
        const qreal knob = 16;
        const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
        painter.setBrush(Brisel::text());
        painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
        if (hasFocus()) {
            QColor ring = Brisel::blue();
            ring.setAlphaF(0.5f);
            painter.setPen(QPen(ring, 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), 11.5, 11.5);
        }
    }
};

// A grouped form section: rounded box, one row per setting, hairlines between rows.
class FormSection : public QFrame
{
public:
    explicit FormSection(QWidget *parent) : QFrame(parent)
    {
        m_layout = new QVBoxLayout(this);
        m_layout->setContentsMargins(0, 1, 0, 1);
        m_layout->setSpacing(0);
    }

    QWidget *addRow(const QString &text, QWidget *control)
    {
        auto *row = new QWidget(this);
        row->setMinimumHeight(36);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(12, 6, 12, 6);
        layout->setSpacing(12);
        QLabel *label = makeLabel(text, Fonts::ui(13), Brisel::text(), row);
        label->setWordWrap(true);
        layout->addWidget(label, 1);
        if (control)
            layout->addWidget(control, 0, Qt::AlignRight | Qt::AlignVCenter);
        m_layout->addWidget(row);
        return row;
    }

    // A row whose content fills it; `margin` pads it.
    QWidget *addWidget(QWidget *content, int margin = 12)
    {
        auto *row = new QWidget(this);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(margin, margin ? 8 : 0, margin, margin ? 8 : 0);
        layout->setSpacing(0);
        content->setParent(row);
        layout->addWidget(content);
        m_layout->addWidget(row);
        return row;
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(Brisel::border(), 1));
        painter.setBrush(Brisel::surface());
        painter.drawRoundedRect(box, 8, 8);
        painter.setRenderHint(QPainter::Antialiasing, false);
        // The palette's divider colour is meant for the window background; on a section's
        // surface it would vanish, so rows part with the border colour.
        painter.setPen(QPen(Brisel::border(), 1));
        bool first = true;
        for (int i = 0; i < m_layout->count(); ++i) {
            QWidget *row = m_layout->itemAt(i)->widget();
            if (!row || row->isHidden())
                continue;
            if (!first)
                painter.drawLine(12, row->y(), width() - 1, row->y());
            first = false;
        }
    }

private:
    QVBoxLayout *m_layout;
};

QComboBox *makePicker(const QString &name, QWidget *parent)
{
    auto *picker = new QComboBox(parent);
    picker->setObjectName(name);
    picker->setFont(Fonts::ui(12.5));
    picker->setMinimumWidth(150);
    picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    picker->setFocusPolicy(Qt::StrongFocus);
    return picker;
}

Switch *makeSwitch(const QString &name, QWidget *parent)
{
    auto *toggle = new Switch(parent);
    toggle->setObjectName(name);
    return toggle;
}

// A full-row button of the Data tab.
QPushButton *actionButton(const QString &name, const QString &text, const QColor &color,
                          QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFont(Fonts::ui(13));
    button->setCursor(Qt::PointingHandCursor);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent;"
                                         " color: %1; text-align: left; padding: 0 12px;"
                                         " min-height: 36px; }"
                                         "QPushButton:hover { color: %2; }"
                                         "QPushButton:pressed { background: %3; }"
                                         "QPushButton:disabled { color: %4; }")
                              .arg(color.name(), color.lighter(118).name(), Brisel::elev().name(),
                                   Brisel::faint().name()));
    return button;
}

// Pages scroll when their form is taller than the window.
QScrollArea *page(QWidget *content, QWidget *parent)
{
    auto *scroll = new QScrollArea(parent);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

QVBoxLayout *pageLayout(QWidget *content)
{
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(6);
    return layout;
}

// "1 000", "12 500": a space groups the thousands, as the capacity choices are written.
QString groupedNumber(int value)
{
    QString digits = QString::number(value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u' ');
    return digits;
}

// The tab symbols: gear, keyboard, crossed-out eye, brush and drive, in a 20-unit box.
void paintTabGlyph(QPainter &painter, SettingsWindow::Tab tab, const QColor &color)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen outline(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (tab) {
    case SettingsWindow::General:
        Symbols::paint(painter, Symbol::Gear, QRectF(1, 1, 18, 18), color);
        break;
    case SettingsWindow::Shortcuts: {
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(1.75, 4.75, 16.5, 10.5), 2.2, 2.2);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (int row = 0; row < 2; ++row) {
            for (int key = 0; key < 5; ++key)
                painter.drawRect(QRectF(4.2 + key * 2.6, 7.2 + row * 2.6, 1.5, 1.5));
        }
        painter.drawRoundedRect(QRectF(6.5, 12.4, 7, 1.4), 0.5, 0.5);
        break;
    }
    case SettingsWindow::Filters: {
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        QPainterPath eye;
        eye.moveTo(1.8, 10);
        eye.quadTo(10, 1.5, 18.2, 10);
        eye.quadTo(10, 18.5, 1.8, 10);
        painter.drawPath(eye);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(10, 10), 2.8, 2.8);
        // Cut a gap around the slash so it reads as crossing the eye.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(3.5, 3), QPointF(16.5, 17));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(outline);
        painter.drawLine(QPointF(3.5, 3), QPointF(16.5, 17));
        break;
    }
    case SettingsWindow::Appearance: {
        painter.setPen(QPen(color, 2.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(17, 3), QPointF(10.2, 9.8));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        QPainterPath tip;
        tip.moveTo(8.6, 9.9);
        tip.cubicTo(5.6, 9.9, 5.8, 13.2, 4.8, 15.0);
        tip.cubicTo(4.2, 16.2, 3.2, 16.8, 2.2, 17.6);
        tip.cubicTo(6.2, 17.9, 10.4, 16.4, 10.3, 12.0);
        tip.closeSubpath();
        painter.drawPath(tip);
        break;
    }
    case SettingsWindow::Data: {
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(1.75, 6.25, 16.5, 8.5), 2.6, 2.6);
        painter.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(4.8, 10.5), QPointF(9, 10.5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(14.6, 10.5), 1.1, 1.1);
        break;
    }
    }
}

QIcon tabIcon(SettingsWindow::Tab tab)
{
    QIcon icon;
    constexpr qreal ratio = 2.0;
    for (const bool on : {false, true}) {
        QPixmap pixmap(QSize(20, 20) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintTabGlyph(painter, tab, on ? Brisel::blue() : Brisel::dim());
        painter.end();
        icon.addPixmap(pixmap, QIcon::Normal, on ? QIcon::On : QIcon::Off);
    }
    return icon;
}

int findData(const QComboBox *picker, const QVariant &value)
{
    for (int i = 0; i < picker->count(); ++i) {
        if (picker->itemData(i) == value)
            return i;
    }
    return -1;
}

} // namespace

SettingsWindow::SettingsWindow(Prefs &prefs, Store &store, HotKeyCenter &hotKeys,
                               LoginItem &loginItem, AppIconManager &icons, SettingsHooks hooks,
                               QWidget *parent)
    : QWidget(parent, Qt::Window), m_prefs(prefs), m_store(store), m_hotKeys(hotKeys),
      m_loginItem(loginItem), m_icons(icons), m_hooks(std::move(hooks))
{
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(windowWidth, windowHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Brisel::bg());
    palette.setColor(QPalette::WindowText, Brisel::text());
    palette.setColor(QPalette::Highlight, Brisel::blue());
    palette.setColor(QPalette::Link, Brisel::blue());
    setPalette(palette);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_pages = new QStackedWidget(this);
    m_pages->addWidget(page(buildGeneral(), m_pages));
    m_pages->addWidget(page(buildShortcuts(), m_pages));
    m_pages->addWidget(page(buildFilters(), m_pages));
    m_pages->addWidget(page(buildAppearance(), m_pages));
    m_pages->addWidget(page(buildData(), m_pages));

    auto divider = [this] {
        auto *line = new QWidget(this);
        line->setFixedHeight(1);
        line->setAutoFillBackground(true);
        QPalette linePalette = line->palette();
        linePalette.setColor(QPalette::Window, Brisel::line());
        line->setPalette(linePalette);
        return line;
    };
    layout->addWidget(buildTabStrip());
    layout->addWidget(divider());
    layout->addWidget(m_pages, 1);
    layout->addWidget(divider());
    layout->addWidget(buildFooter());

    bindPrefs();
    syncSwitches();
    syncHistoryCap();
    syncFontSize();
    syncDensity();
    syncHotkeyPickers();
    syncIgnoredApps();
    refresh();
    setCurrentTab(General);
}

SettingsWindow::~SettingsWindow() = default;

QWidget *SettingsWindow::buildTabStrip()
{
    struct TabInfo
    {
        Tab tab;
        const char *label;
    };
    static constexpr TabInfo tabs[] = {{General, "General"},
                                       {Shortcuts, "Shortcuts"},
                                       {Filters, "Filters"},
                                       {Appearance, "Appearance"},
                                       {Data, "Data"}};
    auto *strip = new QWidget(this);
    auto *layout = new QHBoxLayout(strip);
    layout->setContentsMargins(12, 8, 12, 6);
    layout->setSpacing(4);
    layout->addStretch(1);
    m_tabs = new QButtonGroup(strip);
    m_tabs->setExclusive(true);
    for (const TabInfo &info : tabs) {
        auto *button = new QToolButton(strip);
        button->setObjectName(QStringLiteral("tab") + QLatin1String(info.label));
        button->setText(QLatin1String(info.label));
        button->setIcon(tabIcon(info.tab));
        button->setIconSize(QSize(20, 20));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setCheckable(true);
        button->setFont(Fonts::ui(11));
        button->setFixedSize(78, 48);
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 7px;"
                                             " color: %1; background: transparent;"
                                             " padding: 4px 2px 3px 2px; }"
                                             "QToolButton:hover { background: %2; }"
                                             "QToolButton:checked { color: %3; background: %4; }")
                                  .arg(Brisel::dim().name(), Brisel::surface().name(),
                                       Brisel::blue().name(), Brisel::elev().name()));
        m_tabs->addButton(button, info.tab);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    connect(m_tabs, &QButtonGroup::idClicked, this, [this](int id) {
        m_pages->setCurrentIndex(id);
        if (id == Data)
            refreshDataFigures();
    });
    return strip;
}

QWidget *SettingsWindow::buildGeneral()
{
    auto *content = new QWidget;
    QVBoxLayout *layout = pageLayout(content);
    auto *section = new FormSection(content);

    m_launchAtLogin = makeSwitch(QStringLiteral("launchAtLogin"), section);
    section->addRow(QStringLiteral("Launch at login"), m_launchAtLogin);
    connect(m_launchAtLogin, &QAbstractButton::clicked, this, [this](bool on) {
        m_loginItem.set(on);
        // A failed change is only logged; the switch shows what is really in place.
        syncLoginItem();
    });

    m_autoPaste = makeSwitch(QStringLiteral("autoPaste"), section);
    section->addRow(QStringLiteral("Auto-paste on select (needs Accessibility)"), m_autoPaste);
    connect(m_autoPaste, &QAbstractButton::clicked, &m_prefs, &Prefs::setAutoPaste);

    // Shown while auto-paste is on but its key stroke cannot be delivered.
    auto *warning = new QWidget(section);
    auto *warningLayout = new QHBoxLayout(warning);
    warningLayout->setContentsMargins(0, 0, 0, 0);
    warningLayout->setSpacing(8);
    auto *symbol = new QLabel(warning);
    symbol->setPixmap(Symbols::pixmap(Symbol::Warning, 14, Brisel::gold(), devicePixelRatioF()));
    warningLayout->addWidget(symbol);
    QLabel *warningText =
        makeLabel(QStringLiteral("Accessibility not granted — selection only copies."),
                  Fonts::ui(12), Brisel::text(), warning);
    warningText->setWordWrap(true);
    warningLayout->addWidget(warningText, 1);
    auto *grant = new QPushButton(QStringLiteral("Grant…"), warning);
    grant->setObjectName(QStringLiteral("grantAccess"));
    grant->setFont(Fonts::ui(12));
    grant->setCursor(Qt::PointingHandCursor);
    grant->setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid %1; border-radius: 5px;"
                       " background: %2; color: %3; padding: 3px 12px; }"
                       "QPushButton:pressed { background: %1; }")
            .arg(Brisel::border().name(), Brisel::elev().name(), Brisel::text().name()));
    connect(grant, &QPushButton::clicked, this, [this] {
        if (m_hooks.grantAccess)
            m_hooks.grantAccess();
    });
    warningLayout->addWidget(grant);
    m_accessibilityRow = section->addWidget(warning);
    m_accessibilityRow->setObjectName(QStringLiteral("accessibilityWarning"));

    m_historyCap = makePicker(QStringLiteral("historyCap"), section);
    const QList<std::pair<QString, int>> caps = {
        {QStringLiteral("100"), 100},    {QStringLiteral("200"), 200},
        {QStringLiteral("500"), 500},    {QStringLiteral("1 000"), 1000},
        {QStringLiteral("5 000"), 5000}, {QStringLiteral("Unlimited"), 0}};
    for (const auto &[label, value] : caps)
        m_historyCap->addItem(label, value);
    section->addRow(QStringLiteral("History capacity"), m_historyCap);
    connect(m_historyCap, &QComboBox::activated, this,
            [this](int index) { m_prefs.setHistoryCap(m_historyCap->itemData(index).toInt()); });

    m_plainTextMode = makeSwitch(QStringLiteral("plainTextMode"), section);
    section->addRow(QStringLiteral("Plain-text mode (store text without formatting)"),
                    m_plainTextMode);
    connect(m_plainTextMode, &QAbstractButton::clicked, &m_prefs, &Prefs::setPlainTextMode);

    m_soundOn = makeSwitch(QStringLiteral("soundOn"), section);
    section->addRow(QStringLiteral("Capture sound"), m_soundOn);
    connect(m_soundOn, &QAbstractButton::clicked, &m_prefs, &Prefs::setSoundOn);

    m_paused = makeSwitch(QStringLiteral("paused"), section);
    section->addRow(QStringLiteral("Pause clipping"), m_paused);
    connect(m_paused, &QAbstractButton::clicked, &m_prefs, &Prefs::setPaused);

    layout->addWidget(section);
    layout->addStretch(1);
    return content;
}

QComboBox *SettingsWindow::hotkeyPicker(const QString &name, const QStringList &choices,
                                        void (Prefs::*store)(const QString &))
{
    QComboBox *picker = makePicker(name, this);
    for (const QString &label : choices)
        picker->addItem(HotKeys::displayLabel(label), label);
    connect(picker, &QComboBox::activated, this, [this, picker, store](int index) {
        (m_prefs.*store)(picker->itemData(index).toString());
        // The registrar watches no preference: every change rebinds all shortcuts.
        m_hotKeys.bindAll();
        updateHotkeyWarning();
    });
    return picker;
}

QWidget *SettingsWindow::buildShortcuts()
{
    auto *content = new QWidget;
    QVBoxLayout *layout = pageLayout(content);
    auto *section = new FormSection(content);

    m_showHotkey = hotkeyPicker(QStringLiteral("showHotkey"), HotKeys::showPanelChoices(),
                                &Prefs::setShowHotkeyLabel);
    section->addRow(QStringLiteral("Show clipboard panel"), m_showHotkey);
    m_hotkeyWarning = makeLabel(QString(), Fonts::ui(11.5), Brisel::gold(), section);
    m_hotkeyWarning->setObjectName(QStringLiteral("hotkeyWarning"));
    m_hotkeyWarning->setWordWrap(true);
    section->addWidget(m_hotkeyWarning);

    m_serialNextHotkey = hotkeyPicker(QStringLiteral("serialNextHotkey"), HotKeys::auxChoices(),
                                      &Prefs::setSerialNextHotkeyLabel);
    section->addRow(QStringLiteral("Serial paste — paste next"), m_serialNextHotkey);
    m_plainModeHotkey = hotkeyPicker(QStringLiteral("plainModeHotkey"), HotKeys::auxChoices(),
                                     &Prefs::setPlainModeHotkeyLabel);
    section->addRow(QStringLiteral("Toggle plain-text mode"), m_plainModeHotkey);
    m_pauseHotkey = hotkeyPicker(QStringLiteral("pauseHotkey"), HotKeys::auxChoices(),
                                 &Prefs::setPauseHotkeyLabel);
    section->addRow(QStringLiteral("Pause / resume clipping"), m_pauseHotkey);
    layout->addWidget(section);

    QStringList keys;
    for (const char *token :
         {"↩ paste", "⌥↩ plain", "⌘1–9 quick paste", "⌘D pin", "⌘I preview", "⌘⌫ delete"})
        keys.append(PanelKeys::displayLabel(QString::fromUtf8(token)));
    QLabel *help =
        caption(QStringLiteral("In-panel: ") + keys.join(QStringLiteral(" · ")), content);
    help->setObjectName(QStringLiteral("shortcutHelp"));
    layout->addSpacing(2);
    layout->addWidget(help);
    layout->addStretch(1);
    return content;
}

QWidget *SettingsWindow::buildFilters()
{
    auto *content = new QWidget;
    QVBoxLayout *layout = pageLayout(content);

    auto *section = new FormSection(content);
    m_ignoreHandoff = makeSwitch(QStringLiteral("ignoreHandoff"), section);
    section->addRow(QStringLiteral("Ignore Handoff / remote clipboard"), m_ignoreHandoff);
    connect(m_ignoreHandoff, &QAbstractButton::clicked, &m_prefs, &Prefs::setIgnoreHandoff);
    layout->addWidget(section);
    layout->addWidget(caption(
        QStringLiteral("Concealed & transient types (password managers etc.) are always ignored."),
        content));

    layout->addSpacing(14);
    layout->addWidget(sectionHeader(QStringLiteral("IGNORED APPS (BUNDLE ID PER LINE)"), content));
    auto *editorSection = new FormSection(content);
    m_ignoredApps = new QPlainTextEdit;
    m_ignoredApps->setObjectName(QStringLiteral("ignoredApps"));
    m_ignoredApps->setFont(Fonts::mono(12));
    m_ignoredApps->setFixedHeight(180);
    m_ignoredApps->setFrameShape(QFrame::NoFrame);
    // Wrapped: a sideways scroll bar for the odd long comment line costs more than it saves.
    m_ignoredApps->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_ignoredApps->setTabChangesFocus(true);
    QPalette editorPalette = m_ignoredApps->palette();
    editorPalette.setColor(QPalette::Base, Brisel::surface());
    editorPalette.setColor(QPalette::Text, Brisel::text());
    editorPalette.setColor(QPalette::Highlight, Brisel::blue());
    m_ignoredApps->setPalette(editorPalette);
    editorSection->addWidget(m_ignoredApps, 6);
    connect(m_ignoredApps, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_syncing)
            m_prefs.setIgnoredApps(m_ignoredApps->toPlainText());
    });
    layout->addWidget(editorSection);
    layout->addStretch(1);
    return content;
}

QWidget *SettingsWindow::buildAppearance()
{
    auto *content = new QWidget;
    QVBoxLayout *layout = pageLayout(content);

    auto *section = new FormSection(content);
    m_fontSize = makePicker(QStringLiteral("fontSize"), section);
    m_fontSize->addItem(QStringLiteral("Small"), 12);
    m_fontSize->addItem(QStringLiteral("Medium"), 13);
    m_fontSize->addItem(QStringLiteral("Large"), 15);
    section->addRow(QStringLiteral("Font size"), m_fontSize);
    connect(m_fontSize, &QComboBox::activated, this,
            [this](int index) { m_prefs.setFontSize(m_fontSize->itemData(index).toInt()); });
    m_density = makePicker(QStringLiteral("density"), section);
    m_density->addItem(QStringLiteral("Compact"), 0);
    m_density->addItem(QStringLiteral("Comfortable"), 1);
    section->addRow(QStringLiteral("Row density"), m_density);
    connect(m_density, &QComboBox::activated, this,
            [this](int index) { m_prefs.setDensity(m_density->itemData(index).toInt()); });
    layout->addWidget(section);
    layout->addWidget(caption(QStringLiteral("Ulvane використовує темну тему Brisel."), content));

    layout->addSpacing(14);
    layout->addWidget(sectionHeader(QStringLiteral("APP ICON"), content));
    auto *iconSection = new FormSection(content);
    m_iconPicker = new AppIconPicker(m_icons);
    m_iconPicker->setObjectName(QStringLiteral("appIconPicker"));
    iconSection->addWidget(m_iconPicker, 14);
    layout->addWidget(iconSection);
    layout->addStretch(1);
    return content;
}

QWidget *SettingsWindow::buildData()
{
    auto *content = new QWidget;
    QVBoxLayout *layout = pageLayout(content);
    layout->setSpacing(16);

    auto *figures = new FormSection(content);
    auto value = [figures](const QString &name, const QString &text = QString()) {
        QLabel *label = makeLabel(text, Fonts::ui(13), Brisel::dim(), figures);
        label->setObjectName(name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    m_clipsStored = value(QStringLiteral("clipsStored"));
    m_diskUsage = value(QStringLiteral("diskUsage"));
    figures->addRow(QStringLiteral("Clips stored"), m_clipsStored);
    figures->addRow(QStringLiteral("Disk usage"), m_diskUsage);
    figures->addRow(QStringLiteral("Network access"),
                    value(QStringLiteral("networkAccess"), QStringLiteral("None — fully local")));
    layout->addWidget(figures);

    auto *transfer = new FormSection(content);
    m_importCopyLess =
        actionButton(QStringLiteral("importCopyLess"), QStringLiteral("Import from CopyLess 2…"),
                     Brisel::blue(), transfer);
    connect(m_importCopyLess, &QPushButton::clicked, this, &SettingsWindow::importCopyLess);
    transfer->addWidget(m_importCopyLess, 0);
    QPushButton *exportButton =
        actionButton(QStringLiteral("exportHistory"), QStringLiteral("Export history…"),
                     Brisel::blue(), transfer);
    connect(exportButton, &QPushButton::clicked, this, &SettingsWindow::exportHistory);
    transfer->addWidget(exportButton, 0);
    QPushButton *importButton =
        actionButton(QStringLiteral("importHistory"), QStringLiteral("Import history…"),
                     Brisel::blue(), transfer);
    connect(importButton, &QPushButton::clicked, this, &SettingsWindow::importHistory);
    transfer->addWidget(importButton, 0);
    layout->addWidget(transfer);

    auto *clearing = new FormSection(content);
    QPushButton *clearHistory =
        actionButton(QStringLiteral("clearHistory"),
                     QStringLiteral("Clear history (keep favorites)"), destructive, clearing);
    connect(clearHistory, &QPushButton::clicked, this, [this] { confirmClear(true); });
    clearing->addWidget(clearHistory, 0);
    QPushButton *clearAll = actionButton(QStringLiteral("clearEverything"),
                                         QStringLiteral("Clear everything"), destructive, clearing);
    connect(clearAll, &QPushButton::clicked, this, [this] { confirmClear(false); });
    clearing->addWidget(clearAll, 0);
    layout->addWidget(clearing);
    layout->addStretch(1);
    return content;
}

QWidget *SettingsWindow::buildFooter()
{
    auto *footer = new QWidget(this);
    footer->setFixedHeight(30);
    auto *layout = new QHBoxLayout(footer);
    layout->setContentsMargins(16, 0, 12, 0);
    QLabel *version = makeLabel(QStringLiteral("BRISEL · ULVANE · v") + AboutWindow::shortVersion(),
                                Fonts::mono(9.5), Brisel::faint(), footer);
    version->setObjectName(QStringLiteral("footerVersion"));
    layout->addWidget(version);
    layout->addStretch(1);
    if (m_hooks.openAbout) {
        auto *about = new QPushButton(QStringLiteral("About Ulvane"), footer);
        about->setObjectName(QStringLiteral("openAbout"));
        about->setFont(Fonts::ui(10.5));
        about->setCursor(Qt::PointingHandCursor);
        about->setFlat(true);
        about->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent;"
                                            " color: %1; padding: 2px 4px; }"
                                            "QPushButton:hover { color: %2; }")
                                 .arg(Brisel::dim().name(), Brisel::blue().name()));
        connect(about, &QPushButton::clicked, this, [this] { m_hooks.openAbout(); });
        layout->addWidget(about);
    }
    return footer;
}

void SettingsWindow::bindPrefs()
{
    connect(&m_prefs, &Prefs::historyCapChanged, this, &SettingsWindow::syncHistoryCap);
    connect(&m_prefs, &Prefs::autoPasteChanged, this, [this] {
        syncSwitches();
        updateAccessibilityRow();
    });
    for (auto signal : {&Prefs::plainTextModeChanged, &Prefs::soundOnChanged, &Prefs::pausedChanged,
                        &Prefs::ignoreHandoffChanged})
        connect(&m_prefs, signal, this, &SettingsWindow::syncSwitches);
    connect(&m_prefs, &Prefs::ignoredAppsChanged, this, &SettingsWindow::syncIgnoredApps);
    connect(&m_prefs, &Prefs::fontSizeChanged, this, &SettingsWindow::syncFontSize);
    connect(&m_prefs, &Prefs::densityChanged, this, &SettingsWindow::syncDensity);
    for (auto signal : {&Prefs::showHotkeyLabelChanged, &Prefs::serialNextHotkeyLabelChanged,
                        &Prefs::plainModeHotkeyLabelChanged, &Prefs::pauseHotkeyLabelChanged}) {
        connect(&m_prefs, signal, this, [this] {
            syncHotkeyPickers();
            updateHotkeyWarning();
        });
    }
}

void SettingsWindow::syncSwitches()
{
    m_autoPaste->setChecked(m_prefs.autoPaste());
    m_plainTextMode->setChecked(m_prefs.plainTextMode());
    m_soundOn->setChecked(m_prefs.soundOn());
    m_paused->setChecked(m_prefs.paused());
    m_ignoreHandoff->setChecked(m_prefs.ignoreHandoff());
}

void SettingsWindow::syncHistoryCap()
{
    for (int i = m_historyCap->count() - 1; i >= 0; --i) {
        if (m_historyCap->itemData(i, customRole).toBool())
            m_historyCap->removeItem(i);
    }
    const int cap = m_prefs.historyCap();
    // The store keeps everything for any cap below 1.
    int index = findData(m_historyCap, cap < 1 ? 0 : cap);
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

void SettingsWindow::syncFontSize()
{
    // The picker shows the choice nearest to the size the panel actually draws with.
    const int effective = qBound(8, m_prefs.fontSize(), 64);
    int best = 0;
    for (int i = 1; i < m_fontSize->count(); ++i) {
        if (qAbs(m_fontSize->itemData(i).toInt() - effective) <
            qAbs(m_fontSize->itemData(best).toInt() - effective))
            best = i;
    }
    m_fontSize->setCurrentIndex(best);
}

void SettingsWindow::syncDensity()
{
    // Anything but 0 lays rows out comfortably.
    m_density->setCurrentIndex(m_prefs.density() == 0 ? 0 : 1);
}

void SettingsWindow::syncHotkeyPickers()
{
    const auto show = [](QComboBox *picker, const QString &label, const QString &inForce) {
        int index = findData(picker, label);
        if (index < 0)
            index = findData(picker, inForce);
        if (index < 0)
            index = findData(picker, HotKeys::offLabel);
        picker->setCurrentIndex(index);
    };
    // An unusable label binds nothing of its own: the show-panel key falls back to whatever
    // was bound instead, and the optional keys stay off.
    show(m_showHotkey, m_prefs.showHotkeyLabel(), Prefs::activeHotkeyLabel());
    show(m_serialNextHotkey, m_prefs.serialNextHotkeyLabel(), HotKeys::offLabel);
    show(m_plainModeHotkey, m_prefs.plainModeHotkeyLabel(), HotKeys::offLabel);
    show(m_pauseHotkey, m_prefs.pauseHotkeyLabel(), HotKeys::offLabel);
}

void SettingsWindow::syncIgnoredApps()
{
    if (m_ignoredApps->toPlainText() == m_prefs.ignoredApps())
        return;
    m_syncing = true;
    m_ignoredApps->setPlainText(m_prefs.ignoredApps());
    m_syncing = false;
}

void SettingsWindow::syncLoginItem()
{
    m_launchAtLogin->setChecked(m_loginItem.isEnabled());
}

void SettingsWindow::updateAccessibilityRow()
{
    const bool trusted = !m_hooks.trusted || m_hooks.trusted();
    m_accessibilityRow->setVisible(m_prefs.autoPaste() && !trusted);
}

QString SettingsWindow::hotkeyWarning() const
{
    const QString active = Prefs::activeHotkeyLabel();
    const QString preferred = m_prefs.showHotkeyLabel();
    if (active.isEmpty() || active == preferred || preferred == HotKeys::offLabel)
        return QString();
    // A label that names no combination was never tried, so nothing took it.
    if (!HotKeys::preset(preferred))
        return QString();
    return QStringLiteral("Preferred combo is taken (held by another application?). Active now: ") +
           HotKeys::displayLabel(active);
}

void SettingsWindow::updateHotkeyWarning()
{
    const QString warning = hotkeyWarning();
    m_hotkeyWarning->setText(warning);
    m_hotkeyWarning->parentWidget()->setVisible(!warning.isEmpty());
}

void SettingsWindow::refresh()
{
    syncLoginItem();
    updateAccessibilityRow();
    syncHotkeyPickers();
    updateHotkeyWarning();
    refreshDataFigures();
    m_iconPicker->reloadSelection();
}

void SettingsWindow::refreshDataFigures()
{
    m_clipsStored->setText(QString::number(m_store.count()));
    m_diskUsage->setText(
        QLocale().formattedDataSize(m_store.diskSize(), 1, QLocale::DataSizeSIFormat));
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    refresh();
    QWidget::showEvent(event);
}

SettingsWindow::Tab SettingsWindow::currentTab() const
{
    return Tab(m_pages->currentIndex());
}

void SettingsWindow::setCurrentTab(Tab tab)
{
    m_tabs->button(tab)->setChecked(true);
    m_pages->setCurrentIndex(tab);
    if (tab == Data)
        refreshDataFigures();
}

void SettingsWindow::exportHistory()
{
    const QString suggested = QStringLiteral("clipboard-export.json");
    const QString path =
        m_hooks.chooseExportFile
            ? m_hooks.chooseExportFile(suggested)
            : QFileDialog::getSaveFileName(this, QStringLiteral("Export History"),
                                           QDir::homePath() + u'/' + suggested,
                                           QStringLiteral("JSON files (*.json);;All files (*)"),
                                           nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    const std::optional<QByteArray> document = ExportImport::exportAll(m_store);
    if (!document) {
        inform(QStringLiteral("The history could not be exported."));
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*document) != document->size() ||
        !file.commit()) {
        inform(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    }
}

void SettingsWindow::importHistory()
{
    const QString path =
        m_hooks.chooseImportFile
            ? m_hooks.chooseImportFile()
            : QFileDialog::getOpenFileName(this, QStringLiteral("Import History"), QDir::homePath(),
                                           QStringLiteral("JSON files (*.json);;All files (*)"),
                                           nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        inform(QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
        return;
    }
    const QByteArray data = file.readAll();
    const ExportImport::ImportResult result = ExportImport::importData(data, m_store);
    refreshDataFigures();
    inform(QStringLiteral("Imported %1 clips (%2 duplicates skipped).")
               .arg(result.imported)
               .arg(result.skipped));
}

void SettingsWindow::importCopyLess()
{
    // One import at a time: a second would only count the first one's clips as duplicates.
    if (!m_importCopyLess->isEnabled())
        return;
    m_importCopyLess->setEnabled(false);
    std::function<std::optional<CopyLessImporter::Result>()> job = m_hooks.importCopyLess;
    if (!job) {
        job = [&store = m_store] {
            return CopyLessImporter::run(store, CopyLessImporter::containerStore(), nullptr);
        };
    }
    QPointer<SettingsWindow> window(this);
    QThreadPool::globalInstance()->start([job = std::move(job), window] {
        const std::optional<CopyLessImporter::Result> result = job();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [window, result] {
                if (window)
                    window->finishCopyLessImport(result);
            },
            Qt::QueuedConnection);
    });
}

void SettingsWindow::finishCopyLessImport(const std::optional<CopyLessImporter::Result> &result)
{
    m_importCopyLess->setEnabled(true);
    refreshDataFigures();
    if (result) {
        inform(QStringLiteral("Imported %1 clips (%2 duplicates skipped).")
                   .arg(result->imported)
                   .arg(result->skipped));
    } else {
        inform(QStringLiteral("CopyLess 2 store not found."));
    }
    Q_EMIT copyLessImportFinished();
}

void SettingsWindow::confirmClear(bool keepPinned)
{
    const QString message = keepPinned ? QStringLiteral("Clear history?")
                                       : QStringLiteral("Clear EVERYTHING including favorites?");
    if (!confirm(message, QStringLiteral("This cannot be undone.")))
        return;
    m_store.clearHistory(keepPinned);
    refreshDataFigures();
}

bool SettingsWindow::confirm(const QString &message, const QString &detail)
{
    if (m_hooks.confirm)
        return m_hooks.confirm(message, detail);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Settings"), message,
                    QMessageBox::NoButton, this);
    box.setInformativeText(detail);
    QPushButton *clear = box.addButton(QStringLiteral("Clear"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(clear);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == clear;
}

void SettingsWindow::inform(const QString &message)
{
    if (m_hooks.inform) {
        m_hooks.inform(message);
        return;
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Settings"), message, QMessageBox::Ok,
                    this);
    box.exec();
}
