#include "launcher/CommandWords.h"

#include <algorithm>

namespace CommandWords {

Command parse(const std::vector<std::string_view> &arguments)
{
    const auto has = [&](std::string_view word) {
        return std::find(arguments.begin(), arguments.end(), word) != arguments.end();
    };
    if (has("--help") || has("-h"))
        return {Mode::Help, {}};
    if (has("--version"))
        return {Mode::Version, {}};
    if (has("--selftest"))
        return {Mode::SelfTest, {}};
    if (has("--import-copyless"))
        return {Mode::ImportCopyLess, {}};
    if (has("--stats"))
        return {Mode::Stats, {}};
    const auto setIcon = std::find(arguments.begin(), arguments.end(), "--set-icon");
    // Without a value the word is ignored and checking goes on.
    if (setIcon != arguments.end() && setIcon + 1 != arguments.end())
        return {Mode::SetIcon, std::string(*(setIcon + 1))};
    if (has("--show"))
        return {Mode::Show, {}};
    return {Mode::Start, {}};
}

Command parse(int argc, char **argv)
{
    std::vector<std::string_view> arguments;
    arguments.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return parse(arguments);
}

} // namespace CommandWords
