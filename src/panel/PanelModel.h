#pragma once

#include "core/Clip.h"
#include "paste/Transforms.h"
#include "platform/PasteTarget.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class PasteService;
class QTimer;
class Store;

// The state behind the picker: what was typed, which tab is active, the rows on show, the
// selected row and the previewed clip. It turns that state into store queries, keeps the
// selection on the same clip when the list changes under it, and starts the actions that leave
// the picker (paste, copy extracted values, rename).
//
// Every assignment to an observable property notifies, even when the value is unchanged: the
// views treat a notification as "redraw", and a repeated scroll request must scroll again.
// Lives on the main thread.
class PanelModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(int filter READ filterValue WRITE setFilterValue NOTIFY filterChanged)
    Q_PROPERTY(QList<Clip> clips READ clips NOTIFY clipsChanged)
    Q_PROPERTY(int count READ count NOTIFY clipsChanged)
    Q_PROPERTY(int selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(bool hasPreview READ hasPreview NOTIFY previewChanged)
    Q_PROPERTY(Clip previewClip READ previewClip NOTIFY previewChanged)
    Q_PROPERTY(int focusTick READ focusTick NOTIFY focusTickChanged)
    Q_PROPERTY(QString scrollTarget READ scrollTargetId NOTIFY scrollTargetChanged)

public:
    // The longest list the picker shows; longer histories are reached by searching.
    static constexpr int searchLimit = 400;
    // Long enough to swallow a burst of keystrokes, short enough to feel live.
    static constexpr int refreshDelayMs = 120;
    // Lets the window be ordered out, so the key stroke reaches the application underneath.
    static constexpr int pasteDelayMs = 50;

    // Asks the user for a new title; none when the user cancelled.
    using RenamePrompt = std::function<std::optional<QString>(const Clip &)>;

    PanelModel(Store &store, PasteService &paste, QObject *parent = nullptr);
    ~PanelModel() override;

    QString query() const { return m_query; }
    void setQuery(const QString &query);

    ClipFilter filter() const { return m_filter; }
    void setFilter(ClipFilter filter);
    int filterValue() const { return static_cast<int>(m_filter); }
    // Values outside the tab list are ignored.
    void setFilterValue(int value);

    // By value: a store change refreshes the list, so a reference could dangle in a caller
    // that pins or deletes while iterating.
    QList<Clip> clips() const { return m_clips; }
    int count() const { return int(m_clips.size()); }

    int selection() const { return m_selection; }
    void setSelection(int selection);
    std::optional<Clip> selectedClip() const;

    std::optional<Clip> preview() const { return m_preview; }
    void setPreview(const std::optional<Clip> &preview);
    bool hasPreview() const { return m_preview.has_value(); }
    Clip previewClip() const { return m_preview.value_or(Clip()); }

    int focusTick() const { return m_focusTick; }

    std::optional<QString> scrollTarget() const { return m_scrollTarget; }
    QString scrollTargetId() const { return m_scrollTarget.value_or(QString()); }

    // Set by the controller to order the panel window out.
    void setRequestHide(std::function<void()> requestHide)
    {
        m_requestHide = std::move(requestHide);
    }
    // Orders the panel out through the controller's callback (nothing without one).
    void requestHide() const;
    // Replaces the modal rename dialog (tests, or a controller with its own dialog).
    void setRenamePrompt(RenamePrompt prompt) { m_renamePrompt = std::move(prompt); }
    // The modal "Rename Clip" dialog; none without a widget application.
    static std::optional<QString> defaultRenamePrompt(const Clip &clip);

    void onShow();
    // Where pastes from this showing go; taken as the picker comes up.
    void setPasteTarget(const PasteTarget &target) { m_pasteTarget = target; }
    void scheduleRefresh();
    void refresh(bool keepSelection);
    void moveSelection(int step);
    void togglePreview();
    void paste(int index, bool plain);
    void performPaste(const Clip &clip, bool plain,
                      std::optional<Transform> transform = std::nullopt);
    void copyExtracted(const Clip &clip, Extractor extractor);
    void rename(const Clip &clip);

Q_SIGNALS:
    void queryChanged();
    void filterChanged();
    void clipsChanged();
    void selectionChanged();
    void previewChanged();
    void focusTickChanged();
    void scrollTargetChanged();

private:
    void setClips(QList<Clip> clips);
    void setScrollTarget(const std::optional<QString> &id);
    int indexOf(const QString &id) const;

    Store &m_store;
    PasteService &m_paste;
    PasteTarget m_pasteTarget;
    QTimer *m_refreshTimer;
    std::function<void()> m_requestHide;
    RenamePrompt m_renamePrompt;

    QString m_query;
    ClipFilter m_filter = ClipFilter::All;
    QList<Clip> m_clips;
    int m_selection = 0;
    std::optional<Clip> m_preview;
    int m_focusTick = 0;
    std::optional<QString> m_scrollTarget;
};
