#pragma once

#include <string>
#include <string_view>
#include <vector>

// The command words of the executable, read without Qt so the launcher can act on them before
// the application is loaded. Each is matched as a whole argument anywhere in the argument
// vector; the first word of this order that is present wins.
namespace CommandWords {

enum class Mode { Help, Version, SelfTest, ImportCopyLess, Stats, SetIcon, Show, Start };

struct Command
{
    Mode mode = Mode::Start;
    std::string value; // the style name for SetIcon
};

Command parse(const std::vector<std::string_view> &arguments);
Command parse(int argc, char **argv);

} // namespace CommandWords
