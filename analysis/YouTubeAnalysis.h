// The YouTube analyzer: downloads a watch page with its cookie and turns the stream map the page
// embeds ("url_encoded_fmt_stream_map=") into one StreamInfo per stream of a known format. It has
// no class and probes no media server. Runs on the analysis worker thread like the others (see
// BaseAnalysis.h); a stopped run yields an empty list.
#pragma once

#include "windows.h"
#include "wininet.h"

#include <string>
#include <vector>

struct StreamInfo {
    int rank = 100; // lower is better
    int quality = 0; // lines
    std::u16string url;
    std::u16string type; // "MP4", "FLV" or "3GP"
    std::u16string cookie; // the page's cookie text
};

struct ItagFormat {
    int itag;
    const WCHAR* type;
    int quality;
    int rank;
};

// The recognised stream formats; any other itag is dropped.
extern const ItagFormat ItagTable[10];

// The page's recognised streams in page order, each with the page's cookie; empty on any failure.
std::vector<StreamInfo> AnalyzeYouTube(LPCWSTR pageUrl);

// Opens pageUrl on session (a cached copy may serve), takes the cookie text WinINet then holds for
// it (cookie unchanged when none) and appends the body's text to page. 1 when the whole body was
// read; 0 with both outputs unchanged when the URL cannot be opened.
int DownloadPageWithCookie(HINTERNET session, LPCWSTR pageUrl, std::u16string& page, std::u16string& cookie);

// The streams of a page's map, cookies empty.
std::vector<StreamInfo> ParseStreamMap(LPCWSTR page);

// One map piece decoded to its media URL text; empty when it cannot be decoded.
std::u16string CleanStreamUrl(const std::u16string& piece);

// Appends text's pieces between separators (not empty) to pieces, empty ones included.
void SplitAll(const std::u16string& text, const std::u16string& separator, std::vector<std::u16string>& pieces);
