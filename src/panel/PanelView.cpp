#include "panel/PanelView.h"

#include "panel/AppIconCache.h"
#include "panel/ClipListView.h"
#include "panel/ClipRowDelegate.h"
#include "panel/FilterTabs.h"
#include "panel/FormKit.h"
#include "panel/PanelBackground.h"
#include "panel/PanelKeys.h"
#include "panel/PanelModel.h"
#include "panel/PreviewPane.h"
#include "panel/Symbols.h"
#include "panel/Theme.h"
#include "prefs/Prefs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace {
constexpr int edgeGrip = 6; // pixels along the border that resize instead of move
} // namespace

PanelView::PanelView(PanelModel &model, ClipActions &clipActions, Prefs &prefs, Store &store,
                     AppIconCache &icons, PanelActions actions, QWidget *parent)
    : QWidget(parent), m_model(model), m_clipActions(clipActions), m_prefs(prefs), m_store(store),
      m_icons(icons), m_actions(std::move(actions))
{
    setMinimumSize(minimumWidth, minimumHeight);
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setAutoFillBackground(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Highlight, Brisel::blue());
    palette.setColor(QPalette::Window, Brisel::bg());
    palette.setColor(QPalette::Base, Brisel::bg());
    palette.setColor(QPalette::WindowText, Brisel::text());
    palette.setColor(QPalette::Text, Brisel::text());
    palette.setColor(QPalette::PlaceholderText, Brisel::faint());
    setPalette(palette);

    m_delegate = new ClipRowDelegate(m_model, m_prefs, m_store, m_icons, this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolbar());
    layout->addWidget(FormKit::divider(this));
    layout->addWidget(buildSearchBar());
    layout->addWidget(FormKit::divider(this));

    auto *content = new QHBoxLayout;
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    m_list = new ClipListView(m_model, m_clipActions, *m_delegate, this);
    m_previewDivider = FormKit::divider(this, Qt::Vertical);
    m_preview = new PreviewPane(m_store, m_icons, this);
    content->addWidget(m_list, 1);
    content->addWidget(m_previewDivider);
    content->addWidget(m_preview);
    layout->addLayout(content, 1);
    layout->addWidget(FormKit::divider(this));
    layout->addWidget(buildFooter());

    connect(&m_model, &PanelModel::queryChanged, this, &PanelView::syncQuery);
    connect(&m_model, &PanelModel::previewChanged, this, &PanelView::syncPreview);
    connect(&m_model, &PanelModel::filterChanged, this,
            [this] { m_tabs->setCurrent(m_model.filterValue()); });
    connect(&m_model, &PanelModel::modelReset, this, &PanelView::updateFooter);
    connect(&m_model, &PanelModel::focusTickChanged, this, &PanelView::focusSearchSoon);
    auto relayoutRows = [this] {
        m_delegate->updateMetrics();
        m_list->doItemsLayout();
        m_list->viewport()->update();
    };
    connect(&m_prefs, &Prefs::fontSizeChanged, this, relayoutRows);
    connect(&m_prefs, &Prefs::densityChanged, this, relayoutRows);
    connect(&m_prefs, &Prefs::pausedChanged, this, &PanelView::updateFooter);
    connect(&m_prefs, &Prefs::plainTextModeChanged, this, &PanelView::updateFooter);
    connect(&m_prefs, &Prefs::autoPasteChanged, this, &PanelView::updateFooter);

    syncQuery();
    syncPreview();
    m_tabs->setCurrent(m_model.filterValue());
    updateFooter();
}

PanelView::~PanelView() = default;

QWidget *PanelView::buildToolbar()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(8);

    auto *mark = new QLabel(bar);
    mark->setPixmap(Symbols::pixmap(Symbol::Clipboard, 13, Brisel::blue()));
    QLabel *title = FormKit::label(QStringLiteral("Clipboard"), Fonts::ui(13, QFont::DemiBold),
                                   Brisel::text(), bar);

    m_pausedChip = new QLabel(QStringLiteral("Paused"), bar);
    m_pausedChip->setFont(Fonts::ui(10, QFont::Medium));
    QColor chipBackground = Brisel::gold();
    chipBackground.setAlphaF(0.15);
    m_pausedChip->setStyleSheet(
        QStringLiteral("QLabel { color: %1; background: rgba(%2, %3, %4, 38); padding: 1px 6px; "
                       "border-radius: 4px; }")
            .arg(Brisel::gold().name())
            .arg(chipBackground.red())
            .arg(chipBackground.green())
            .arg(chipBackground.blue()));

    m_settingsButton = FormKit::iconButton(bar, Symbol::Gear, 14, QStringLiteral("Settings"));
    connect(m_settingsButton, &QToolButton::clicked, this, [this] {
        if (m_actions.openSettings)
            m_actions.openSettings->trigger();
        m_model.requestHide();
    });

    auto *more = FormKit::iconButton(bar, Symbol::Ellipsis, 13, QStringLiteral("More"));
    m_moreMenu = buildMoreMenu(more);
    more->setMenu(m_moreMenu);
    more->setPopupMode(QToolButton::InstantPopup);

    m_closeButton = FormKit::iconButton(bar, Symbol::Close, 12, QStringLiteral("Close (esc)"));
    connect(m_closeButton, &QToolButton::clicked, this, [this] { m_model.requestHide(); });

    row->addWidget(mark);
    row->addWidget(title);
    row->addWidget(m_pausedChip);
    row->addStretch(1);
    row->addWidget(m_settingsButton);
    row->addWidget(more);
    row->addWidget(m_closeButton);
    return bar;
}

QMenu *PanelView::buildMoreMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    for (QAction *action : std::as_const(m_actions.more)) {
        if (action)
            menu->addAction(action);
        else
            menu->addSeparator();
    }
    return menu;
}

QWidget *PanelView::buildSearchBar()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(10);

    auto *glass = new QLabel(bar);
    glass->setPixmap(Symbols::pixmap(Symbol::MagnifyingGlass, 14, Brisel::dim()));

    m_search = new QLineEdit(bar);
    m_search->setPlaceholderText(QStringLiteral("Search clips…"));
    m_search->setFont(Fonts::ui(15));
    m_search->setFrame(false);
    m_search->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; color: %1; "
                                           "selection-background-color: %2; }")
                                .arg(Brisel::text().name(), Brisel::blue().name()));
    m_search->setAttribute(Qt::WA_MacShowFocusRect, false);
    connect(m_search, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_model.setQuery(text); });

    m_clearButton = FormKit::iconButton(bar, Symbol::CloseCircle, 13, QString());
    connect(m_clearButton, &QToolButton::clicked, this, [this] { m_model.setQuery(QString()); });

    m_tabs = new FilterTabs(bar);
    connect(m_tabs, &FilterTabs::activated, this,
            [this](int value) { m_model.setFilterValue(value); });

    row->addWidget(glass);
    row->addWidget(m_search, 1);
    row->addWidget(m_clearButton);
    row->addWidget(m_tabs);
    return bar;
}

QWidget *PanelView::buildFooter()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 7, 14, 7);
    row->setSpacing(12);

    m_hintLabel = FormKit::label(PanelKeys::footerHint(), Fonts::ui(10.5), Brisel::faint(), bar);
    // The hint is the first thing to give way when the panel is made narrow.
    m_hintLabel->setMinimumWidth(40);
    m_hintLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    m_pausedLabel =
        FormKit::symbolLabel(bar, Symbol::Pause, QStringLiteral("Paused"), Brisel::gold());
    m_plainLabel =
        FormKit::symbolLabel(bar, Symbol::TextFormat, QStringLiteral("Plain"), Brisel::dim());

    m_autoPasteButton = FormKit::symbolLabel(
        bar, Symbol::Warning, QStringLiteral("Enable auto-paste"), Brisel::gold(), true);
    m_autoPasteButton->setToolTip(
        QStringLiteral("Auto-paste is off on this desktop: Return only copies"));
    if (m_actions.enableAutoPaste) {
        connect(m_autoPasteButton, &QToolButton::clicked, m_actions.enableAutoPaste,
                &QAction::trigger);
        connect(m_actions.enableAutoPaste, &QAction::changed, this, &PanelView::updateFooter);
    }

    m_countLabel = FormKit::label(QString(), Fonts::ui(10.5), Brisel::faint(), bar);

    row->addWidget(m_hintLabel, 1);
    row->addWidget(m_pausedLabel);
    row->addWidget(m_plainLabel);
    row->addWidget(m_autoPasteButton);
    row->addWidget(m_countLabel);
    return bar;
}

void PanelView::updateFooter()
{
    m_pausedChip->setVisible(m_prefs.paused());
    m_pausedLabel->setVisible(m_prefs.paused());
    m_plainLabel->setVisible(m_prefs.plainTextMode());
    const bool canSendKeys = !m_actions.enableAutoPaste || !m_actions.enableAutoPaste->isVisible();
    m_autoPasteButton->setVisible(m_prefs.autoPaste() && !canSendKeys);
    m_countLabel->setText(QString::number(m_model.count()));
}

void PanelView::syncQuery()
{
    // Only rewrite the field when the model changed it (Escape, the clear button, a new
    // appearance); rewriting after each keystroke would move the caret.
    if (m_search->text() != m_model.query())
        m_search->setText(m_model.query());
    m_clearButton->setVisible(!m_model.query().isEmpty());
}

void PanelView::syncPreview()
{
    const bool shown = m_model.hasPreview();
    if (shown)
        m_preview->setClip(m_model.previewClip());
    m_preview->setVisible(shown);
    m_previewDivider->setVisible(shown);
}

void PanelView::focusSearchSoon()
{
    QTimer::singleShot(focusDelayMs, this, [this] {
        m_search->setFocus(Qt::OtherFocusReason);
        m_search->end(false);
    });
}

void PanelView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_model.setOnScreen(true);
}

void PanelView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_model.setOnScreen(false);
}

void PanelView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    PanelBackground::paint(painter, QRectF(rect()));
}

Qt::Edges PanelView::edgesAt(const QPoint &pos) const
{
    Qt::Edges edges;
    if (pos.x() < edgeGrip)
        edges |= Qt::LeftEdge;
    if (pos.x() >= width() - edgeGrip)
        edges |= Qt::RightEdge;
    if (pos.y() < edgeGrip)
        edges |= Qt::TopEdge;
    if (pos.y() >= height() - edgeGrip)
        edges |= Qt::BottomEdge;
    return edges;
}

void PanelView::mousePressEvent(QMouseEvent *event)
{
    QWindow *window = windowHandle();
    if (event->button() != Qt::LeftButton || !window || !isWindow()) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The window has no frame: its border resizes it and its background moves it.
    const Qt::Edges edges = edgesAt(event->position().toPoint());
    if (edges)
        window->startSystemResize(edges);
    else
        window->startSystemMove();
}

void PanelView::mouseMoveEvent(QMouseEvent *event)
{
    const Qt::Edges edges = edgesAt(event->position().toPoint());
    if ((edges & Qt::LeftEdge && edges & Qt::TopEdge) ||
        (edges & Qt::RightEdge && edges & Qt::BottomEdge))
        setCursor(Qt::SizeFDiagCursor);
    else if ((edges & Qt::RightEdge && edges & Qt::TopEdge) ||
             (edges & Qt::LeftEdge && edges & Qt::BottomEdge))
        setCursor(Qt::SizeBDiagCursor);
    else if (edges & (Qt::LeftEdge | Qt::RightEdge))
        setCursor(Qt::SizeHorCursor);
    else if (edges & (Qt::TopEdge | Qt::BottomEdge))
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
    QWidget::mouseMoveEvent(event);
}
