#include "CommandLine.h"

#include <vector>

namespace {

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

// The blank-separated items; a quoted first item (a program path) keeps its blanks.
std::vector<std::u16string> SplitItems(const std::u16string& line)
{
    std::vector<std::u16string> items;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && IsBlank(line[at]))
            ++at;
        if (at == line.size())
            break;
        if (items.empty() && line[at] == u'"') {
            const size_t close = line.find(u'"', at + 1);
            const size_t end = close == std::u16string::npos ? line.size() : close;
            items.push_back(line.substr(at + 1, end - at - 1));
            at = end + 1;
            continue;
        }
        const size_t start = at;
        while (at < line.size() && !IsBlank(line[at]))
            ++at;
        items.push_back(line.substr(start, at - start));
    }
    return items;
}

std::optional<LONG> ParseHandle(const std::u16string& item)
{
    size_t at = 0;
    const bool negative = !item.empty() && item[0] == u'-';
    if (negative || (!item.empty() && item[0] == u'+'))
        ++at;
    if (at == item.size() || item.size() - at > 10)
        return std::nullopt;
    long long value = 0;
    for (; at < item.size(); ++at) {
        if (item[at] < u'0' || item[at] > u'9')
            return std::nullopt;
        value = value * 10 + (item[at] - u'0');
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<LONG>(value);
}

bool EndsWithProgramName(const std::u16string& item)
{
    const std::u16string name = u"cmdreelscan.exe";
    if (item.size() < name.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = item[item.size() - name.size() + i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != name[i])
            return false;
    }
    const size_t before = item.size() - name.size();
    return before == 0 || item[before - 1] == u'/' || item[before - 1] == u'\\';
}

}

std::optional<CompanionRequest> ParseCompanionCommandLine(const std::u16string& commandLine)
{
    std::vector<std::u16string> items = SplitItems(commandLine);
    if (!items.empty() && EndsWithProgramName(items.front()))
        items.erase(items.begin());
    if (items.size() < 2)
        return std::nullopt;
    const std::optional<LONG> handle = ParseHandle(items.back());
    if (!handle)
        return std::nullopt;
    CompanionRequest request;
    // The proxy writes the address unchanged; one with blanks in it is taken whole.
    for (size_t i = 0; i + 1 < items.size(); ++i)
        request.url += (i ? u" " : u"") + items[i];
    request.client = reinterpret_cast<HWND>(static_cast<LONG_PTR>(*handle));
    return request;
}
