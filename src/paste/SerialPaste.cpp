#include "paste/SerialPaste.h"

#include "paste/PasteService.h"
#include "store/Store.h"

SerialPaste::SerialPaste(PasteService &paste, Store &store, QObject *parent)
    : QObject(parent), m_paste(paste), m_store(store)
{}

void SerialPaste::toggleRecording()
{
    const bool wasRecording = m_recording;
    const int oldLength = queueLength();
    m_recording = !m_recording;
    if (m_recording)
        m_queue.clear();
    announce(wasRecording, oldLength);
}

void SerialPaste::recordIfNeeded(const QString &id)
{
    if (!m_recording)
        return;
    const int oldLength = queueLength();
    m_queue.append(id);
    announce(m_recording, oldLength);
}

void SerialPaste::pasteNext()
{
    if (m_queue.isEmpty())
        return;
    const int oldLength = queueLength();
    const QString id = m_queue.takeFirst();

    // Serial paste goes to whatever window is active: its hot key leaves the focus alone.
    const PasteTarget activeWindow;
    if (const std::optional<QString> text = m_store.plainText(id)) {
        // Text goes back as text only; the entry keeps its place in the history.
        m_paste.pasteText(*text, activeWindow);
    } else {
        if (const std::optional<Clip> clip = m_store.clip(id))
            m_paste.paste(*clip, false, activeWindow);
    }
    announce(m_recording, oldLength);
}

void SerialPaste::clear()
{
    const bool wasRecording = m_recording;
    const int oldLength = queueLength();
    m_queue.clear();
    m_recording = false;
    announce(wasRecording, oldLength);
}

void SerialPaste::announce(bool wasRecording, int oldLength)
{
    if (wasRecording != m_recording)
        Q_EMIT recordingChanged(m_recording);
    if (oldLength != queueLength())
        Q_EMIT queueLengthChanged(queueLength());
    Q_EMIT changed();
}
