#include "BaseAnalysis.h"

#include "HttpHelpers.h"
#include "MediaProbe.h"
#include "urlmon.h"

#include <cstring>
#include <vector>

namespace {

constexpr WCHAR kPageAgent[] = u"_GET_HTML_CONTENT_";
constexpr WCHAR kAcceptHeaders[] = u"Accept: */*\r\n\r\n";
constexpr DWORD kAcceptHeadersLength = 15;
constexpr DWORD kPageFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr size_t kMaxCarriedBytes = 3; // the longest incomplete character, of UTF-8
constexpr DWORD kMaxAgentOptionBytes = 4096;

// How many leading bytes of data form whole characters of the code page that info describes;
// the rest (at most kMaxCarriedBytes) begin a character that the next chunk completes.
size_t CompleteLength(const CPINFO& info, const unsigned char* data, size_t length)
{
    if (info.MaxCharSize == 4) { // UTF-8
        for (size_t back = 1; back <= kMaxCarriedBytes && back <= length; ++back) {
            const unsigned char byte = data[length - back];
            if ((byte & 0xC0) == 0x80)
                continue;
            const size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return needed > back ? length - back : length;
        }
        return length;
    }
    if (info.MaxCharSize != 2)
        return length;
    auto isLead = [&](unsigned char byte) {
        for (int range = 0; range + 1 < MAX_LEADBYTES && info.LeadByte[range]; range += 2) {
            if (byte >= info.LeadByte[range] && byte <= info.LeadByte[range + 1])
                return true;
        }
        return false;
    };
    size_t position = 0;
    while (position < length)
        position += isLead(data[position]) ? 2 : 1;
    return position > length ? length - 1 : length;
}

void AppendAnsi(const char* data, size_t length, std::u16string& page)
{
    if (length == 0)
        return;
    const int wide = MultiByteToWideChar(CP_THREAD_ACP, 0, data, static_cast<int>(length), nullptr, 0);
    if (wide <= 0)
        return;
    const size_t start = page.size();
    page.resize(start + static_cast<size_t>(wide));
    MultiByteToWideChar(CP_THREAD_ACP, 0, data, static_cast<int>(length), page.data() + start, wide);
}

} // namespace

std::u16string CutBetween(
    const std::u16string& text, const std::u16string& start, const std::u16string& end, MissingEnd missingEnd)
{
    const size_t begin = text.find(start);
    if (begin == std::u16string::npos)
        return {};
    const size_t valueStart = begin + start.size();
    const size_t valueEnd = text.find(end, valueStart);
    if (valueEnd == std::u16string::npos)
        return missingEnd == MissingEnd::Empty ? std::u16string() : text.substr(valueStart);
    return text.substr(valueStart, valueEnd - valueStart);
}

bool AnalysisStopped()
{
    // A thread being stopped fails every wait at once; any other thread times out on itself.
    return WaitForSingleObject(GetCurrentThread(), 0) == WAIT_FAILED;
}

int ReadPageBody(HINTERNET request, std::u16string& page)
{
    CPINFO info {};
    if (!GetCPInfo(CP_THREAD_ACP, &info))
        info.MaxCharSize = 1;
    // The carried start of a character, the chunk, and one zero byte after it.
    std::vector<char> buffer(kMaxCarriedBytes + kPageChunkBytes + 1);
    size_t carried = 0;
    size_t total = 0;
    for (;;) {
        std::memset(buffer.data() + carried, 0, buffer.size() - carried);
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.data() + carried, kPageChunkBytes, &read))
            return 0;
        if (read == 0) {
            AppendAnsi(buffer.data(), carried, page); // a character the body never completed
            return 1;
        }
        total += read;
        if (total > kMaxPageBytes)
            return 0;
        const size_t filled = carried + read;
        const size_t text = strnlen(buffer.data(), filled); // a chunk's text ends at its first zero
        const size_t whole = text < filled
            ? text
            : CompleteLength(info, reinterpret_cast<const unsigned char*>(buffer.data()), filled);
        AppendAnsi(buffer.data(), whole, page);
        carried = text < filled ? 0 : filled - whole;
        std::memmove(buffer.data(), buffer.data() + whole, carried);
    }
}

int CBaseAnalysis::FetchPage(LPCWSTR url, std::u16string& page)
{
    DWORD state = 0;
    InternetGetConnectedState(&state, 0);
    const DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                             : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
    HINTERNET session = InternetOpenW(kPageAgent, access, nullptr, nullptr, 0);
    if (!session)
        return 0;
    int complete = 0;
    if (HINTERNET request = InternetOpenUrlW(session, url, kAcceptHeaders, kAcceptHeadersLength, kPageFlags, 0)) {
        complete = ReadPageBody(request, page);
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return complete;
}

std::u16string CBaseAnalysis::ExtractTitle(const std::u16string& page)
{
    static const std::u16string open = u"<title>";
    const size_t start = page.find(open);
    if (start == std::u16string::npos)
        return {};
    const size_t end = page.find(u"</title>", start);
    if (end == std::u16string::npos)
        return {};
    std::u16string title = ReplaceAll(page.substr(start + open.size(), end - start - open.size()), u"&nbsp;", u" ");
    title.resize(std::char_traits<char16_t>::length(StripLineBreaks(title.data())));
    return TrimSpaces(title);
}

std::u16string CBaseAnalysis::ReplaceAll(
    std::u16string text, const std::u16string& search, const std::u16string& replacement)
{
    if (search.empty())
        return text;
    for (size_t found = text.find(search); found != std::u16string::npos; found = text.find(search))
        text.replace(found, search.size(), replacement);
    return text;
}

std::u16string CBaseAnalysis::TrimSpaces(const std::u16string& text)
{
    const size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

std::u16string CBaseAnalysis::DecodeUrlEscapes(const std::u16string& text)
{
    static const struct {
        const char16_t* escape;
        const char16_t* character;
    } escapes[] = {
        { u"%25", u"%" },
        { u"%3A", u":" },
        { u"%2F", u"/" },
        { u"%3F", u"?" },
        { u"%3D", u"=" },
        { u"%2C", u"," },
        { u"%26", u"&" },
        { u"%7B", u"{" },
        { u"%7D", u"}" },
        { u"%22", u"\"" },
        { u"%5C", u"\\" },
    };
    std::u16string decoded = text;
    for (const auto& escape : escapes)
        decoded = ReplaceAll(std::move(decoded), escape.escape, escape.character);
    return decoded;
}

int CBaseAnalysis::GetBrowserUserAgent(LPWSTR agent)
{
    DWORD size = 0;
    UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, nullptr, 0, &size, 0);
    if (size == 0 || size > kMaxAgentOptionBytes)
        return 0;
    std::vector<char> text(size + 1, '\0');
    DWORD got = 0;
    if (FAILED(UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, text.data(), size, &got, 0)))
        return 0;
    if (text[0] != '\0') {
        const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), -1, nullptr, 0);
        std::u16string wide(length > 0 ? static_cast<size_t>(length) : 0, u'\0');
        if (length > 0)
            MultiByteToWideChar(CP_ACP, 0, text.data(), -1, wide.data(), length);
        const size_t copied = std::min(std::char_traits<char16_t>::length(wide.c_str()), size_t(kAgentLength - 1));
        std::char_traits<char16_t>::copy(agent, wide.c_str(), copied);
        agent[copied] = u'\0';
    }
    return 1;
}

void CBaseAnalysis::FillResult(const std::u16string& link, const std::u16string& page, AnalysisResult& result)
{
    WCHAR agent[kAgentLength] = {};
    GetBrowserUserAgent(agent);
    const std::u16string headers = u"User-Agent: " + std::u16string(agent) + u"\r\n";
    WCHAR type[20] = {};
    DWORD length = 0;
    ProbeMediaLink(headers.c_str(), link.c_str(), &length, type);
    std::u16string cookie;
    GetUrlCookie(link.c_str(), cookie);
    result.length = length;
    result.type = type;
    result.cookie = cookie;
    result.url = link;
    result.title = ExtractTitle(page);
}

int CBaseAnalysis::AnalyzeExtracted(const std::u16string& extracted, AnalysisResult& result)
{
    if (extracted.empty())
        return 0;
    const int found = Analyze(extracted, result, 0, 0);
    return AnalysisStopped() ? 0 : found;
}
