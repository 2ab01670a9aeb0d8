#pragma once

#include <QChar>

#include <array>
#include <optional>

// macOS virtual key codes of the keys a hot-key label can name: letters and digits. They are
// positions on an ANSI keyboard, which is why the numbering looks arbitrary.
namespace MacKeyCodes {

struct Entry
{
    char character; // the letter in capitals, or the digit
    quint32 keyCode;
};

inline constexpr std::array<Entry, 36> table{{
    {'A', 0},  {'S', 1},  {'D', 2},  {'F', 3},  {'H', 4},  {'G', 5},  {'Z', 6},  {'X', 7},
    {'C', 8},  {'V', 9},  {'B', 11}, {'Q', 12}, {'W', 13}, {'E', 14}, {'R', 15}, {'Y', 16},
    {'T', 17}, {'1', 18}, {'2', 19}, {'3', 20}, {'4', 21}, {'6', 22}, {'5', 23}, {'9', 25},
    {'7', 26}, {'8', 28}, {'0', 29}, {'O', 31}, {'U', 32}, {'I', 34}, {'P', 35}, {'L', 37},
    {'J', 38}, {'K', 40}, {'N', 45}, {'M', 46},
}};

inline std::optional<quint32> fromCharacter(QChar character)
{
    for (const Entry &entry : table) {
        if (QChar(QLatin1Char(entry.character)) == character)
            return entry.keyCode;
    }
    return std::nullopt;
}

// The capital letter or digit of a key code; absent for codes outside the table.
inline std::optional<char> toCharacter(quint32 keyCode)
{
    for (const Entry &entry : table) {
        if (entry.keyCode == keyCode)
            return entry.character;
    }
    return std::nullopt;
}

} // namespace MacKeyCodes
