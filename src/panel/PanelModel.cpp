#include "panel/PanelModel.h"

#include "core/Log.h"
#include "paste/PasteService.h"
#include "store/Store.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

PanelModel::PanelModel(Store &store, PasteService &paste, QObject *parent)
    : QObject(parent), m_store(store), m_paste(paste), m_refreshTimer(new QTimer(this)),
      m_renamePrompt(&PanelModel::defaultRenamePrompt)
{
    // A child timer dies with the model, so a pending refresh never outlives it.
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setTimerType(Qt::PreciseTimer);
    m_refreshTimer->setInterval(refreshDelayMs);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] { refresh(false); });

    // The list follows every store change, also while the panel is hidden, so it is current
    // the moment the panel appears and pin/delete from the keyboard show at once.
    connect(&m_store, &Store::changed, this, [this] { refresh(true); });
}

PanelModel::~PanelModel() = default;

void PanelModel::setQuery(const QString &query)
{
    m_query = query;
    Q_EMIT queryChanged();
    scheduleRefresh();
}

void PanelModel::setFilter(ClipFilter filter)
{
    m_filter = filter;
    Q_EMIT filterChanged();
    refresh(false);
}

void PanelModel::setFilterValue(int value)
{
    const QList<ClipFilter> filters = ClipFilters::allCases();
    for (const ClipFilter filter : filters) {
        if (static_cast<int>(filter) == value) {
            setFilter(filter);
            return;
        }
    }
}

void PanelModel::setSelection(int selection)
{
    m_selection = selection;
    Q_EMIT selectionChanged();
}

std::optional<Clip> PanelModel::selectedClip() const
{
    if (m_selection < 0 || m_selection >= m_clips.size())
        return std::nullopt;
    return m_clips.at(m_selection);
}

void PanelModel::setPreview(const std::optional<Clip> &preview)
{
    m_preview = preview;
    Q_EMIT previewChanged();
}

void PanelModel::setClips(QList<Clip> clips)
{
    m_clips = std::move(clips);
    Q_EMIT clipsChanged();
}

void PanelModel::setScrollTarget(const std::optional<QString> &id)
{
    m_scrollTarget = id;
    Q_EMIT scrollTargetChanged();
}

int PanelModel::indexOf(const QString &id) const
{
    for (int i = 0; i < m_clips.size(); ++i) {
        if (m_clips.at(i).id == id)
            return i;
    }
    return -1;
}

void PanelModel::requestHide() const
{
    if (m_requestHide)
        m_requestHide();
}

void PanelModel::onShow()
{
    // The order matters: the list is current before the window shows, and the query's own
    // debounced refresh follows a moment later.
    setQuery(QString());
    setFilter(ClipFilter::All);
    setPreview(std::nullopt);
    setSelection(0);
    refresh(false);
    m_focusTick += 1;
    Q_EMIT focusTickChanged();
}

void PanelModel::scheduleRefresh()
{
    // Restarting drops the pending run: only the last keystroke of a burst queries.
    m_refreshTimer->start();
}

void PanelModel::refresh(bool keepSelection)
{
    std::optional<QString> remembered;
    if (keepSelection) {
        if (const std::optional<Clip> selected = selectedClip())
            remembered = selected->id;
    }

    setClips(m_store.search(m_query, m_filter, searchLimit));

    const int found = remembered ? indexOf(*remembered) : -1;
    if (found >= 0)
        setSelection(found);
    else if (!keepSelection || m_clips.isEmpty())
        setSelection(0);
    else // the selected clip left the list: stay at the same height, within the new list
        setSelection(std::min(m_selection, int(m_clips.size()) - 1));

    // A clip still listed keeps the record the preview opened with, so the pane does not
    // redraw on every unrelated store change.
    if (m_preview && indexOf(m_preview->id) < 0)
        setPreview(std::nullopt);
}

void PanelModel::moveSelection(int step)
{
    if (m_clips.isEmpty())
        return;
    const qint64 target = qint64(m_selection) + step;
    setSelection(int(std::clamp<qint64>(target, 0, m_clips.size() - 1)));
    const Clip &selected = m_clips.at(m_selection);
    setScrollTarget(selected.id);
    if (m_preview)
        setPreview(selected);
}

void PanelModel::togglePreview()
{
    setPreview(m_preview ? std::nullopt : selectedClip());
}

void PanelModel::paste(int index, bool plain)
{
    if (index < 0 || index >= m_clips.size())
        return;
    performPaste(m_clips.at(index), plain, std::nullopt);
}

void PanelModel::performPaste(const Clip &clip, bool plain, std::optional<Transform> transform)
{
    requestHide();
    // The pause lets the window manager move focus back before the key stroke is sent.
    PasteService *const service = &m_paste;
    const PasteTarget target = m_pasteTarget;
    QTimer::singleShot(pasteDelayMs, this, [service, clip, plain, target, transform] {
        service->paste(clip, plain, target, transform);
    });
}

void PanelModel::copyExtracted(const Clip &clip, Extractor extractor)
{
    const QString text = m_store.plainText(clip.id).value_or(QString());
    const QStringList values = Transforms::extract(extractor, text);
    // Nothing found: keep what the user had on the clipboard and leave the panel open, so
    // the empty result is visible as "nothing happened" rather than a cleared clipboard.
    if (values.isEmpty())
        return;
    m_paste.writePlain(values.join(QLatin1Char('\n')));
    requestHide();
}

void PanelModel::rename(const Clip &clip)
{
    if (!m_renamePrompt)
        return;
    const std::optional<QString> title = m_renamePrompt(clip);
    if (!title)
        return;
    // Stored as entered: an empty title clears the custom one. The store's change
    // notification refreshes the list with the row still selected.
    m_store.setTitle(clip.id, *title);
}

std::optional<QString> PanelModel::defaultRenamePrompt(const Clip &clip)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        Log::line(QStringLiteral("[Panel] rename needs a widget application"));
        return std::nullopt;
    }

    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Rename Clip"));
    auto *layout = new QVBoxLayout(&dialog);

    auto *message = new QLabel(QStringLiteral("Rename Clip"), &dialog);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    layout->addWidget(message);
    layout->addWidget(new QLabel(QStringLiteral("Custom title (searchable):"), &dialog));

    auto *field = new QLineEdit(clip.title, &dialog);
    field->setFixedSize(260, 24);
    layout->addWidget(field);

    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *save = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    save->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    // The picker never takes activation; the dialog must, or typing goes elsewhere.
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}
