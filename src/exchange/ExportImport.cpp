#include "exchange/ExportImport.h"

#include "core/Log.h"
#include "core/Util.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>

namespace ExportImport {

namespace {

const QString kAppBundle = QStringLiteral("appBundle");
const QString kAppName = QStringLiteral("appName");
const QString kContent = QStringLiteral("content");
const QString kCreated = QStringLiteral("created");
const QString kExcerpt = QStringLiteral("excerpt");
const QString kId = QStringLiteral("id");
const QString kKind = QStringLiteral("kind");
const QString kPinned = QStringLiteral("pinned");
const QString kTitle = QStringLiteral("title");

struct Entry
{
    QString id;
    double created = 0;
    QString kind;
    QString excerpt;
    QString title;
    QString appId;
    QString appName;
    bool pinned = false;
    PBContent content;
};

bool isInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    return std::isfinite(d) && d == std::trunc(d);
}

std::optional<Entry> decodeEntry(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    for (const QString *key : {&kId, &kKind, &kExcerpt, &kTitle, &kAppBundle, &kAppName}) {
        if (!o.value(*key).isString())
            return std::nullopt;
    }
    if (!o.value(kCreated).isDouble() || !o.value(kPinned).isBool() ||
        !o.value(kContent).isObject())
        return std::nullopt;
    std::optional<PBContent> content = PBContent::fromJsonObject(o.value(kContent).toObject());
    if (!content)
        return std::nullopt;
    Entry e;
    e.id = o.value(kId).toString();
    e.created = o.value(kCreated).toDouble();
    e.kind = o.value(kKind).toString();
    e.excerpt = o.value(kExcerpt).toString();
    e.title = o.value(kTitle).toString();
    e.appId = o.value(kAppBundle).toString();
    e.appName = o.value(kAppName).toString();
    e.pinned = o.value(kPinned).toBool();
    e.content = std::move(*content);
    return e;
}

std::optional<QList<Entry>> decodeDocument(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (!isInteger(root.value(QLatin1String("version"))) ||
        !root.value(QLatin1String("exportedAt")).isDouble() ||
        !root.value(QLatin1String("entries")).isArray())
        return std::nullopt;
    QList<Entry> entries;
    const QJsonArray array = root.value(QLatin1String("entries")).toArray();
    entries.reserve(array.size());
    for (const QJsonValue &value : array) {
        std::optional<Entry> entry = decodeEntry(value);
        if (!entry)
            return std::nullopt; // one bad entry makes the document unreadable
        entries.append(std::move(*entry));
    }
    return entries;
}

} // namespace

std::optional<QByteArray> exportAll(Store &store)
{
    QJsonArray entries;
    const QList<Clip> clips = store.search(QString(), ClipFilter::All, 100000);
    for (const Clip &clip : clips) {
        QFile file(store.contentPath(clip.id));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const std::optional<PBContent> content = PBContent::fromJson(file.readAll());
        if (!content)
            continue;
        entries.append(QJsonObject{
            {kAppBundle, clip.appId},
            {kAppName, clip.appName},
            {kContent, content->toJsonObject()},
            {kCreated, clip.created},
            {kExcerpt, clip.excerpt},
            {kId, clip.id},
            {kKind, ClipKinds::rawValue(clip.kind)},
            {kPinned, clip.pinned},
            {kTitle, clip.title},
        });
    }
    const QJsonObject root{{QStringLiteral("entries"), entries},
                           {QStringLiteral("exportedAt"), Util::now()},
                           {QStringLiteral("version"), 1}};
    QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

ImportResult importData(const QByteArray &data, Store &store)
{
    ImportResult result;
    std::optional<QList<Entry>> entries = decodeDocument(data);
    if (!entries)
        return result;
    std::stable_sort(entries->begin(), entries->end(),
                     [](const Entry &a, const Entry &b) { return a.created < b.created; });

    for (const Entry &entry : *entries) {
        NewClip clip;
        clip.items = entry.content.decodedItems(/*dropEmptyItems=*/true);
        if (clip.items.isEmpty())
            continue;
        clip.id = entry.id;
        clip.created = entry.created;
        clip.kind = ClipKinds::fromRawValue(entry.kind).value_or(ClipKind::Text);
        clip.excerpt = entry.excerpt;
        clip.title = entry.title;
        clip.appId = entry.appId;
        clip.appName = entry.appName;
        clip.pinned = entry.pinned;
        clip.ifStored = NewClip::IfStored::Skip;
        bool alreadyStored = false;
        if (store.add(clip, &alreadyStored))
            ++result.imported;
        else if (alreadyStored)
            ++result.skipped;
        // otherwise no row, no entry: counted nowhere
    }
    return result;
}

} // namespace ExportImport
