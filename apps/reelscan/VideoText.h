// How reelscan writes one video: a readable block for people, or one JSON object per line.
#pragma once

#include <cstdint>
#include <string>

// One video as the proxy delivered it, its text converted to UTF-8.
struct FoundVideo {
    std::string title;
    std::string type;
    std::string url;
    std::string href;
    std::string cookie;
    std::string icon;
    int32_t length = 0;

    bool operator<(const FoundVideo& other) const;
};

// Title, type, size in human units, media URL, page, cookie and icon, one per line, then a blank line.
std::string ReadableBlock(const FoundVideo& video);

// One line: {"title":..,"type":..,"length":..,"url":..,"href":..,"cookie":..,"icon":..}.
std::string JsonLine(const FoundVideo& video);

// 0 reads "unknown"; sizes from 1 KiB on are shown in KiB, MiB or GiB with the exact count beside.
std::string HumanSize(int32_t length);
