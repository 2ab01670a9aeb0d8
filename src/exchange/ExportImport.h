#pragma once

#include <optional>
#include <QByteArray>

class Store;

// Moves the history between stores as one JSON document:
// {"entries":[...],"exportedAt":<seconds>,"version":1}, keys sorted, compact.
namespace ExportImport {

struct ImportResult
{
    int imported = 0; // entries that became rows
    int skipped = 0;  // entries whose content was already present

    friend bool operator==(const ImportResult &, const ImportResult &) = default;
};

// Every clip with its content, newest first; clips whose content file is unreadable are left
// out. Absent when encoding fails.
std::optional<QByteArray> exportAll(Store &store);

// Oldest entry first; duplicates by content digest are skipped. An undecodable document
// (not JSON, a key missing, a wrong type) changes nothing and gives (0, 0).
ImportResult importData(const QByteArray &data, Store &store);

} // namespace ExportImport
