#include "VideoText.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <tuple>

bool FoundVideo::operator<(const FoundVideo& other) const
{
    return std::tie(title, type, url, href, cookie, icon, length)
        < std::tie(other.title, other.type, other.url, other.href, other.cookie, other.icon, other.length);
}

std::string HumanSize(int32_t length)
{
    if (length == 0)
        return "unknown";
    if (length < 1024)
        return std::to_string(length) + (length == 1 ? " byte" : " bytes");
    static const char* const units[] = { "KiB", "MiB", "GiB" };
    double value = length / 1024.0;
    size_t unit = 0;
    for (; value >= 1024 && unit + 1 < std::size(units); ++unit)
        value /= 1024;
    char text[64];
    std::snprintf(text, sizeof(text), "%.1f %s (%d bytes)", value, units[unit], static_cast<int>(length));
    return text;
}

std::string ReadableBlock(const FoundVideo& video)
{
    std::string block;
    const auto line = [&block](const char* label, const std::string& value) {
        block += label;
        block += value;
        block += '\n';
    };
    line("Title:  ", video.title);
    line("Type:   ", video.type);
    line("Size:   ", HumanSize(video.length));
    line("Media:  ", video.url);
    line("Page:   ", video.href);
    line("Cookie: ", video.cookie);
    line("Icon:   ", video.icon);
    block += '\n';
    return block;
}

std::string JsonLine(const FoundVideo& video)
{
    nlohmann::ordered_json object;
    object["title"] = video.title;
    object["type"] = video.type;
    object["length"] = video.length;
    object["url"] = video.url;
    object["href"] = video.href;
    object["cookie"] = video.cookie;
    object["icon"] = video.icon;
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
