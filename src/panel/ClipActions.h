#pragma once

#include "core/Clip.h"
#include "paste/Transforms.h"
#include "platform/PasteTarget.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class PanelModel;
class PasteService;
class Store;

// What the picker can do with one clip. The keys and the row's menu both call these, so each
// verb behaves the same whichever way the user reached it. Actions that leave the picker ask
// the model to order it out; a paste then goes to the window the user came from.
class ClipActions : public QObject
{
    Q_OBJECT

public:
    // Lets the window be ordered out, so the key stroke reaches the application underneath.
    static constexpr int pasteDelayMs = 50;

    // Asks the user for a new title; none when the user cancelled.
    using RenamePrompt = std::function<std::optional<QString>(const Clip &)>;

    ClipActions(PanelModel &model, Store &store, PasteService &paste, QObject *parent = nullptr);

    // Where pastes from this showing go; taken as the picker comes up.
    void setPasteTarget(const PasteTarget &target) { m_pasteTarget = target; }
    // Replaces the modal rename dialog (tests, or a controller with its own dialog).
    void setRenamePrompt(RenamePrompt prompt) { m_renamePrompt = std::move(prompt); }
    // The modal "Rename Clip" dialog; none without a widget application.
    static std::optional<QString> defaultRenamePrompt(const Clip &clip);

    void paste(const Clip &clip, bool plain, std::optional<Transform> transform = std::nullopt);
    // The quick-paste keys: the clip on that row, if there is one.
    void pasteRow(int row, bool plain);
    void copyWithoutPaste(const Clip &clip);
    void copyExtracted(const Clip &clip, Extractor extractor);
    void togglePin(const Clip &clip);
    void remove(const Clip &clip);
    void rename(const Clip &clip);
    void preview(const Clip &clip);

private:
    PanelModel &m_model;
    Store &m_store;
    PasteService &m_paste;
    PasteTarget m_pasteTarget;
    RenamePrompt m_renamePrompt;
};
