#include "ocr/RecognizerLibrary.h"

#include "core/InstallLayout.h"
#include "ocr/TextRecognizer.h"

#include <QFileInfo>

#include <mutex>

#include <dlfcn.h>

namespace RecognizerLibrary {

namespace {

using Factory = TextRecognizer *(*)();

Factory loadFactory(QString *error)
{
    static std::mutex mutex;
    static Factory factory = nullptr;
    std::lock_guard lock(mutex);
    if (factory)
        return factory;
    QString tried;
    for (const QString &path :
         InstallLayout::running().privateLibraryPaths(QStringLiteral("ulvane-ocr.so"))) {
        if (!QFileInfo::exists(path)) {
            tried = path;
            continue;
        }
        // Never closed: Tesseract keeps process-wide state that must outlive every recogniser.
        void *library = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            *error = QString::fromLocal8Bit(::dlerror());
            return nullptr;
        }
        factory = reinterpret_cast<Factory>(::dlsym(library, "ulvane_create_text_recognizer"));
        if (!factory)
            *error = path + QStringLiteral(" has no recogniser");
        return factory;
    }
    *error = QStringLiteral("the text recognition library is missing (") + tried + u')';
    return nullptr;
}

} // namespace

std::unique_ptr<TextRecognizer> create(QString *error)
{
    const Factory factory = loadFactory(error);
    return factory ? std::unique_ptr<TextRecognizer>(factory()) : nullptr;
}

} // namespace RecognizerLibrary
