#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class PasteService;
class Store;

// Records a run of copies and pastes them back one by one, oldest first. The queue lives only
// as long as the process; every change is announced by changed().
class SerialPaste : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool recording READ isRecording NOTIFY recordingChanged)
    Q_PROPERTY(int queueLength READ queueLength NOTIFY queueLengthChanged)

public:
    SerialPaste(PasteService &paste, Store &store, QObject *parent = nullptr);

    bool isRecording() const { return m_recording; }
    int queueLength() const { return int(m_queue.size()); }
    QStringList queue() const { return m_queue; }

    // Starting empties the queue (a recording always starts from nothing); stopping keeps it.
    void toggleRecording();
    // Called with each newly stored entry; queued only while recording.
    void recordIfNeeded(const QString &id);
    // Takes the oldest entry off the queue and pastes it. An entry gone from the history is
    // dropped without writing anything.
    void pasteNext();
    void clear();

Q_SIGNALS:
    void recordingChanged(bool recording);
    void queueLengthChanged(int length);
    // After every call that may change the recording or the queue.
    void changed();

private:
    void announce(bool wasRecording, int oldLength);

    PasteService &m_paste;
    Store &m_store;
    bool m_recording = false;
    QStringList m_queue;
};
