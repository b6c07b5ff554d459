#include "CommandLine.h"

namespace platform {

namespace {

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

}

std::u16string_view ProgramItem(std::u16string_view commandLine)
{
    if (!commandLine.empty() && commandLine[0] == u'"') {
        const size_t close = commandLine.find(u'"', 1);
        return commandLine.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1);
    }
    size_t end = 0;
    while (end < commandLine.size() && !IsBlank(commandLine[end]))
        ++end;
    return commandLine.substr(0, end);
}

std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine)
{
    std::vector<std::u16string> arguments;
    if (commandLine.empty())
        return arguments;
    const std::u16string_view program = ProgramItem(commandLine);
    arguments.emplace_back(program);
    size_t i = program.size() + (commandLine[0] == u'"' ? 2 : 0);
    for (;;) {
        while (i < commandLine.size() && IsBlank(commandLine[i]))
            ++i;
        if (i >= commandLine.size())
            return arguments;
        std::u16string argument;
        bool quoted = false;
        while (i < commandLine.size() && (quoted || !IsBlank(commandLine[i]))) {
            const char16_t c = commandLine[i];
            if (c == u'\\') {
                size_t backslashes = 0;
                while (i < commandLine.size() && commandLine[i] == u'\\') {
                    ++backslashes;
                    ++i;
                }
                const bool beforeQuote = i < commandLine.size() && commandLine[i] == u'"';
                argument.append(beforeQuote ? backslashes / 2 : backslashes, u'\\');
                if (beforeQuote && backslashes % 2) {
                    argument += u'"';
                    ++i;
                }
            } else if (c == u'"') {
                if (quoted && i + 1 < commandLine.size() && commandLine[i + 1] == u'"') {
                    argument += u'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += c;
                ++i;
            }
        }
        arguments.push_back(std::move(argument));
    }
}

std::u16string QuoteArgument(std::u16string_view argument)
{
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos)
        return std::u16string(argument);
    std::u16string quoted = u"\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < argument.size() && argument[i] == u'\\') {
            ++backslashes;
            ++i;
        }
        if (i == argument.size()) {
            quoted.append(backslashes * 2, u'\\'); // they precede the closing quote
            break;
        }
        if (argument[i] == u'"')
            quoted.append(backslashes * 2 + 1, u'\\');
        else
            quoted.append(backslashes, u'\\');
        quoted += argument[i];
    }
    quoted += u'"';
    return quoted;
}

}
