#include "UrlParts.h"

#include "Utf.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace wininet {

namespace {

constexpr std::pair<std::u16string_view, INTERNET_SCHEME> kSchemes[] = {
    { u"http", INTERNET_SCHEME_HTTP },
    { u"https", INTERNET_SCHEME_HTTPS },
    { u"ftp", INTERNET_SCHEME_FTP },
    { u"gopher", INTERNET_SCHEME_GOPHER },
    { u"file", INTERNET_SCHEME_FILE },
    { u"news", INTERNET_SCHEME_NEWS },
    { u"mailto", INTERNET_SCHEME_MAILTO },
    { u"socks", INTERNET_SCHEME_SOCKS },
    { u"javascript", INTERNET_SCHEME_JAVASCRIPT },
    { u"vbscript", INTERNET_SCHEME_VBSCRIPT },
    { u"res", INTERNET_SCHEME_RES },
};

bool IsAlpha(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

char16_t Lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string LowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}

std::string RemoveDotSegments(const std::string& path)
{
    std::vector<std::string> segments;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(start, end - start);
        const bool last = end == path.size();
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
            if (last)
                segments.emplace_back();
        } else if (segment == ".") {
            if (last)
                segments.emplace_back();
        } else {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string result;
    for (const auto& segment : segments)
        result += "/" + segment;
    return result.empty() ? "/" : result;
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme)
{
    switch (scheme) {
    case INTERNET_SCHEME_HTTP:
        return INTERNET_DEFAULT_HTTP_PORT;
    case INTERNET_SCHEME_HTTPS:
        return INTERNET_DEFAULT_HTTPS_PORT;
    case INTERNET_SCHEME_FTP:
        return 21;
    case INTERNET_SCHEME_GOPHER:
        return 70;
    default:
        return 0;
    }
}

DWORD SplitUrl(std::u16string_view text, UrlParts& parts)
{
    parts = UrlParts {};
    const size_t colon = text.find(u':');
    if (colon == std::u16string_view::npos || colon == 0 || !IsAlpha(text[0]))
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    for (size_t i = 0; i < colon; ++i)
        if (!IsAlpha(text[i]) && !IsDigit(text[i]) && text[i] != u'+' && text[i] != u'-' && text[i] != u'.')
            return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    parts.scheme = { 0, colon, true };
    for (const auto& [name, scheme] : kSchemes)
        if (EqualsIgnoringCase(text.substr(0, colon), name))
            parts.nScheme = scheme;

    size_t position = colon + 1;
    if (text.substr(position, 2) == u"//") {
        position += 2;
        const size_t authorityEnd = std::min(text.find_first_of(u"/?#", position), text.size());
        std::u16string_view authority = text.substr(position, authorityEnd - position);
        const size_t at = authority.rfind(u'@');
        if (at != std::u16string_view::npos) {
            const size_t separator = authority.substr(0, at).find(u':');
            if (separator == std::u16string_view::npos) {
                parts.user = { position, at, true };
            } else {
                parts.user = { position, separator, true };
                parts.password = { position + separator + 1, at - separator - 1, true };
            }
            position += at + 1;
            authority = authority.substr(at + 1);
        }
        size_t hostLength = authority.size();
        if (!authority.empty() && authority[0] == u'[') {
            const size_t close = authority.find(u']');
            if (close == std::u16string_view::npos)
                return ERROR_INTERNET_INVALID_URL;
            hostLength = close + 1;
        } else {
            hostLength = std::min(authority.find(u':'), authority.size());
        }
        parts.host = { position, hostLength, true };
        if (hostLength < authority.size()) {
            if (authority[hostLength] != u':')
                return ERROR_INTERNET_INVALID_URL;
            const std::u16string_view digits = authority.substr(hostLength + 1);
            unsigned long port = 0;
            for (char16_t c : digits) {
                if (!IsDigit(c) || (port = port * 10 + (c - u'0')) > 65535)
                    return ERROR_INTERNET_INVALID_URL;
            }
            parts.port = digits.empty() ? 0 : static_cast<INTERNET_PORT>(port);
        }
        position = authorityEnd;
        if ((parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS) && hostLength == 0)
            return ERROR_INTERNET_INVALID_URL;
    }
    if (parts.port == 0)
        parts.port = DefaultPort(parts.nScheme);

    const size_t pathEnd = std::min(text.find_first_of(u"?#", position), text.size());
    parts.path = { position, pathEnd - position, true };
    parts.extra = { pathEnd, text.size() - pathEnd, true };
    return 0;
}

std::string PercentDecode(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            result += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string Url::Origin() const
{
    std::string origin = scheme + "://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host);
    if (port != DefaultPort(nScheme))
        origin += ":" + std::to_string(port);
    return origin;
}

std::string Url::Text() const
{
    return Origin() + path + extra.substr(0, extra.find('#'));
}

DWORD ParseUrl(std::u16string_view text, Url& url)
{
    UrlParts parts;
    if (const DWORD error = SplitUrl(text, parts))
        return error;
    auto part = [&](const Span& span) { return platform::ToUtf8(text.substr(span.offset, span.length)); };
    url.scheme = LowerAscii(part(parts.scheme));
    url.nScheme = parts.nScheme;
    url.host = LowerAscii(part(parts.host));
    if (url.host.size() >= 2 && url.host.front() == '[')
        url.host = url.host.substr(1, url.host.size() - 2);
    url.port = parts.port;
    url.path = part(parts.path);
    if (url.path.empty() || url.path[0] != '/')
        url.path.insert(0, "/");
    url.extra = part(parts.extra);
    if (url.host.find_first_of(" \t\r\n\\") != std::string::npos)
        return ERROR_INTERNET_INVALID_URL;
    return 0;
}

bool ResolveUrl(const Url& base, const std::string& target, Url& result)
{
    const size_t colon = target.find(':');
    const size_t firstDelimiter = target.find_first_of("/?#");
    if (colon != std::string::npos && (firstDelimiter == std::string::npos || colon < firstDelimiter))
        return ParseUrl(platform::FromUtf8(target), result) == 0;
    if (target.rfind("//", 0) == 0)
        return ParseUrl(platform::FromUtf8(base.scheme + ":" + target), result) == 0;
    result = base;
    if (target.empty())
        return true;
    const size_t extraStart = std::min(target.find_first_of("?#"), target.size());
    std::string path = target.substr(0, extraStart);
    const std::string extra = target.substr(extraStart);
    if (path.empty()) {
        result.extra = extra[0] == '#' ? base.extra.substr(0, base.extra.find('#')) + extra : extra;
        return true;
    }
    if (path[0] != '/')
        path = base.path.substr(0, base.path.rfind('/') + 1) + path;
    result.path = RemoveDotSegments(path);
    result.extra = extra;
    return true;
}

}
