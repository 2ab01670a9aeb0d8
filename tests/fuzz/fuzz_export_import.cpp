// Export files come from anywhere: another machine, another version, a hand edit.
#include "exchange/ExportImport.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {
QTemporaryDir *folder = nullptr;
Store *store = nullptr;
int runs = 0;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = new QTemporaryDir;
    store = new Store(folder->path() + QStringLiteral("/store"));
    store->setHistoryCap(50);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qint64 before = store->count();
    const ExportImport::ImportResult result = ExportImport::importData(bytes, *store);
    if (result.imported < 0 || result.skipped < 0 || store->count() < 0)
        std::abort();
    if (result.imported == 0 && store->count() != before)
        std::abort();
    // A store that went through any import still exports and re-imports cleanly.
    if (++runs % 64 == 0) {
        const auto exported = ExportImport::exportAll(*store);
        if (!exported)
            std::abort();
        const auto again = ExportImport::importData(*exported, *store);
        if (again.imported != 0)
            std::abort();
        store->clearHistory(false);
    }
    return 0;
}
