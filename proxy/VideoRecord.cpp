#include "VideoRecord.h"

#include <algorithm>
#include <climits>
#include <string_view>

namespace {

constexpr size_t kCountSize = 4;
constexpr int kFieldsFromEnd = 6;

std::u16string FromAnsi(std::string_view text)
{
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX))
        return {};
    const int size = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0);
    if (needed <= 0)
        return {};
    std::u16string wide(static_cast<size_t>(needed), u'\0');
    const int written = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, wide.data(), needed);
    wide.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return wide;
}

// Leading white space, an optional sign, then digits up to the first other character; the value
// saturates at the limits of a 32-bit integer.
LONG ParseLength(std::string_view text)
{
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = std::min<long long>(value * 10 + (text[at] - '0'), static_cast<long long>(INT_MAX) + 1);
    value = negative ? -value : std::min<long long>(value, INT_MAX);
    return static_cast<LONG>(value);
}

}

std::optional<ReceivedVideo> DecodeVideoRecord(const COPYDATASTRUCT& data)
{
    if (!data.lpData || data.cbData < kCountSize)
        return std::nullopt;
    const auto* bytes = static_cast<const unsigned char*>(data.lpData);
    const DWORD count = static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8
        | static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
    if (count > data.cbData - kCountSize)
        return std::nullopt;
    std::string_view rest(reinterpret_cast<const char*>(bytes + kCountSize), count);

    std::string_view fields[kFieldsFromEnd];
    for (std::string_view& field : fields) {
        const size_t cr = rest.rfind('\r');
        if (cr == std::string_view::npos)
            break;
        field = rest.substr(cr + 1);
        rest = rest.substr(0, cr);
    }

    ReceivedVideo video;
    video.length = ParseLength(fields[0]);
    video.type = FromAnsi(fields[1]);
    video.url = FromAnsi(fields[2]);
    video.href = FromAnsi(fields[3]);
    video.cookie = FromAnsi(fields[4]);
    video.icon = FromAnsi(fields[5]);
    video.title = FromAnsi(rest);
    return video;
}
