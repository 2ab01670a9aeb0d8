#pragma once

#include <QObject>
#include <QString>

class Store;

// Recognises the text of image clips so the history search finds them by the words they
// show. Work runs on one background thread, "vesk.ocr", at low priority, one image at a
// time in the order queued. The recognised lines go to the clip's ocr column; a single blank
// marks a clip that was processed and has no text (or could not be read), so it is not
// picked up again.
class OCRService : public QObject
{
    Q_OBJECT

public:
    // The service over Store::shared(), created on first use.
    static OCRService &shared();

    // A service over another store (tests, tools). Not started until the first request.
    explicit OCRService(Store &store, QObject *parent = nullptr);
    ~OCRService() override;

    // Schedules recognition of one clip; returns at once.
    void enqueue(const QString &id);
    // Schedules the clips still waiting (the 20 newest); returns at once.
    void processPendingBacklog();

    // Blocks until everything queued so far is done (tests, the command line).
    void waitUntilIdle();

Q_SIGNALS:
    // After each clip's ocr column was written, on the worker thread.
    void processed(const QString &id);

private:
    friend class OCRServiceProbe; // tests and benchmarks: the idle release

    // How long the queue must stay idle before the recogniser and its language models are
    // released (30 s by default).
    void setIdleReleaseDelay(int milliseconds);
    // Whether the language models are in memory right now.
    bool recogniserLoaded() const;

    class Worker;
    Worker *m_worker;
};
