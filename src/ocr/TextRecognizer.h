#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <atomic>

struct RecognitionOutcome
{
    QString text;  // the lines found, empty for none
    QString error; // set when recognition failed
    // Languages whose data was missing when the models were loaded by this call.
    QStringList missingLanguages;
    bool cancelled = false;
};

// A text recogniser with its language models, loaded on first use. Used from one thread, except
// loaded(), which any thread may ask.
class TextRecognizer
{
public:
    virtual ~TextRecognizer() = default;

    virtual bool loaded() const = 0;
    // Takes the image by value so that each form of the picture is freed as soon as the next
    // one exists: a large picture's copies would otherwise add up.
    virtual RecognitionOutcome recognise(QImage image, std::atomic_bool &cancel) = 0;
    // Gives the models' memory back; the next picture loads them again.
    virtual void release() = 0;
};
