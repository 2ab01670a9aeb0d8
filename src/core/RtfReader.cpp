#include "core/RtfReader.h"

#include <QHash>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

// A one-pass reader: every byte is looked at a bounded number of times, groups live on an
// explicit stack, and nothing recurses, so hostile input costs time proportional to its size.

namespace Rtf {
namespace {

constexpr int defaultCodePage = 1252;
// Deeper groups share their parent's state; no real document comes near this.
constexpr size_t maxGroupDepth = 10000;
// The longest control word RTF allows; longer letter runs are read but match nothing.
constexpr size_t maxWordLength = 32;

// ---------------------------------------------------------------------------------------------
// Code pages

// The code page a font's \fcharset stands for; 0 when the font follows the document's
// (ANSI, default, symbol and unknown sets).
int codePageForCharset(int charset)
{
    struct Entry
    {
        int charset;
        int codePage;
    };
    static constexpr Entry table[] = {
        {77, 10000}, // Mac Roman
        {78, 932},   // Mac Shift-JIS: Windows' superset decodes it
        {79, 949},   // Mac Hangul
        {80, 936},   // Mac GB2312
        {81, 950},   // Mac Big5
        {85, 10006}, // Mac Greek
        {86, 10081}, // Mac Turkish
        {88, 10029}, // Mac Central European
        {89, 10007}, // Mac Cyrillic
        {128, 932},  // Shift-JIS
        {129, 949},  // Hangul
        {134, 936},  // GB2312
        {136, 950},  // Big5
        {161, 1253}, // Greek
        {162, 1254}, // Turkish
        {163, 1258}, // Vietnamese
        {177, 1255}, // Hebrew
        {178, 1256}, // Arabic
        {186, 1257}, // Baltic
        {204, 1251}, // Cyrillic
        {222, 874},  // Thai
        {238, 1250}, // Central European
        {254, 437},  // PC 437
    };
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [charset](const Entry &e) { return e.charset == charset; });
    return found != std::end(table) ? found->codePage : 0;
}

// Turns stray bytes into U+FFFD instead of the code page's substitution control character.
void U_CALLCONV substituteReplacementCharacter(const void *, UConverterToUnicodeArgs *args,
                                               const char *, int32_t,
                                               UConverterCallbackReason reason, UErrorCode *error)
{
    if (reason > UCNV_IRREGULAR)
        return;
    static const UChar replacement = 0xFFFD;
    *error = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
}

struct ConverterCloser
{
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr openConverter(int codePage)
{
    const QByteArray number = QByteArray::number(codePage);
    for (const char *prefix : {"windows-", "cp", "ibm-"}) {
        UErrorCode error = U_ZERO_ERROR;
        UConverter *converter = ucnv_open((prefix + number).constData(), &error);
        if (U_SUCCESS(error) && converter) {
            error = U_ZERO_ERROR;
            ucnv_setToUCallBack(converter, substituteReplacementCharacter, nullptr, nullptr,
                                nullptr, &error);
            return ConverterPtr(converter);
        }
        if (converter)
            ucnv_close(converter);
    }
    return nullptr;
}

// Converters opened on first use and kept for the rest of the document.
class Decoders
{
public:
    void decode(int codePage, const QByteArray &bytes, QString &out)
    {
        UConverter *converter = converterFor(codePage);
        if (!converter) {
            // Not even the fallback opened (no ICU data): keep the bytes visible as Latin-1.
            out.append(QString::fromLatin1(bytes));
            return;
        }
        ucnv_resetToUnicode(converter);
        const char *source = bytes.constData();
        const char *const sourceEnd = source + bytes.size();
        UChar buffer[1024];
        for (;;) {
            UChar *target = buffer;
            UErrorCode error = U_ZERO_ERROR;
            ucnv_toUnicode(converter, &target, buffer + std::size(buffer), &source, sourceEnd,
                           nullptr, true, &error);
            out.append(reinterpret_cast<const QChar *>(buffer), target - buffer);
            if (error != U_BUFFER_OVERFLOW_ERROR)
                return;
        }
    }

private:
    UConverter *converterFor(int codePage)
    {
        // Code pages that fail to open are remembered too, so they are tried only once.
        auto found = m_converters.find(codePage);
        if (found == m_converters.end())
            found = m_converters.emplace(codePage, openConverter(codePage)).first;
        if (found->second)
            return found->second.get();
        return codePage == defaultCodePage ? nullptr : converterFor(defaultCodePage);
    }

    std::unordered_map<int, ConverterPtr> m_converters;
};

// ---------------------------------------------------------------------------------------------
// Control words

enum class Action {
    Emit,         // produces `value`
    Skip,         // starts a destination whose text is not part of the document
    FontTable,    // starts the font table
    Unicode,      // \uN
    UnicodeSkip,  // \ucN
    Binary,       // \binN
    Font,         // \fN
    DefaultFont,  // \deffN
    Charset,      // \fcharsetN
    FontCodePage, // \cpgN
    DocCodePage,  // \ansicpgN
    Ansi,         // \ansi, \mac, \pc, \pca set the document's code page to `value`
    Plain,        // \plain
};

struct Word
{
    Action action;
    char32_t value = 0; // the character of Emit, the code page of Ansi
};

const std::unordered_map<std::string_view, Word> &words()
{
    static const std::unordered_map<std::string_view, Word> table = [] {
        std::unordered_map<std::string_view, Word> t;
        const std::pair<std::string_view, char32_t> characters[] = {
            {"par", '\n'},       {"line", '\n'},      {"sect", '\n'},        {"page", '\n'},
            {"row", '\n'},       {"nestrow", '\n'},   {"tab", '\t'},         {"cell", '\t'},
            {"nestcell", '\t'},  {"emdash", 0x2014},  {"endash", 0x2013},    {"bullet", 0x2022},
            {"lquote", 0x2018},  {"rquote", 0x2019},  {"ldblquote", 0x201C}, {"rdblquote", 0x201D},
            {"emspace", 0x2003}, {"enspace", 0x2002}, {"qmspace", 0x2005},   {"zwj", 0x200D},
            {"zwnj", 0x200C},    {"ltrmark", 0x200E}, {"rtlmark", 0x200F},
        };
        for (const auto &[name, ch] : characters)
            t.emplace(name, Word{Action::Emit, ch});
        // Destinations whose content is markup, metadata or pictures rather than text.
        constexpr std::string_view skipped =
            "aftncn aftnsep aftnsepc annotation atnauthor atndate atnicn atnid atnparent atnref "
            "atntime atrfend atrfstart author bkmkend bkmkstart buptim colorschememapping "
            "colortbl comment company creatim datafield datastore doccomm docvar falt fchars "
            "ffdeftext ffentrymcr ffexitmcr ffformat ffhelptext ffl ffname ffstattext filetbl "
            "fldinst fontemb fontfile footer footerf footerl footerr footnote ftncn ftnsep "
            "ftnsepc generator header headerf headerl headerr info keywords latentstyles lchars "
            "levelnumbers leveltext listoverridetable listpicture listtable mmathPr "
            "nonesttables nonshppict objdata object operator panose passwordhash pgdsctbl pict "
            "printim private protusertbl revtbl revtim rsidtbl sn sp stylesheet subject sv tc "
            "template themedata title txe userprops wgrffmtfilter xe xmlnstbl";
        for (size_t from = 0; from < skipped.size();) {
            const size_t space = std::min(skipped.find(' ', from), skipped.size());
            t.emplace(skipped.substr(from, space - from), Word{Action::Skip});
            from = space + 1;
        }
        t.emplace("fonttbl", Word{Action::FontTable});
        t.emplace("u", Word{Action::Unicode});
        t.emplace("uc", Word{Action::UnicodeSkip});
        t.emplace("bin", Word{Action::Binary});
        t.emplace("f", Word{Action::Font});
        t.emplace("deff", Word{Action::DefaultFont});
        t.emplace("fcharset", Word{Action::Charset});
        t.emplace("cpg", Word{Action::FontCodePage});
        t.emplace("ansicpg", Word{Action::DocCodePage});
        t.emplace("ansi", Word{Action::Ansi, 1252});
        t.emplace("mac", Word{Action::Ansi, 10000});
        t.emplace("pc", Word{Action::Ansi, 437});
        t.emplace("pca", Word{Action::Ansi, 850});
        t.emplace("plain", Word{Action::Plain});
        return t;
    }();
    return table;
}

// ---------------------------------------------------------------------------------------------
// Reader

enum class Destination { Text, FontTable, Skipped };

struct GroupState
{
    Destination destination = Destination::Text;
    int unicodeSkip = 1; // \ucN: fallback characters after each \uN
    int font = -1;       // \fN; -1 until chosen, meaning the default font
};

struct FontInfo
{
    int charsetCodePage = 0;
    int codePage = 0; // \cpg, which wins over the charset
};

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isHighSurrogate(char32_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLowSurrogate(char32_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

class Reader
{
public:
    explicit Reader(const QByteArray &rtf) : m_data(rtf.constData()), m_size(rtf.size()) {}

    QString read(qsizetype start)
    {
        m_pos = start;
        while (m_pos < m_size && !m_finished) {
            const char c = m_data[m_pos];
            switch (c) {
            case '{':
                ++m_pos;
                openGroup();
                break;
            case '}':
                ++m_pos;
                closeGroup();
                break;
            case '\\':
                readControl();
                break;
            case '\r':
            case '\n':
                ++m_pos; // source line breaks carry no meaning
                break;
            default:
                ++m_pos;
                textByte(static_cast<unsigned char>(c));
                break;
            }
        }
        flush();
        return m_out;
    }

private:
    // --- groups ---

    void openGroup()
    {
        m_fallback = 0;
        if (m_saved.size() < maxGroupDepth)
            m_saved.push_back(m_state);
        else
            ++m_overflow;
    }

    void closeGroup()
    {
        m_fallback = 0;
        if (m_overflow > 0) {
            --m_overflow;
            return;
        }
        if (!m_saved.empty()) {
            m_state = m_saved.back();
            m_saved.pop_back();
        }
        // The document group is closed: anything after it is not part of the document.
        if (m_saved.empty())
            m_finished = true;
    }

    // --- control words and symbols ---

    void readControl()
    {
        ++m_pos; // the backslash
        if (m_pos >= m_size)
            return;
        const char c = m_data[m_pos];
        if (isLetter(c)) {
            readWord();
        } else if (c == '\'') {
            ++m_pos;
            readHexByte();
        } else {
            ++m_pos;
            controlSymbol(c);
        }
    }

    void readWord()
    {
        const qsizetype nameStart = m_pos;
        while (m_pos < m_size && isLetter(m_data[m_pos]))
            ++m_pos;
        const std::string_view name(m_data + nameStart, static_cast<size_t>(m_pos - nameStart));

        bool hasParameter = false;
        long long parameter = 0;
        bool negative = false;
        if (m_pos + 1 < m_size && m_data[m_pos] == '-' && isDigit(m_data[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        while (m_pos < m_size && isDigit(m_data[m_pos])) {
            hasParameter = true;
            // Saturate: the digits are still consumed, the value stays representable.
            if (parameter < std::numeric_limits<int>::max())
                parameter = parameter * 10 + (m_data[m_pos] - '0');
            ++m_pos;
        }
        parameter = std::min<long long>(parameter, std::numeric_limits<int>::max());
        const int value = static_cast<int>(negative ? -parameter : parameter);
        if (m_pos < m_size && m_data[m_pos] == ' ')
            ++m_pos; // the delimiter belongs to the word

        const auto &table = words();
        const auto found = name.size() <= maxWordLength ? table.find(name) : table.end();
        if (found == table.end()) {
            consumeFallback();
            return;
        }
        const Word &word = found->second;
        if (word.action == Action::Binary) {
            // Raw data is skipped wherever it appears, or its bytes would be read as RTF.
            consumeFallback();
            const qsizetype count = hasParameter ? std::max(0, value) : 0;
            m_pos += std::min(count, m_size - m_pos);
            return;
        }
        if (consumeFallback())
            return;
        applyWord(word, hasParameter, value);
    }

    void applyWord(const Word &word, bool hasParameter, int value)
    {
        switch (word.action) {
        case Action::Emit:
            if (m_state.destination == Destination::Text)
                put(word.value);
            break;
        case Action::Skip:
            m_state.destination = Destination::Skipped;
            break;
        case Action::FontTable:
            if (m_state.destination != Destination::Skipped)
                m_state.destination = Destination::FontTable;
            break;
        case Action::Unicode:
            if (hasParameter)
                unicode(value);
            break;
        case Action::UnicodeSkip:
            if (hasParameter)
                m_state.unicodeSkip = std::max(0, value);
            break;
        case Action::Binary:
            break;
        case Action::Font:
            if (m_state.destination == Destination::FontTable)
                m_definedFont = value;
            else if (m_state.destination == Destination::Text)
                m_state.font = value;
            break;
        case Action::DefaultFont:
            m_defaultFont = value;
            break;
        case Action::Charset:
            if (m_state.destination == Destination::FontTable)
                m_fonts[m_definedFont].charsetCodePage = codePageForCharset(value);
            break;
        case Action::FontCodePage:
            if (m_state.destination == Destination::FontTable)
                m_fonts[m_definedFont].codePage = std::max(0, value);
            break;
        case Action::DocCodePage:
            m_codePage = value > 0 ? value : defaultCodePage;
            break;
        case Action::Ansi:
            m_codePage = static_cast<int>(word.value);
            break;
        case Action::Plain:
            if (m_state.destination == Destination::Text)
                m_state.font = -1;
            break;
        }
    }

    void controlSymbol(char c)
    {
        if (consumeFallback())
            return;
        switch (c) {
        case '*':
            m_state.destination = Destination::Skipped;
            break;
        case '\\':
        case '{':
        case '}':
            if (m_state.destination == Destination::Text)
                textByte(static_cast<unsigned char>(c));
            break;
        case '~':
            if (m_state.destination == Destination::Text)
                put(0x00A0);
            break;
        case '_':
            if (m_state.destination == Destination::Text)
                put(0x2011);
            break;
        case '\r':
        case '\n':
            // An escaped source line break is a paragraph mark.
            if (m_state.destination == Destination::Text)
                put('\n');
            break;
        default:
            // \- optional hyphen, \: index subentry, \| formula and unknown symbols.
            break;
        }
    }

    void readHexByte()
    {
        int value = 0;
        int digits = 0;
        while (digits < 2 && m_pos < m_size) {
            const int digit = hexValue(m_data[m_pos]);
            if (digit < 0)
                break;
            value = value * 16 + digit;
            ++digits;
            ++m_pos;
        }
        // A cut-off escape is dropped rather than read as a control character.
        if (digits < 2 || consumeFallback())
            return;
        if (m_state.destination == Destination::Text)
            textCharacter(static_cast<unsigned char>(value));
    }

    // --- text ---

    void textByte(unsigned char c)
    {
        if (consumeFallback() || m_state.destination != Destination::Text)
            return;
        textCharacter(c);
    }

    // Control characters other than tab are noise from broken writers.
    void textCharacter(unsigned char c)
    {
        if (c == '\t')
            put('\t');
        else if (c >= 0x20)
            addByte(c);
    }

    // After \uN the next characters are the fallback for readers without Unicode: drop them.
    // Returns true when the caller's character was such a fallback.
    bool consumeFallback()
    {
        if (m_fallback <= 0)
            return false;
        --m_fallback;
        return true;
    }

    void unicode(int value)
    {
        m_fallback = m_state.unicodeSkip;
        if (m_state.destination != Destination::Text)
            return;
        char32_t u = 0xFFFD;
        if (value < 0 && value >= -32768)
            u = static_cast<char32_t>(value + 65536);
        else if (value >= 0 && value <= 0x10FFFF)
            u = static_cast<char32_t>(value); // some writers give the code point unsigned
        if (isLowSurrogate(u) && m_highSurrogate) {
            m_out.append(QChar(m_highSurrogate));
            m_out.append(QChar(static_cast<char16_t>(u)));
            m_highSurrogate = 0;
            return;
        }
        if (isHighSurrogate(u)) {
            flush();
            m_highSurrogate = static_cast<char16_t>(u);
            return;
        }
        put(isLowSurrogate(u) ? char32_t(0xFFFD) : u);
    }

    int codePageForText() const
    {
        const int font = m_state.font >= 0 ? m_state.font : m_defaultFont;
        if (const auto found = m_fonts.constFind(font); found != m_fonts.cend()) {
            if (found->codePage > 0)
                return found->codePage;
            if (found->charsetCodePage > 0)
                return found->charsetCodePage;
        }
        return m_codePage;
    }

    // Bytes of the code page wait until the run ends, so that multi-byte characters whose
    // bytes arrive as separate \'hh decode as one.
    void addByte(unsigned char byte)
    {
        resolveLoneSurrogate();
        if (m_pending.isEmpty() && byte < 0x80) {
            m_out.append(QLatin1Char(static_cast<char>(byte)));
            return;
        }
        const int codePage = codePageForText();
        if (!m_pending.isEmpty() && codePage != m_pendingCodePage)
            decodePending();
        m_pendingCodePage = codePage;
        m_pending.append(static_cast<char>(byte));
    }

    void put(char32_t u)
    {
        flush();
        if (u > 0xFFFF) {
            const char32_t v = u - 0x10000;
            m_out.append(QChar(static_cast<char16_t>(0xD800 + (v >> 10))));
            m_out.append(QChar(static_cast<char16_t>(0xDC00 + (v & 0x3FF))));
        } else {
            m_out.append(QChar(static_cast<char16_t>(u)));
        }
    }

    void resolveLoneSurrogate()
    {
        if (m_highSurrogate) {
            m_out.append(QChar(char16_t(0xFFFD)));
            m_highSurrogate = 0;
        }
    }

    void decodePending()
    {
        if (m_pending.isEmpty())
            return;
        m_decoders.decode(m_pendingCodePage, m_pending, m_out);
        m_pending.resize(0); // keeps the capacity for the next run
    }

    void flush()
    {
        decodePending();
        resolveLoneSurrogate();
    }

    const char *m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
    bool m_finished = false;

    GroupState m_state;
    std::vector<GroupState> m_saved;
    size_t m_overflow = 0;

    int m_codePage = defaultCodePage;
    int m_defaultFont = 0;
    int m_definedFont = 0;
    QHash<int, FontInfo> m_fonts;

    int m_fallback = 0;
    char16_t m_highSurrogate = 0;
    QByteArray m_pending;
    int m_pendingCodePage = defaultCodePage;
    Decoders m_decoders;
    QString m_out;
};

} // namespace

std::optional<QString> toPlainText(const QByteArray &rtf)
{
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    };
    qsizetype start = 0;
    while (start < rtf.size() && isSpace(rtf[start]))
        ++start;
    if (!QByteArrayView(rtf).sliced(start).startsWith("{\\rtf"))
        return std::nullopt;
    return Reader(rtf).read(start);
}

} // namespace Rtf
