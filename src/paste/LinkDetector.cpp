#include "paste/LinkDetector.h"

#include <QStringView>

#include <array>
#include <optional>

// A single left-to-right scan. Every candidate either becomes a link, after which the scan
// resumes behind it, or is given up after looking at a bounded stretch (a host name) or at a
// stretch that no later candidate can start inside (the tail of a scheme URL that held only
// punctuation, the local part of an e-mail address). So no input makes the scan quadratic.

namespace {

constexpr qsizetype maxHostLength = 253;
constexpr qsizetype maxLabelLength = 63;

struct Hit
{
    qsizetype end;
    QString url;
};

bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}
bool isAsciiAlnum(char16_t c)
{
    return isAsciiLetter(c) || isAsciiDigit(c);
}
char16_t asciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

// `word` is lower-case ASCII; the text matches it in any letter case, and only in ASCII (so
// no Unicode case folding turns "ſ" into an "s").
bool hasAsciiAt(QStringView text, qsizetype i, QStringView word)
{
    if (text.size() - i < word.size())
        return false;
    for (qsizetype k = 0; k < word.size(); ++k) {
        if (asciiLower(text.at(i + k).unicode()) != word.at(k).unicode())
            return false;
    }
    return true;
}

// A link does not start in the middle of an ASCII word ("xhttp://", "awww."), but may follow
// CJK or other text written without blanks.
bool followsAsciiWord(QStringView text, qsizetype i)
{
    return i > 0 && isAsciiAlnum(text.at(i - 1).unicode());
}

// Characters no link contains: white space, controls, the delimiters that quote URLs in
// plain text, invisible word-break hints and CJK punctuation, which in running CJK text
// follows a link without a blank.
bool endsLink(char32_t c)
{
    switch (c) {
    case u'<':
    case u'>':
    case u'"':
    case u'`':
    case 0x200B: // zero-width space
    case 0x2060: // word joiner
    case 0xFEFF: // zero-width no-break space
    case 0xFF01: // fullwidth ! ( ) , : ; ?
    case 0xFF08:
    case 0xFF09:
    case 0xFF0C:
    case 0xFF1A:
    case 0xFF1B:
    case 0xFF1F:
        return true;
    default:
        break;
    }
    if (c >= 0x3000 && c <= 0x303F) // CJK symbols and punctuation
        return true;
    return QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control ||
           QChar::category(c) == QChar::Other_Surrogate;
}

// Punctuation that ends a sentence or closes a quotation rather than a link.
bool isTrailingPunctuation(char16_t c)
{
    switch (c) {
    case u'.':
    case u',':
    case u';':
    case u':':
    case u'!':
    case u'?':
    case u'\'':
    case u'"':
    case 0x00AB: // « »
    case 0x00BB:
    case 0x2018: // ‘ ’
    case 0x2019:
    case 0x201C: // “ ”
    case 0x201D:
    case 0x2026: // …
    case 0x2039: // ‹ ›
    case 0x203A:
        return true;
    default:
        return false;
    }
}

constexpr std::array<char16_t, 3> openers{u'(', u'[', u'{'};
constexpr std::array<char16_t, 3> closers{u')', u']', u'}'};

// End of the run of link characters from `from`. A surrogate pair counts as one character,
// a lone surrogate ends the run.
qsizetype scanLinkCharacters(QStringView text, qsizetype from)
{
    qsizetype i = from;
    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            if (endsLink(QChar::surrogateToUcs4(c, text.at(i + 1))))
                break;
            i += 2;
            continue;
        }
        if (endsLink(c.unicode()))
            break;
        ++i;
    }
    return i;
}

// Drops sentence punctuation and closing brackets without a partner inside [from, end) from
// the end, so "(see https://host/a_(b))." keeps the link's own parenthesis.
qsizetype withoutTrailingPunctuation(QStringView text, qsizetype from, qsizetype end)
{
    std::array<int, 3> open{};
    std::array<int, 3> close{};
    for (qsizetype i = from; i < end; ++i) {
        for (size_t b = 0; b < openers.size(); ++b) {
            if (text.at(i) == openers[b])
                ++open[b];
            else if (text.at(i) == closers[b])
                ++close[b];
        }
    }
    while (end > from) {
        const char16_t last = text.at(end - 1).unicode();
        if (isTrailingPunctuation(last)) {
            --end;
            continue;
        }
        bool dropped = false;
        for (size_t b = 0; b < closers.size(); ++b) {
            if (last == closers[b] && close[b] > open[b]) {
                --close[b];
                --end;
                dropped = true;
            }
        }
        if (!dropped)
            break;
    }
    return end;
}

bool isTopLevelDomain(QStringView label)
{
    if (label.size() > 4 && hasAsciiAt(label, 0, u"xn--"))
        return true; // an internationalised domain in its ASCII form
    if (label.size() < 2)
        return false;
    for (QChar c : label) {
        if (!isAsciiLetter(c.unicode()))
            return false;
    }
    return true;
}

// End of the longest host name from `from` with at least `minLabels` dot-separated labels of
// ASCII letters, digits and inner hyphens, the last one a plausible top-level domain. A trailing
// hyphen or dot is not part of it. Looks at no more than a host name's maximum length.
std::optional<qsizetype> hostEnd(QStringView text, qsizetype from, int minLabels)
{
    const qsizetype limit = qMin(text.size(), from + maxHostLength + 1);
    std::optional<qsizetype> best;
    int labels = 0;
    qsizetype labelStart = from;
    while (labelStart < limit && isAsciiAlnum(text.at(labelStart).unicode())) {
        qsizetype runEnd = labelStart;
        while (runEnd < limit &&
               (isAsciiAlnum(text.at(runEnd).unicode()) || text.at(runEnd) == u'-'))
            ++runEnd;
        if (runEnd == limit && limit - from > maxHostLength)
            return std::nullopt;
        qsizetype labelEnd = runEnd;
        while (text.at(labelEnd - 1) == u'-')
            --labelEnd;
        if (labelEnd - labelStart > maxLabelLength)
            return std::nullopt;
        if (++labels >= minLabels &&
            isTopLevelDomain(text.sliced(labelStart, labelEnd - labelStart)))
            best = labelEnd;
        const bool dotFollows = runEnd + 1 < limit && text.at(runEnd) == u'.';
        if (labelEnd != runEnd || !dotFollows)
            break;
        labelStart = runEnd + 1;
    }
    return best;
}

// scheme://rest or mailto:rest, the scheme in any letter case, not glued to a preceding word.
std::optional<Hit> schemeLinkAt(QStringView text, qsizetype i)
{
    struct Scheme
    {
        QStringView name;
        QStringView separator;
    };
    static constexpr std::array<Scheme, 11> schemes{{
        {u"http", u"://"},
        {u"https", u"://"},
        {u"ftp", u"://"},
        {u"ftps", u"://"},
        {u"sftp", u"://"},
        {u"file", u"://"},
        {u"ssh", u"://"},
        {u"git", u"://"},
        {u"ws", u"://"},
        {u"wss", u"://"},
        {u"mailto", u":"},
    }};
    switch (asciiLower(text.at(i).unicode())) {
    case u'h':
    case u'f':
    case u's':
    case u'g':
    case u'w':
    case u'm':
        break;
    default:
        return std::nullopt;
    }
    if (followsAsciiWord(text, i))
        return std::nullopt;
    for (const Scheme &scheme : schemes) {
        const qsizetype separatorAt = i + scheme.name.size();
        if (!hasAsciiAt(text, i, scheme.name) || !hasAsciiAt(text, separatorAt, scheme.separator))
            continue;
        const qsizetype restStart = separatorAt + scheme.separator.size();
        const qsizetype end =
            withoutTrailingPunctuation(text, restStart, scanLinkCharacters(text, restStart));
        if (end == restStart)
            return std::nullopt;
        return Hit{end, text.sliced(i, end - i).toString()};
    }
    return std::nullopt;
}

// www.host.tld with an optional port and path; reported with "http://" in front.
std::optional<Hit> wwwLinkAt(QStringView text, qsizetype i)
{
    if (!hasAsciiAt(text, i, u"www."))
        return std::nullopt;
    // Inside a longer host name or an address it is not a host of its own.
    if (followsAsciiWord(text, i))
        return std::nullopt;
    if (i > 0) {
        const char16_t before = text.at(i - 1).unicode();
        if (before == u'.' || before == u'-' || before == u'_' || before == u'@')
            return std::nullopt;
    }
    const std::optional<qsizetype> host = hostEnd(text, i + 4, 2);
    if (!host)
        return std::nullopt;
    qsizetype end = *host;
    if (end < text.size() && text.at(end) == u':') {
        qsizetype digits = 0;
        while (end + 1 + digits < text.size() && digits <= 5 &&
               isAsciiDigit(text.at(end + 1 + digits).unicode()))
            ++digits;
        if (digits >= 1 && digits <= 5)
            end += 1 + digits;
    }
    if (end < text.size() && (text.at(end) == u'/' || text.at(end) == u'?' || text.at(end) == u'#'))
        end = withoutTrailingPunctuation(text, end, scanLinkCharacters(text, end));
    return Hit{end, QStringLiteral("http://") + text.sliced(i, end - i).toString()};
}

bool isLocalPartCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return isAsciiAlnum(u) || u == u'.' || u == u'_' || u == u'%' || u == u'+' || u == u'-';
}

// An e-mail address whose local part is the run of local-part characters from `i`, less any
// leading punctuation. Callers try this only where such a run starts.
std::optional<Hit> emailAt(QStringView text, qsizetype i)
{
    qsizetype at = i;
    while (at < text.size() && isLocalPartCharacter(text.at(at)))
        ++at;
    if (at == text.size() || text.at(at) != u'@')
        return std::nullopt;
    qsizetype start = i;
    while (start < at && !isAsciiAlnum(text.at(start).unicode()) && text.at(start) != u'_')
        ++start;
    if (start == at)
        return std::nullopt;
    const std::optional<qsizetype> domain = hostEnd(text, at + 1, 2);
    if (!domain)
        return std::nullopt;
    return Hit{*domain, QStringLiteral("mailto:") + text.sliced(start, *domain - start).toString()};
}

} // namespace

namespace LinkDetector {

QStringList detect(const QString &text)
{
    QStringList links;
    const QStringView view(text);
    qsizetype i = 0;
    qsizetype resumedAt = 0;
    while (i < view.size()) {
        std::optional<Hit> hit;
        const bool startsLocalPart = isLocalPartCharacter(view.at(i)) &&
                                     (i == resumedAt || !isLocalPartCharacter(view.at(i - 1)));
        if (startsLocalPart)
            hit = emailAt(view, i);
        if (!hit)
            hit = schemeLinkAt(view, i);
        if (!hit)
            hit = wwwLinkAt(view, i);
        if (hit) {
            links.append(hit->url);
            i = resumedAt = hit->end;
        } else {
            ++i;
        }
    }
    return links;
}

} // namespace LinkDetector
