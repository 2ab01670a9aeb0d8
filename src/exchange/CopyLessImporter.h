#pragma once

#include "core/Clip.h"
#include "core/Flavor.h"

#include <optional>
#include <QString>

class OCRService;
class Store;

// Takes over the history of CopyLess 2 (a macOS clipboard manager) from its Core Data store,
// read only: the database is copied to a private temporary folder and opened there.
namespace CopyLessImporter {

struct Result
{
    int imported = 0;
    int skipped = 0;

    friend bool operator==(const Result &, const Result &) = default;
};

// CopyLess 2's sandbox container identifier (the folder under ~/Library/Containers).
QString containerIdentifier();
// "~/Library/Containers/<identifier>/Data/Library/Application Support/CopyLess/Stores/
// LocalStore" with the tilde expanded to the home folder; computed once.
QString containerStore();

// A content file larger than this is treated as unreadable (its row is dropped): one
// snapshot must not be able to exhaust memory. Clipboard images stay far below it.
inline constexpr qint64 maxContentFileSize = qint64(512) * 1024 * 1024;

// Absent means "store not found". Image clips are handed to `ocr` when given.
std::optional<Result> run(Store &store, const QString &storeFolder, OCRService *ocr);
std::optional<Result> run(Store &store); // containerStore(), OCRService::shared()

// The command-line form: prints one line, returns the exit status.
int runCLI();

ClipKind inferKind(const FlavorList &flat, const QString &excerpt);

} // namespace CopyLessImporter
