#include "panel/ClipListView.h"

#include "panel/ClipListModel.h"
#include "panel/ClipRowDelegate.h"
#include "panel/PanelModel.h"
#include "panel/Symbols.h"
#include "panel/Theme.h"
#include "paste/PasteService.h"
#include "paste/Transforms.h"
#include "store/Store.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

ClipListView::ClipListView(PanelModel &model, Store &store, PasteService &paste,
                           ClipListModel &rows, ClipRowDelegate &delegate, QWidget *parent)
    : QListView(parent), m_model(model), m_store(store), m_paste(paste), m_rows(rows)
{
    setModel(&rows);
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
        const Clip clip = m_rows.clipAt(index.row());
        if (!clip.id.isEmpty())
            m_model.performPaste(clip, false);
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
    const int row = m_rows.rowOf(*target);
    if (row >= 0)
        scrollTo(m_rows.index(row), QAbstractItemView::EnsureVisible);
}

QString ClipListView::emptyText() const
{
    return m_model.query().isEmpty() ? QStringLiteral("Nothing captured yet — copy something.")
                                     : QStringLiteral("No matches.");
}

void ClipListView::paintEvent(QPaintEvent *event)
{
    if (m_rows.rowCount() > 0) {
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
    auto *menu = new QMenu(parent);
    PanelModel *model = &m_model;
    Store *store = &m_store;
    PasteService *paste = &m_paste;
    menu->addAction(QStringLiteral("Paste"), model,
                    [model, clip] { model->performPaste(clip, false); });
    menu->addAction(QStringLiteral("Paste as Plain Text"), model,
                    [model, clip] { model->performPaste(clip, true); });
    menu->addAction(QStringLiteral("Copy (no paste)"), model, [model, paste, clip] {
        paste->writeFlavors(clip);
        model->requestHide();
    });
    menu->addSeparator();
    QMenu *pasteAs = menu->addMenu(QStringLiteral("Paste as…"));
    for (const Transform transform : Transforms::allTransforms()) {
        pasteAs->addAction(Transforms::displayName(transform), model, [model, clip, transform] {
            model->performPaste(clip, true, transform);
        });
    }
    QMenu *extract = menu->addMenu(QStringLiteral("Copy extracted…"));
    for (const Extractor extractor : Transforms::allExtractors()) {
        extract->addAction(Transforms::displayName(extractor), model,
                           [model, clip, extractor] { model->copyExtracted(clip, extractor); });
    }
    menu->addSeparator();
    menu->addAction(clip.pinned ? QStringLiteral("Unpin") : QStringLiteral("Pin as Favorite"),
                    model, [store, clip] { store->setPinned(clip.id, !clip.pinned); });
    menu->addAction(QStringLiteral("Rename…"), model, [model, clip] { model->rename(clip); });
    menu->addAction(QStringLiteral("Preview"), model, [model, clip] { model->setPreview(clip); });
    menu->addSeparator();
    QAction *remove =
        menu->addAction(QStringLiteral("Delete"), model, [store, clip] { store->remove(clip.id); });
    // Shown in the warning colour: the one item that loses data.
    remove->setProperty("destructive", true);
    return menu;
}

void ClipListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    const Clip clip = m_rows.clipAt(index.row());
    QMenu *menu = buildContextMenu(clip, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
