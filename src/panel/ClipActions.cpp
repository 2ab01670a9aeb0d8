#include "panel/ClipActions.h"

#include "core/Log.h"
#include "panel/PanelModel.h"
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

ClipActions::ClipActions(PanelModel &model, Store &store, PasteService &paste, QObject *parent)
    : QObject(parent), m_model(model), m_store(store), m_paste(paste),
      m_renamePrompt(&ClipActions::defaultRenamePrompt)
{}

void ClipActions::paste(const Clip &clip, bool plain, std::optional<Transform> transform)
{
    m_model.requestHide();
    // The pause lets the window manager move focus back before the key stroke is sent.
    PasteService *const service = &m_paste;
    const PasteTarget target = m_pasteTarget;
    QTimer::singleShot(pasteDelayMs, this, [service, clip, plain, target, transform] {
        service->paste(clip, plain, target, transform);
    });
}

void ClipActions::pasteRow(int row, bool plain)
{
    if (row >= 0 && row < m_model.count())
        paste(m_model.clipAt(row), plain);
}

void ClipActions::copyWithoutPaste(const Clip &clip)
{
    m_paste.writeFlavors(clip);
    m_model.requestHide();
}

void ClipActions::copyExtracted(const Clip &clip, Extractor extractor)
{
    const QString text = m_store.plainText(clip.id).value_or(QString());
    const QStringList values = Transforms::extract(extractor, text);
    // Nothing found: keep what the user had on the clipboard and leave the panel open, so
    // the empty result is visible as "nothing happened" rather than a cleared clipboard.
    if (values.isEmpty())
        return;
    m_paste.writePlain(values.join(QLatin1Char('\n')));
    m_model.requestHide();
}

void ClipActions::togglePin(const Clip &clip)
{
    m_store.setPinned(clip.id, !clip.pinned);
}

void ClipActions::remove(const Clip &clip)
{
    m_store.remove(clip.id);
}

void ClipActions::rename(const Clip &clip)
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

void ClipActions::preview(const Clip &clip)
{
    m_model.setPreview(clip);
}

std::optional<QString> ClipActions::defaultRenamePrompt(const Clip &clip)
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
