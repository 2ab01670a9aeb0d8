#include "panel/ClipListView.h"

#include "panel/ClipActions.h"
#include "panel/ClipRowDelegate.h"
#include "panel/PanelModel.h"
#include "panel/Symbols.h"
#include "panel/Theme.h"
#include "paste/Transforms.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionMenuItem>

namespace {

// Draws an action marked "destructive" in the warning colour, hovered or not: the one item
// of the row menu that loses data.
class RowMenu : public QMenu
{
public:
    using QMenu::QMenu;

protected:
    void initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const override
    {
        QMenu::initStyleOption(option, action);
        if (!action || !action->property("destructive").toBool())
            return;
        for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText,
                                               QPalette::ButtonText, QPalette::HighlightedText})
            option->palette.setColor(role, Brisel::gold());
    }
};

} // namespace

ClipListView::ClipListView(PanelModel &model, ClipActions &actions, ClipRowDelegate &delegate,
                           QWidget *parent)
    : QListView(parent), m_model(model), m_actions(actions)
{
    setModel(&model);
    setItemDelegate(&delegate);
    setFocusPolicy(Qt::NoFocus);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(false);
    setViewportMargins(0, 4, 0, 4);
    verticalScrollBar()->setSingleStep(24);
    setStyleSheet(
        QStringLiteral(
            "QListView { background: transparent; border: none; }"
            "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
            "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 24px; }"
            "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
            "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }")
            .arg(Brisel::border().name()));

    connect(this, &QListView::clicked, this, [this](const QModelIndex &index) {
        const Clip &clip = m_model.clipAt(index.row());
        if (!clip.id.isEmpty())
            m_actions.paste(clip, false);
    });
    connect(&m_model, &PanelModel::selectionChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&m_model, &PanelModel::scrollTargetChanged, this, &ClipListView::scrollToTarget);
    connect(&m_model, &PanelModel::queryChanged, viewport(), qOverload<>(&QWidget::update));
}

void ClipListView::scrollToTarget()
{
    const std::optional<QString> target = m_model.scrollTarget();
    if (!target)
        return;
    const int row = m_model.rowOf(*target);
    if (row >= 0)
        scrollTo(m_model.index(row), QAbstractItemView::EnsureVisible);
}

QString ClipListView::emptyText() const
{
    return m_model.query().isEmpty() ? QStringLiteral("Nothing captured yet — copy something.")
                                     : QStringLiteral("No matches.");
}

void ClipListView::paintEvent(QPaintEvent *event)
{
    if (m_model.rowCount() > 0) {
        QListView::paintEvent(event);
        return;
    }
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const int symbolSide = 28;
    const int top = 80 - 4; // below the list's top padding
    const QRect area = viewport()->rect();
    painter.drawPixmap(QRect(area.center().x() - symbolSide / 2, top, symbolSide, symbolSide),
                       Symbols::pixmap(Symbol::Clipboard, symbolSide, Brisel::faint()));
    const QFont font = Fonts::ui(13);
    painter.setFont(font);
    painter.setPen(Brisel::dim());
    painter.drawText(QRect(area.left() + 12, top + symbolSide + 8, area.width() - 24,
                           QFontMetrics(font).height() * 2),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, emptyText());
}

QMenu *ClipListView::buildContextMenu(const Clip &clip, QWidget *parent) const
{
    auto *menu = new RowMenu(parent);
    ClipActions *actions = &m_actions;
    menu->addAction(QStringLiteral("Paste"), actions,
                    [actions, clip] { actions->paste(clip, false); });
    menu->addAction(QStringLiteral("Paste as Plain Text"), actions,
                    [actions, clip] { actions->paste(clip, true); });
    menu->addAction(QStringLiteral("Copy (no paste)"), actions,
                    [actions, clip] { actions->copyWithoutPaste(clip); });
    menu->addSeparator();
    QMenu *pasteAs = menu->addMenu(QStringLiteral("Paste as…"));
    for (const Transform transform : Transforms::allTransforms()) {
        pasteAs->addAction(Transforms::displayName(transform), actions,
                           [actions, clip, transform] { actions->paste(clip, true, transform); });
    }
    QMenu *extract = menu->addMenu(QStringLiteral("Copy extracted…"));
    for (const Extractor extractor : Transforms::allExtractors()) {
        extract->addAction(Transforms::displayName(extractor), actions,
                           [actions, clip, extractor] { actions->copyExtracted(clip, extractor); });
    }
    menu->addSeparator();
    menu->addAction(clip.pinned ? QStringLiteral("Unpin") : QStringLiteral("Pin as Favorite"),
                    actions, [actions, clip] { actions->togglePin(clip); });
    menu->addAction(QStringLiteral("Rename…"), actions, [actions, clip] { actions->rename(clip); });
    menu->addAction(QStringLiteral("Preview"), actions,
                    [actions, clip] { actions->preview(clip); });
    menu->addSeparator();
    QAction *remove = menu->addAction(QStringLiteral("Delete"), actions,
                                      [actions, clip] { actions->remove(clip); });
    remove->setProperty("destructive", true);
    return menu;
}

void ClipListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    const Clip clip = m_model.clipAt(index.row());
    QMenu *menu = buildContextMenu(clip, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
