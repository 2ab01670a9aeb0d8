#include "platform/x11/X11PasteboardTypes.h"

#include <QMimeData>
#include <QSet>

#include <algorithm>

namespace X11PasteboardTypes {

namespace {

enum class Kind { Text, Rtf, Html, Png, Jpeg, Tiff, UriList, MozUrl, PasswordHint, Other };

// One kind of content in the offer, at the position of its first target. Text and RTF may
// come under several targets; they are tried in order of preference.
struct Source
{
    Kind kind;
    QStringList targets;
};

QString normalized(const QString &target)
{
    QString t = target.toLower();
    t.remove(QLatin1Char(' '));
    return t;
}

// Lower is better; -1 for targets that carry no plain text. UTF8_STRING comes first: it
// carries the text as the application holds it, while GTK converts its MIME text targets to
// the canonical \r\n line ends, which the user never typed.
int textRank(const QString &target)
{
    const QString t = normalized(target);
    if (target == QLatin1String("UTF8_STRING"))
        return 0;
    if (t == QLatin1String("text/plain;charset=utf-8"))
        return 1;
    if (t == QLatin1String("text/plain"))
        return 2;
    if (target == QLatin1String("STRING"))
        return 3;
    if (target == QLatin1String("TEXT"))
        return 4;
    if (target == QLatin1String("COMPOUND_TEXT"))
        return 5;
    return -1;
}

Kind kindOf(const QString &target)
{
    if (textRank(target) >= 0)
        return Kind::Text;
    const QString t = normalized(target);
    if (t == QLatin1String("text/rtf") || t == QLatin1String("application/rtf"))
        return Kind::Rtf;
    if (t == QLatin1String("text/html"))
        return Kind::Html;
    if (t == QLatin1String("image/png"))
        return Kind::Png;
    if (t == QLatin1String("image/jpeg"))
        return Kind::Jpeg;
    if (t == QLatin1String("image/tiff"))
        return Kind::Tiff;
    if (t == uriListTarget)
        return Kind::UriList;
    if (t == mozUrlTarget)
        return Kind::MozUrl;
    if (target == passwordHintTarget)
        return Kind::PasswordHint;
    return Kind::Other;
}

QList<Source> sourcesOf(const QStringList &targets)
{
    QList<Source> sources;
    QSet<QString> seen;
    for (const QString &target : targets) {
        if (target.isEmpty() || isProtocolTarget(target) || seen.contains(target))
            continue;
        seen.insert(target);
        const Kind kind = kindOf(target);
        // Unknown targets each stand alone; looking for their kind's group would make an
        // offer of thousands of targets cost quadratic time on the capture path.
        if (kind != Kind::Other) {
            auto existing = std::find_if(sources.begin(), sources.end(),
                                         [kind](const Source &s) { return s.kind == kind; });
            if (existing != sources.end()) {
                existing->targets.append(target);
                continue;
            }
        }
        sources.append({kind, {target}});
    }
    for (Source &source : sources) {
        if (source.kind == Kind::Text)
            std::stable_sort(
                source.targets.begin(), source.targets.end(),
                [](const QString &a, const QString &b) { return textRank(a) < textRank(b); });
    }
    return sources;
}

QStringList utisOf(const Source &source)
{
    switch (source.kind) {
    case Kind::Text:
        return {Uti::plainText};
    case Kind::Rtf:
        return {Uti::rtf};
    case Kind::Html:
        return {Uti::html};
    case Kind::Png:
        return {Uti::png};
    case Kind::Jpeg:
        return {Uti::jpeg};
    case Kind::Tiff:
        return {Uti::tiff};
    case Kind::UriList:
        return {Uti::fileUrl, Uti::url};
    case Kind::MozUrl:
        return {Uti::url, Uti::urlName};
    case Kind::PasswordHint:
        return {concealedUti, source.targets.first()};
    case Kind::Other:
        break;
    }
    return {source.targets.first()};
}

QByteArray withoutTrailingNuls(QByteArray bytes)
{
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return bytes;
}

QString fromUtf16(const QByteArray &bytes, qsizetype start, bool littleEndian)
{
    QString text;
    text.reserve((bytes.size() - start) / 2);
    for (qsizetype i = start; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<uchar>(bytes[littleEndian ? i : i + 1]);
        const auto hi = static_cast<uchar>(bytes[littleEndian ? i + 1 : i]);
        text.append(QChar(static_cast<char16_t>(lo | (hi << 8))));
    }
    return text;
}

// UTF-16 when a byte-order mark or the zero high bytes of Latin text say so, else UTF-8.
QString decodeUnicode(const QByteArray &bytes)
{
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<uchar>(bytes[0]);
        const auto b1 = static_cast<uchar>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE)
            return fromUtf16(bytes, 2, true);
        if (b0 == 0xFE && b1 == 0xFF)
            return fromUtf16(bytes, 2, false);
        if (b1 == 0 && b0 != 0)
            return fromUtf16(bytes, 0, true);
        if (b0 == 0 && b1 != 0)
            return fromUtf16(bytes, 0, false);
    }
    return QString::fromUtf8(bytes);
}

bool isAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<uchar>(c) < 0x80; });
}

// The text of a conversion as UTF-8, or empty when its encoding cannot be trusted.
QByteArray textAsUtf8(const Transfer &transfer, const QString &target)
{
    const QByteArray bytes = withoutTrailingNuls(transfer.data);
    const int rank = textRank(target);
    if (rank <= 2)
        return bytes;
    const QString declared = rank == 3 ? target : transfer.type;
    if (declared == QLatin1String("UTF8_STRING"))
        return bytes;
    if (declared == QLatin1String("STRING"))
        return QString::fromLatin1(bytes).toUtf8();
    // Compound text shares ASCII with UTF-8; anything beyond it needs an ISO 2022 decoder.
    return isAscii(bytes) ? bytes : QByteArray();
}

QByteArray htmlAsUtf8(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return withoutTrailingNuls(decodeUnicode(bytes).toUtf8());
    return bytes;
}

void addFlavor(FlavorList &item, const QString &uti, const QByteArray &data)
{
    if (data.isEmpty())
        return;
    const bool present =
        std::any_of(item.cbegin(), item.cend(), [&uti](const Flavor &f) { return f.uti == uti; });
    if (!present)
        item.append({uti, data});
}

bool isFileUri(const QString &uri)
{
    return uri.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
}

} // namespace

bool isProtocolTarget(const QString &target)
{
    static const QSet<QString> protocol = {
        QStringLiteral("TARGETS"),         QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"),       QStringLiteral("SAVE_TARGETS"),
        QStringLiteral("DELETE"),          QStringLiteral("INSERT_SELECTION"),
        QStringLiteral("INSERT_PROPERTY"), QStringLiteral("CLIPBOARD_MANAGER"),
    };
    return protocol.contains(target);
}

QStringList parseUriList(const QByteArray &body)
{
    QStringList uris;
    const QString text = QString::fromUtf8(withoutTrailingNuls(body));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString uri = line.trimmed();
        if (!uri.isEmpty() && !uri.startsWith(QLatin1Char('#')))
            uris.append(uri);
    }
    return uris;
}

MozUrl parseMozUrl(const QByteArray &body)
{
    QString text = decodeUnicode(body);
    while (text.endsWith(QChar(0)))
        text.chop(1);
    const QStringList lines = text.split(QLatin1Char('\n'));
    MozUrl result;
    result.url = lines.value(0).trimmed();
    result.title = lines.value(1).trimmed();
    return result;
}

std::optional<QStringList> offeredTypes(const QStringList &targets, const Fetch &fetch)
{
    QStringList types;
    // A set beside the list: offers of thousands of unknown targets list each of them.
    QSet<QString> added;
    auto add = [&types, &added](const QString &uti) {
        if (!added.contains(uti)) {
            added.insert(uti);
            types.append(uti);
        }
    };
    for (const Source &source : sourcesOf(targets)) {
        switch (source.kind) {
        case Kind::UriList:
            add(Uti::fileUrl);
            break;
        case Kind::PasswordHint: {
            const auto hint = fetch(source.targets.first());
            if (!hint)
                return std::nullopt;
            const bool secret = withoutTrailingNuls(hint->data).trimmed() == "secret";
            add(secret ? concealedUti : source.targets.first());
            break;
        }
        default:
            for (const QString &uti : utisOf(source))
                add(uti);
        }
    }
    return types;
}

std::optional<ItemList> readItems(const QStringList &targets, const QStringList &wantedUtis,
                                  const Fetch &fetch)
{
    FlavorList first;
    ItemList more;
    bool uriPlaced = false;
    auto wants = [&wantedUtis](const QString &uti) { return wantedUtis.contains(uti); };

    for (const Source &source : sourcesOf(targets)) {
        const QStringList utis = utisOf(source);
        if (std::none_of(utis.begin(), utis.end(), wants))
            continue;
        if (source.kind == Kind::Text || source.kind == Kind::Rtf) {
            // The preferred target may be refused or empty; the next one may still answer.
            for (const QString &target : source.targets) {
                const auto got = fetch(target);
                if (!got)
                    return std::nullopt;
                const QByteArray bytes =
                    source.kind == Kind::Text ? textAsUtf8(*got, target) : got->data;
                if (!bytes.isEmpty()) {
                    addFlavor(first, utis.first(), bytes);
                    break;
                }
            }
            continue;
        }

        const QString &target = source.targets.first();
        const auto got = fetch(target);
        if (!got)
            return std::nullopt;
        switch (source.kind) {
        case Kind::Html:
            addFlavor(first, Uti::html, htmlAsUtf8(got->data));
            break;
        case Kind::UriList:
            // X11 offers one item; each URI becomes an item of its own, the first one sharing
            // its item with every other type of the offer.
            for (const QString &uri : parseUriList(got->data)) {
                const QString uti = isFileUri(uri) ? Uti::fileUrl : Uti::url;
                if (!wants(uti))
                    continue;
                if (!uriPlaced)
                    addFlavor(first, uti, uri.toUtf8());
                else
                    more.append(FlavorList{{uti, uri.toUtf8()}});
                uriPlaced = true;
            }
            break;
        case Kind::MozUrl: {
            // Toolkits derive this target from a file list too; only a web link counts here.
            const MozUrl link = parseMozUrl(got->data);
            if (link.url.isEmpty() || isFileUri(link.url))
                break;
            if (wants(Uti::url))
                addFlavor(first, Uti::url, link.url.toUtf8());
            if (wants(Uti::urlName))
                addFlavor(first, Uti::urlName, link.title.toUtf8());
            break;
        }
        case Kind::PasswordHint: {
            const bool secret = withoutTrailingNuls(got->data).trimmed() == "secret";
            if (secret && wants(concealedUti))
                addFlavor(first, concealedUti, got->data);
            else if (!secret && wants(target))
                addFlavor(first, target, got->data);
            break;
        }
        default:
            addFlavor(first, utis.first(), got->data);
        }
    }

    if (!first.isEmpty())
        more.prepend(first);
    return more;
}

QMimeData *mimeDataFor(const ItemList &items)
{
    auto *mime = new QMimeData;
    QStringList fileUris;
    QString url;
    QString urlName;
    QSet<QString> written;
    for (const FlavorList &item : items) {
        for (const Flavor &flavor : item) {
            if (flavor.uti == Uti::fileUrl) {
                fileUris.append(QString::fromUtf8(flavor.data));
                continue;
            }
            // X11 has a single item: for everything but files the first item's flavor wins.
            if (written.contains(flavor.uti))
                continue;
            written.insert(flavor.uti);
            if (flavor.uti == Uti::plainText)
                mime->setText(QString::fromUtf8(flavor.data));
            else if (flavor.uti == Uti::rtf)
                mime->setData(QStringLiteral("text/rtf"), flavor.data);
            else if (flavor.uti == Uti::html)
                mime->setData(QStringLiteral("text/html"), flavor.data);
            else if (flavor.uti == Uti::png)
                mime->setData(QStringLiteral("image/png"), flavor.data);
            else if (flavor.uti == Uti::jpeg)
                mime->setData(QStringLiteral("image/jpeg"), flavor.data);
            else if (flavor.uti == Uti::tiff)
                mime->setData(QStringLiteral("image/tiff"), flavor.data);
            else if (flavor.uti == Uti::url)
                url = QString::fromUtf8(flavor.data);
            else if (flavor.uti == Uti::urlName)
                urlName = QString::fromUtf8(flavor.data);
            else if (flavor.uti == concealedUti)
                mime->setData(passwordHintTarget, QByteArrayLiteral("secret"));
            else
                mime->setData(flavor.uti, flavor.data);
        }
    }
    // File managers and most toolkits' widgets take links from the URI list alone.
    const QStringList uris = url.isEmpty() ? fileUris : fileUris + QStringList{url};
    if (!uris.isEmpty())
        mime->setData(uriListTarget, (uris.join(QStringLiteral("\r\n")) + "\r\n").toUtf8());
    if (!fileUris.isEmpty())
        mime->setData(gnomeFilesTarget, ("copy\n" + fileUris.join(QLatin1Char('\n'))).toUtf8());
    if (!url.isEmpty()) {
        // Browsers read this target as UTF-16 only.
        const QString body = url + QLatin1Char('\n') + (urlName.isEmpty() ? url : urlName);
        QByteArray utf16;
        utf16.reserve(body.size() * 2);
        for (const QChar c : body) {
            utf16.append(static_cast<char>(c.unicode() & 0xFF));
            utf16.append(static_cast<char>(c.unicode() >> 8));
        }
        mime->setData(mozUrlTarget, utf16);
    }
    return mime;
}

} // namespace X11PasteboardTypes
