#include "capture/ContentClassifier.h"

#include "core/Util.h"

#include <QBuffer>
#include <QImageReader>
#include <QLatin1String>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <QUrl>

#include <algorithm>
#include <array>
#include <bit>
#include <string_view>

namespace ContentClassifier {

namespace {

constexpr int maxURLGraphemes = 2047;
constexpr int minCodeGraphemes = 41;

// Keywords that rarely turn up in prose; the trailing blanks are part of them.
constexpr std::array<std::u16string_view, 11> codeKeywords = {
    u"func ", u"def ", u"const ", u"import ", u"class ", u"let ",
    u"var ",  u"=> {", u"#!/",    u"</",      u"});",
};

// For each ASCII character, the keywords (as bits) that begin with it.
constexpr std::array<quint16, 128> keywordsByFirstChar = [] {
    std::array<quint16, 128> table{};
    for (size_t k = 0; k < codeKeywords.size(); ++k)
        table[codeKeywords[k].front()] |= quint16(1u << k);
    return table;
}();

// Whether two different keywords occur. One pass over the text instead of one search per
// keyword: a pasted log of megabytes must not cost a tenth of a second.
bool hasTwoKeywords(QStringView text)
{
    quint16 found = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= keywordsByFirstChar.size())
            continue;
        quint16 candidates = keywordsByFirstChar[c] & ~found;
        while (candidates) {
            const int k = std::countr_zero(candidates);
            candidates &= quint16(candidates - 1);
            const std::u16string_view rest(text.utf16() + i, size_t(text.size() - i));
            if (rest.starts_with(codeKeywords[size_t(k)])) {
                found |= quint16(1u << k);
                if (std::popcount(found) == 2)
                    return true;
            }
        }
    }
    return false;
}

// Whether the text has at least `count` user-perceived characters, without segmenting all of a
// long text: the graphemes of a prefix cut at a code-point boundary never outnumber those of
// the whole text.
bool hasAtLeastGraphemes(const QString &text, qsizetype count)
{
    if (text.size() < count)
        return false;
    qsizetype window = count * 8 + 64;
    if (text.size() > window) {
        if (text.at(window - 1).isHighSurrogate())
            --window;
        if (Util::graphemeCount(text.left(window)) >= count)
            return true;
    }
    return Util::graphemeCount(text) >= count;
}

// Prefix test on user-perceived characters: "http://" followed by a combining mark does not
// begin with "http://", because the mark belongs to the slash.
bool startsWithWhole(const QString &text, QLatin1String prefix)
{
    if (!text.startsWith(prefix))
        return false;
    const qsizetype end = prefix.size();
    if (text.size() == end)
        return true;
    // A boundary depends only on what precedes it and the code point after it.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.left(end + 2));
    finder.setPosition(end);
    return finder.isAtBoundary();
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F') ||
           (u >= u'\uFF10' && u <= u'\uFF19') || (u >= u'\uFF21' && u <= u'\uFF26') ||
           (u >= u'\uFF41' && u <= u'\uFF46');
}

// The last path segment, percent-decoded; a folder's trailing slash does not count.
QString lastPathComponent(const QUrl &url)
{
    // Split the encoded path so an escaped slash stays inside its segment.
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        return QString();
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    if (path == QLatin1String("/"))
        return path;
    const QString segment = path.mid(path.lastIndexOf(u'/') + 1);
    return QUrl::fromPercentEncoding(segment.toUtf8());
}

std::optional<QString> fileName(const Flavor &flavor)
{
    const std::optional<QString> text = Util::decodeUtf8(flavor.data);
    if (!text)
        return std::nullopt;
    const QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString name = lastPathComponent(url);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

Classification classifyFiles(const FlavorList &flat)
{
    QStringList names;
    for (const Flavor &flavor : flat) {
        if (flavor.uti != Uti::fileUrl)
            continue;
        if (const std::optional<QString> name = fileName(flavor))
            names.append(*name);
    }
    return {ClipKind::File,
            names.isEmpty() ? QStringLiteral("File") : names.join(QLatin1String(", "))};
}

// Reads the size from the image header only: a capture must not pay for a full decode of a
// large screenshot just to title it. Decodes only when the format cannot tell its size.
QString imageTitle(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return QStringLiteral("Image");
    QImageReader reader(&buffer);
    if (!reader.canRead())
        return QStringLiteral("Image");
    QSize size = reader.size();
    if (!size.isValid())
        size = reader.read().size();
    if (size.isEmpty())
        return QStringLiteral("Image");
    return QStringLiteral("Image %1\u00D7%2").arg(size.width()).arg(size.height());
}

const Flavor *firstImage(const FlavorList &flat)
{
    const auto it = std::find_if(flat.begin(), flat.end(), [](const Flavor &f) {
        return f.uti == Uti::png || f.uti == Uti::jpeg;
    });
    return it == flat.end() ? nullptr : &*it;
}

Classification classifyText(const FlavorList &flat, const QString &raw)
{
    // Shares the raw text when there is nothing to trim.
    const QStringView trimmedView = QStringView(raw).trimmed();
    const QString trimmed = trimmedView.size() == raw.size() ? raw : trimmedView.toString();
    if (Flavors::contains(flat, Uti::url) || looksLikeURL(trimmed))
        return {ClipKind::Link, Util::excerpt(trimmed, Util::excerptLimit)};
    if (looksLikeColor(trimmed))
        return {ClipKind::Color, trimmed};
    return {looksLikeCode(raw) ? ClipKind::Code : ClipKind::Text,
            Util::excerpt(raw, Util::excerptLimit)};
}

} // namespace

Classification classify(const FlavorList &flat)
{
    if (Flavors::contains(flat, Uti::fileUrl))
        return classifyFiles(flat);

    if (const Flavor *image = firstImage(flat))
        return {ClipKind::Image, imageTitle(image->data)};

    if (const Flavor *plain = Flavors::first(flat, Uti::plainText)) {
        if (const std::optional<QString> raw = Util::decodeUtf8(plain->data))
            return classifyText(flat, *raw);
    }

    if (const Flavor *url = Flavors::first(flat, Uti::url)) {
        if (const std::optional<QString> text = Util::decodeUtf8(url->data))
            return {ClipKind::Link, *text};
    }
    return {ClipKind::Text, QStringLiteral("Clip")};
}

bool looksLikeURL(const QString &text)
{
    // Cheapest tests first: most texts fail the prefix, and counting graphemes is a full scan.
    const bool schemed = startsWithWhole(text, QLatin1String("http://")) ||
                         startsWithWhole(text, QLatin1String("https://")) ||
                         startsWithWhole(text, QLatin1String("ftp://"));
    return schemed && !text.contains(u'\n') && !hasAtLeastGraphemes(text, maxURLGraphemes + 1);
}

bool looksLikeColor(const QString &text)
{
    // Hex digits are single code points that never combine with a neighbour, so code units
    // stand for user-perceived characters here.
    QStringView digits(text);
    if (digits.startsWith(u'#'))
        digits = digits.mid(1);
    if (digits.size() != 6 && digits.size() != 8)
        return false;
    return std::all_of(digits.begin(), digits.end(), isHexDigit);
}

bool looksLikeCode(const QString &text)
{
    if (!hasAtLeastGraphemes(text, minCodeGraphemes))
        return false;
    if (hasTwoKeywords(text))
        return true;
    return text.contains(u'{') && text.contains(u';') && text.contains(u'\n');
}

} // namespace ContentClassifier
