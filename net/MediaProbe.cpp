#include "MediaProbe.h"

#include "wininet.h"

#include <cstring>
#include <string>
#include <string_view>

const MimeExtension ProbeMimeTable[17] = {
    { u"video/x-flv", u"flv" },
    { u"video/flv", u"flv" },
    { u"application/octet-stream", u"flv" },
    { u"video/f4v", u"flv" },
    { u"video/x-f4v", u"flv" },
    { u"video/3gpp", u"3gp" },
    { u"video/3gpp2", u"3gp2" },
    { u"video/x-mp4", u"mp4" },
    { u"video/mp4", u"mp4" },
    { u"video/m4v", u"mp4" },
    { u"video/webm", u"webm" },
    { u"video/quicktime", u"mov" },
    { u"video/x-quicktime", u"mov" },
    { u"video/x-sgi-movie", u"mov" },
    { u"video/ogg", u"ogg" },
    { u"video/mpeg", u"mpg" },
    { u"video/x-msvideo", u"avi" },
};

const WCHAR kDefaultProbeHeaders[] = u"Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
                                     u"User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET "
                                     u"CLR 1.1.4322)\r\n";

namespace {

constexpr int kAgentLength = 64;
constexpr int kContentTypeLength = 260;
constexpr int kTypeLength = 20;

struct SessionCloser {
    HINTERNET session;
    ~SessionCloser()
    {
        InternetCloseHandle(session); // also closes the request opened on it
    }
};

}

int ProbeMediaLink(LPCWSTR headers, LPCWSTR url, DWORD* length, LPWSTR type)
{
    if (!url || !*url)
        return 0;
    if (!headers || !*headers)
        headers = kDefaultProbeHeaders;
    DWORD state = 0;
    InternetGetConnectedState(&state, 0);
    // A new agent name for every call.
    WCHAR agent[kAgentLength] = {};
    wsprintfW(agent, u"WsaHook%d", static_cast<int>(GetTickCount()));
    const DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                             : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
    HINTERNET session = InternetOpenW(agent, access, nullptr, nullptr, 0);
    if (!session)
        return 0;
    SessionCloser closer { session };

    HINTERNET request = InternetOpenUrlW(session, url, headers, static_cast<DWORD>(lstrlenW(headers)),
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT
            | INTERNET_FLAG_PRAGMA_NOCACHE,
        0);
    if (!request)
        return 0;

    DWORD size = sizeof(DWORD);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length, &size, nullptr))
        *length = 0;
    WCHAR contentType[kContentTypeLength] = {};
    size = sizeof contentType;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, contentType, &size, nullptr)) {
        type[0] = 0;
        contentType[0] = 0;
    }
    for (WCHAR* c = contentType; *c; ++c)
        if (*c >= u'A' && *c <= u'Z')
            *c = static_cast<WCHAR>(*c - u'A' + u'a');
    for (const auto& row : ProbeMimeTable) {
        if (std::u16string_view(contentType) == row.mime) {
            lstrcpynW(type, row.extension, kTypeLength);
            return 1;
        }
    }

    const int ansiLength = WideCharToMultiByte(CP_THREAD_ACP, 0, url, -1, nullptr, 0, nullptr, nullptr);
    if (ansiLength <= 0)
        return 1;
    std::string ansi(static_cast<size_t>(ansiLength), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, url, -1, ansi.data(), ansiLength, nullptr, nullptr);
    char extension[4] = {};
    if (GetUrlVideoExtension(ansi.c_str(), extension))
        MultiByteToWideChar(CP_THREAD_ACP, 0, extension, -1, type, kTypeLength);
    return 1;
}
