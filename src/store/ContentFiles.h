#pragma once

#include "core/Flavor.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <chrono>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

// The files of the entries in a store folder: Content/<id>.json snapshots and
// Thumbs/<id>.png thumbnails, written readable by the owner only. Clipboard history holds
// secrets, so the folders are narrowed to the owner as well.
class ContentFiles
{
public:
    // Ids named like the ones the store generates, found in the folders: candidates for a
    // sweep, listed before the rows are read so a file whose row commits in between is kept.
    struct Listing
    {
        std::vector<std::string> contentIds;
        std::vector<std::string> thumbIds;
        bool isEmpty() const { return contentIds.empty() && thumbIds.empty(); }
    };

    // Makes the store folder and its two subfolders private, creating them when missing.
    explicit ContentFiles(const QString &dir);

    QString dir() const { return m_dir; }
    QString contentFolder() const;
    QString contentPath(const QString &id) const;
    QString thumbPath(const QString &id) const;

    // The content file, then the thumbnail when there is one. A failed content write is logged
    // and gives false; a failed thumbnail write is only logged (the picker draws none).
    bool write(const QString &id, const ItemList &items,
               const std::optional<QByteArray> &thumbnailPNG);
    void remove(const QString &id);

    std::optional<FlavorList> flavors(const QString &id) const;
    std::optional<QImage> image(const QString &id) const;
    std::optional<QString> plainText(const QString &id) const;
    std::optional<QImage> thumbnail(const QString &id) const;
    qint64 diskSize() const;

    Listing list() const;
    // Removes the listed files that have no row and are older than `settled`; returns how many.
    int removeUnlisted(const Listing &listing, const std::unordered_set<std::string> &rowIds,
                       std::chrono::milliseconds settled) const;

    // Writes bytes to a file readable by the owner only (0600), replacing it. On failure
    // returns false and sets *error to a description.
    static bool writePrivateFile(const QString &path, const QByteArray &bytes,
                                 QString *error = nullptr);

private:
    QString m_dir;
};
