#include "paste/Transforms.h"

#include "paste/LinkDetector.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextBoundaryFinder>

#include <unicode/locid.h>
#include <unicode/stringoptions.h>
#include <unicode/unistr.h>

namespace {

constexpr auto unicodeOption = QRegularExpression::UseUnicodePropertiesOption;

// Blanks and tabs: what a "blank line" may hold and what single-line trims.
bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x0A: // line feed
    case 0x0B: // vertical tab
    case 0x0C: // form feed
    case 0x0D: // carriage return
    case 0x85: // next line
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

template <typename Predicate> QString trimmedBy(const QString &text, Predicate strip)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && strip(text.at(begin)))
        ++begin;
    while (end > begin && strip(text.at(end - 1)))
        --end;
    return text.sliced(begin, end - begin);
}

char32_t codePointAt(QStringView text, qsizetype i)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(c, text.at(i + 1));
    return c.unicode();
}

// Full title-case mapping of one code point, without regard to locale: 'ß' becomes "Ss" and
// the ligature 'ﬁ' becomes "Fi", which a per-character mapping cannot express.
QString titleCased(QStringView character)
{
    if (character.size() == 1 && character.at(0).unicode() < 0x80)
        return QString(character.at(0).toUpper());
    icu::UnicodeString mapped(reinterpret_cast<const UChar *>(character.utf16()),
                              int32_t(character.size()));
    mapped.toTitle(nullptr, icu::Locale::getRoot(),
                   U_TITLECASE_WHOLE_STRING | U_TITLECASE_NO_LOWERCASE |
                       U_TITLECASE_NO_BREAK_ADJUSTMENT);
    if (mapped.isBogus())
        return character.toString();
    return QString(reinterpret_cast<const QChar *>(mapped.getBuffer()), mapped.length());
}

QString titleCase(const QString &text)
{
    QString result;
    result.reserve(text.size());
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        if (text.at(i).isSpace()) {
            result += text.at(i++);
            continue;
        }
        qsizetype end = i;
        while (end < size && !text.at(end).isSpace())
            ++end;
        const qsizetype firstLength = codePointAt(text, i) > 0xFFFF ? 2 : 1;
        result += titleCased(QStringView(text).sliced(i, firstLength));
        result += text.sliced(i + firstLength, end - i - firstLength).toLower();
        i = end;
    }
    return result;
}

// The regular-expression engine matches nothing in text with broken UTF-16. A copy with each
// lone surrogate replaced by U+FFFD keeps every offset, so matches found in it can be cut from
// the original text.
QString matchable(const QString &text)
{
    if (text.isValidUtf16())
        return text;
    QString repaired = text;
    for (qsizetype i = 0; i < repaired.size(); ++i) {
        const QChar c = repaired.at(i);
        if (c.isHighSurrogate() && i + 1 < repaired.size() && repaired.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            repaired[i] = QChar::ReplacementCharacter;
    }
    return repaired;
}

QString singleLine(const QString &text)
{
    static const QRegularExpression lineBreaks(QStringLiteral("\\s*\\n+\\s*"), unicodeOption);
    QString joined;
    joined.reserve(text.size());
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = lineBreaks.globalMatch(matchable(text));
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        joined += QStringView(text).sliced(copied, match.capturedStart() - copied);
        joined += u' ';
        copied = match.capturedEnd();
    }
    joined += QStringView(text).sliced(copied);
    return trimmedBy(joined, isBlank);
}

// A carriage return and a line feed form one character, so only a line feed standing on its
// own ends a line here.
bool isLoneLineFeed(const QString &text, qsizetype i)
{
    return text.at(i) == u'\n' && (i == 0 || text.at(i - 1) != u'\r');
}

QString noBlankLines(const QString &text)
{
    QStringList kept;
    auto keep = [&kept, &text](qsizetype begin, qsizetype end) {
        for (qsizetype i = begin; i < end; ++i) {
            if (!isBlank(text.at(i))) {
                kept.append(text.sliced(begin, end - begin));
                return;
            }
        }
    };
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLoneLineFeed(text, i)) {
            keep(lineStart, i);
            lineStart = i + 1;
        }
    }
    keep(lineStart, text.size());
    return kept.join(u'\n');
}

QString markdownCode(const QString &text)
{
    return QStringLiteral("```\n") + trimmedBy(text, isLineBreak) + QStringLiteral("\n```");
}

QStringList distinctMatches(const QRegularExpression &expression, const QString &text)
{
    QStringList result;
    if (!expression.isValid())
        return result;
    QSet<QString> seen;
    QRegularExpressionMatchIterator it = expression.globalMatch(matchable(text));
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString found = text.sliced(match.capturedStart(), match.capturedLength());
        if (!seen.contains(found)) {
            seen.insert(found);
            result.append(found);
        }
    }
    return result;
}

QStringList urls(const QString &text)
{
    QStringList result = LinkDetector::detect(text);
    result.removeIf([](const QString &url) {
        return url.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive);
    });
    return result;
}

} // namespace

namespace Transforms {

QString displayName(Transform transform)
{
    switch (transform) {
    case Transform::Plain:
        return QStringLiteral("Plain Text");
    case Transform::Lower:
        return QStringLiteral("lowercase");
    case Transform::Upper:
        return QStringLiteral("UPPERCASE");
    case Transform::TitleCase:
        return QStringLiteral("Title Case");
    case Transform::Trimmed:
        return QStringLiteral("Trimmed");
    case Transform::SingleLine:
        return QStringLiteral("Single Line");
    case Transform::NoBlankLines:
        return QStringLiteral("No Blank Lines");
    case Transform::MarkdownCode:
        return QStringLiteral("Markdown Code Block");
    }
    return QStringLiteral("Plain Text");
}

std::optional<Transform> transformFromRawValue(const QString &raw)
{
    for (Transform transform : allTransforms()) {
        if (displayName(transform) == raw)
            return transform;
    }
    return std::nullopt;
}

QList<Transform> allTransforms()
{
    return {Transform::Plain,        Transform::Lower,       Transform::Upper,
            Transform::TitleCase,    Transform::Trimmed,     Transform::SingleLine,
            Transform::NoBlankLines, Transform::MarkdownCode};
}

QString displayName(Extractor extractor)
{
    switch (extractor) {
    case Extractor::Emails:
        return QStringLiteral("Emails");
    case Extractor::Urls:
        return QStringLiteral("URLs");
    case Extractor::Numbers:
        return QStringLiteral("Numbers");
    }
    return QStringLiteral("Emails");
}

std::optional<Extractor> extractorFromRawValue(const QString &raw)
{
    for (Extractor extractor : allExtractors()) {
        if (displayName(extractor) == raw)
            return extractor;
    }
    return std::nullopt;
}

QList<Extractor> allExtractors()
{
    return {Extractor::Emails, Extractor::Urls, Extractor::Numbers};
}

QString apply(Transform transform, const QString &text)
{
    switch (transform) {
    case Transform::Plain:
        return text;
    case Transform::Lower:
        return text.toLower();
    case Transform::Upper:
        return text.toUpper();
    case Transform::TitleCase:
        return titleCase(text);
    case Transform::Trimmed:
        return text.trimmed();
    case Transform::SingleLine:
        return singleLine(text);
    case Transform::NoBlankLines:
        return noBlankLines(text);
    case Transform::MarkdownCode:
        return markdownCode(text);
    }
    return text;
}

QStringList extract(Extractor extractor, const QString &text)
{
    switch (extractor) {
    case Extractor::Emails: {
        static const QRegularExpression emails(
            QStringLiteral("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"), unicodeOption);
        return distinctMatches(emails, text);
    }
    case Extractor::Urls:
        return urls(text);
    case Extractor::Numbers: {
        static const QRegularExpression numbers(QStringLiteral("-?\\d+(?:[.,]\\d+)?"),
                                                unicodeOption);
        return distinctMatches(numbers, text);
    }
    }
    return {};
}

QString stats(const QString &text)
{
    // One pass over the user-perceived characters: a "\r\n" pair is one character, white space
    // rather than a line feed, so it separates words but does not start a line.
    qsizetype characters = 0;
    qsizetype words = 0;
    qsizetype lines = 1;
    if (!text.isEmpty()) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        bool inWord = false;
        qsizetype start = 0;
        for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
            ++characters;
            if (end - start == 1 && text.at(start) == u'\n')
                ++lines;
            const bool separator = QChar::isSpace(codePointAt(text, start));
            if (!separator && !inWord)
                ++words;
            inWord = !separator;
            start = end;
        }
    }
    return QStringLiteral("%1 chars \u00B7 %2 words \u00B7 %3 lines")
        .arg(characters)
        .arg(words)
        .arg(lines);
}

QStringList matches(const QString &text, const QString &pattern)
{
    return distinctMatches(QRegularExpression(pattern, unicodeOption), text);
}

} // namespace Transforms
