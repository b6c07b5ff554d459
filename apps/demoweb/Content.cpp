#include "Content.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <strings.h>

namespace demoweb {

namespace {

namespace fs = std::filesystem;

// Data files are small pages and media samples; anything larger is generated.
constexpr std::uintmax_t kMaxFileSize = 64 * 1024 * 1024;

const std::pair<const char*, const char*> kTypesByExtension[] = {
    { ".html", "text/html; charset=utf-8" },
    { ".htm", "text/html; charset=utf-8" },
    { ".js", "application/javascript" },
    { ".css", "text/css" },
    { ".json", "application/json" },
    { ".xml", "text/xml" },
    { ".txt", "text/plain" },
    { ".ico", "image/x-icon" },
    { ".png", "image/png" },
    { ".gif", "image/gif" },
    { ".jpg", "image/jpeg" },
    { ".swf", "application/x-shockwave-flash" },
    { ".flv", "video/x-flv" },
    { ".mp4", "video/mp4" },
    { ".webm", "video/webm" },
};

bool IsLoopback(const std::string& host)
{
    if (host.empty() || host == "localhost" || host == "::1")
        return true;
    in_addr address;
    return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

// A path that stays inside its host's folder: no "." or ".." segment, no NUL, no backslash.
bool IsSafePath(const std::string& path)
{
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos || path.find('\\') != std::string::npos)
        return false;
    std::istringstream segments(path);
    for (std::string segment; std::getline(segments, segment, '/');)
        if (segment == "." || segment == "..")
            return false;
    return true;
}

bool ReadFile(const fs::path& file, std::string& contents)
{
    std::error_code error;
    const auto size = fs::file_size(file, error);
    if (error || size > kMaxFileSize)
        return false;
    std::ifstream stream(file, std::ios::binary);
    contents.assign(std::istreambuf_iterator<char>(stream), {});
    return !stream.bad();
}

bool ParseNumber(const std::string& text, std::uint64_t& number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

void ApplyDirective(Resource& resource, const std::string& name, const std::string& value)
{
    std::uint64_t number = 0;
    if (strcasecmp(name.c_str(), "X-Demoweb-Generate") == 0 && ParseNumber(value, number)) {
        resource.generatedLength = number;
    } else if (strcasecmp(name.c_str(), "X-Demoweb-Delay") == 0 && ParseNumber(value, number)) {
        resource.delayMilliseconds = static_cast<int>(std::min<std::uint64_t>(number, 60000));
    } else if (strcasecmp(name.c_str(), "X-Demoweb-Body") == 0) {
        const std::string word = value.substr(0, value.find(' '));
        const std::string argument = Trim(value.substr(word.size()));
        if (word == "chunked")
            resource.mode = BodyMode::Chunked;
        else if (word == "cut" && ParseNumber(argument, number))
            resource.mode = BodyMode::Cut, resource.cutAfter = number;
        else if (word == "trickle" && ParseNumber(argument, number))
            resource.mode = BodyMode::Trickle,
            resource.trickleMilliseconds = static_cast<int>(std::min<std::uint64_t>(number, 10000));
        else if (word == "endless")
            resource.mode = BodyMode::Endless;
        else if (word == "garbage")
            resource.mode = BodyMode::Garbage;
        else if (word == "echo")
            resource.mode = BodyMode::Echo;
        else if (word == "peer")
            resource.mode = BodyMode::Peer;
    }
}

// Reads a head file; a file that does not start with an HTTP status line is not used.
bool ReadHead(const fs::path& file, Resource& resource)
{
    std::ifstream stream(file);
    std::string line;
    if (!std::getline(stream, line))
        return false;
    line = Trim(line);
    const auto space = line.find(' ');
    if (line.rfind("HTTP/1.", 0) != 0 || space == std::string::npos)
        return false;
    const std::string status = line.substr(space + 1, 3);
    std::uint64_t code = 0;
    if (!ParseNumber(status, code) || code < 100 || code > 999)
        return false;
    resource.status = static_cast<int>(code);
    resource.reason = Trim(line.substr(std::min(line.size(), space + 4)));
    while (std::getline(stream, line)) {
        line = Trim(line);
        const auto colon = line.find(':');
        if (line.empty() || colon == std::string::npos)
            continue;
        const std::string name = Trim(line.substr(0, colon));
        const std::string value = Trim(line.substr(colon + 1));
        if (strncasecmp(name.c_str(), "X-Demoweb-", 10) == 0)
            ApplyDirective(resource, name, value);
        else
            resource.headers.emplace_back(name, value);
    }
    return true;
}

std::optional<Resource> Load(const fs::path& file)
{
    fs::path headFile = file;
    headFile += ".http";
    std::error_code error;
    const bool hasFile = fs::is_regular_file(file, error);
    const bool hasHead = fs::is_regular_file(headFile, error);
    if (!hasFile && !hasHead)
        return std::nullopt;

    Resource resource;
    if (hasHead && !ReadHead(headFile, resource))
        return std::nullopt;
    if (hasFile && !ReadFile(file, resource.body))
        return std::nullopt;
    if (!hasHead) {
        const std::string extension = file.extension().string();
        for (const auto& [suffix, type] : kTypesByExtension)
            if (strcasecmp(extension.c_str(), suffix) == 0)
                resource.headers.emplace_back("Content-Type", type);
        if (!resource.HasHeader("Content-Type"))
            resource.headers.emplace_back("Content-Type", "application/octet-stream");
    }
    return resource;
}

}

bool Resource::HasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(),
        [&](const auto& header) { return strcasecmp(header.first.c_str(), name.c_str()) == 0; });
}

std::optional<Resource> Resolve(
    const std::string& sitesDirectory, const std::string& host, const std::string& path, const std::string& query)
{
    if (!IsSafePath(path) || host.find('/') != std::string::npos || host.find("..") != std::string::npos)
        return std::nullopt;
    const fs::path hostDirectory = fs::path(sitesDirectory) / (IsLoopback(host) ? std::string("localhost") : host);
    std::string relative = path.substr(1);
    if (relative.empty() || relative.back() == '/')
        relative += "index.html";
    const fs::path file = hostDirectory / relative;
    if (!query.empty() && query.find('/') == std::string::npos) {
        fs::path exact = file;
        exact += "?" + query;
        if (auto resource = Load(exact))
            return resource;
    }
    return Load(file);
}

Resource NotFound()
{
    Resource resource;
    resource.status = 404;
    resource.reason = "Not Found";
    resource.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
    resource.body = "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n";
    return resource;
}

}
