#include "YouTubeAnalysis.h"

#include "BaseAnalysis.h"
#include "DebugTrace.h"
#include "HttpHelpers.h"

#include <new>

const ItagFormat ItagTable[10] = {
    { 18, u"MP4", 480, 0 },
    { 35, u"FLV", 480, 1 },
    { 34, u"FLV", 360, 2 },
    { 22, u"MP4", 720, 3 },
    { 37, u"MP4", 1080, 4 },
    { 38, u"MP4", 4096, 5 },
    { 5, u"FLV", 240, 6 },
    { 13, u"3GP", 240, 7 },
    { 17, u"3GP", 240, 7 },
    { 36, u"3GP", 240, 7 },
};

namespace {

constexpr WCHAR kAgent[] = u"ReelscanApp";
constexpr WCHAR kMapKey[] = u"url_encoded_fmt_stream_map=";
constexpr int kQuietlyRejectedItags[] = { 43, 44, 45, 82, 84 }; // WebM and 3D streams
constexpr int kMaxItagDigits = 9; // keeps the number inside an int

const ItagFormat* FindItag(int itag)
{
    for (const ItagFormat& format : ItagTable) {
        if (format.itag == itag)
            return &format;
    }
    return nullptr;
}

int ReadItag(const std::u16string& entry)
{
    static const std::u16string key = u"itag=";
    int itag = 0;
    int digits = 0;
    for (size_t at = entry.find(key) + key.size();
         at < entry.size() && entry[at] >= u'0' && entry[at] <= u'9' && digits < kMaxItagDigits; ++at, ++digits)
        itag = itag * 10 + (entry[at] - u'0');
    return itag;
}

} // namespace

std::vector<StreamInfo> AnalyzeYouTube(LPCWSTR pageUrl)
{
    std::vector<StreamInfo> streams;
    HINTERNET session
        = InternetOpenW(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE);
    if (!session)
        return streams;
    std::u16string page;
    std::u16string cookie;
    if (DownloadPageWithCookie(session, pageUrl, page, cookie))
        streams = ParseStreamMap(page.c_str());
    for (StreamInfo& stream : streams)
        stream.cookie = cookie;
    InternetCloseHandle(session);
    if (AnalysisStopped())
        streams.clear();
    return streams;
}

int DownloadPageWithCookie(HINTERNET session, LPCWSTR pageUrl, std::u16string& page, std::u16string& cookie)
{
    HINTERNET request = InternetOpenUrlW(session, pageUrl, u"Accept: */*\r\n\r\n", 15, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request)
        return 0;
    std::u16string current;
    GetUrlCookie(pageUrl, current);
    if (!current.empty())
        cookie = current;
    const int complete = ReadPageBody(request, page);
    InternetCloseHandle(request);
    return complete;
}

std::vector<StreamInfo> ParseStreamMap(LPCWSTR page)
{
    std::vector<StreamInfo> streams;
    const std::u16string text = page;
    const size_t start = text.find(kMapKey);
    if (start == std::u16string::npos)
        return streams;
    const size_t end = text.find(u'>', start);
    try {
        std::vector<std::u16string> pieces;
        SplitAll(
            text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start), u"url%3D", pieces);
        for (const std::u16string& piece : pieces) {
            const std::u16string entry = CleanStreamUrl(piece);
            if (entry.find(u"videoplayback") == std::u16string::npos || entry.find(u"itag=") == std::u16string::npos)
                continue;
            StreamInfo stream;
            const int itag = ReadItag(entry);
            stream.url = entry.substr(0, entry.find(u"&quality="));
            const ItagFormat* format = FindItag(itag);
            if (!format) {
                bool quiet = false;
                for (int rejected : kQuietlyRejectedItags)
                    quiet = quiet || rejected == itag;
                if (!quiet)
                    DebugTrace(u"Unknown itag:%d", itag);
                continue;
            }
            stream.type = format->type;
            stream.quality = format->quality;
            stream.rank = format->rank;
            DebugTrace(u"Analysis_Type:%s", stream.type.c_str());
            DebugTrace(u"Analysis_Quality:%d", stream.quality);
            DebugTrace(u"Analysis_Url:%s", stream.url.c_str());
            streams.push_back(std::move(stream));
        }
    } catch (const std::bad_alloc&) {
        // Out of memory: the streams found so far are the answer.
    }
    return streams;
}

std::u16string CleanStreamUrl(const std::u16string& piece)
{
    std::u16string text = piece;
    const size_t key = text.find(u"url=");
    if (key != std::u16string::npos && key + 4 < text.size())
        text = text.substr(key + 4);
    text = CBaseAnalysis::ReplaceAll(std::move(text), u"%25", u"%");
    text = CBaseAnalysis::ReplaceAll(std::move(text), u"\\u0026", u"&");
    // The canonical form must fit in as many characters as the text has, terminator included.
    std::u16string decoded(text.size(), u'\0');
    DWORD length = static_cast<DWORD>(text.size());
    if (!InternetCanonicalizeUrlW(text.c_str(), decoded.data(), &length, ICU_DECODE))
        return {};
    decoded.resize(std::char_traits<char16_t>::length(decoded.c_str()));
    return decoded;
}

void SplitAll(const std::u16string& text, const std::u16string& separator, std::vector<std::u16string>& pieces)
{
    if (text.empty() || separator.empty())
        return;
    size_t position = 0;
    for (size_t hit = text.find(separator); hit != std::u16string::npos; hit = text.find(separator, position)) {
        pieces.push_back(text.substr(position, hit - position));
        position = hit + separator.size();
    }
    pieces.push_back(text.substr(position));
}
