#include "VimeoAnalysis.h"

#include "HttpHelpers.h"

namespace {

constexpr char16_t kDescriptionLink[] = u"http://www.vimeo.com/moogaloop/load/clip:";
constexpr char16_t kPlayLink[] = u"http://vimeo.com/moogaloop/play/clip:";

} // namespace

int CVimeoAnalysis::AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result)
{
    return AnalyzeExtracted(ExtractClipId(pageUrl), result);
}

std::u16string CVimeoAnalysis::ExtractClipId(const std::u16string& pageUrl)
{
    std::u16string page;
    if (!FetchPage(pageUrl.c_str(), page))
        return {};
    return CutBetween(page, u"<div id=\"player_", u"_");
}

int CVimeoAnalysis::Analyze(const std::u16string& clipId, AnalysisResult& result, int reserved1, int reserved2)
{
    std::u16string document;
    if (!FetchPage((kDescriptionLink + clipId).c_str(), document))
        return 0;
    const std::u16string signature
        = CutBetween(document, u"<request_signature>", u"</request_signature>", MissingEnd::ToEndOfText);
    const std::u16string expiry = CutBetween(
        document, u"<request_signature_expires>", u"</request_signature_expires>", MissingEnd::ToEndOfText);
    const std::u16string playLink = kPlayLink + clipId + u"/" + signature + u"/" + expiry + u"/?q=sd&type=embed";
    WCHAR agent[kAgentLength] = {};
    GetBrowserUserAgent(agent);
    TempVideoInfo info;
    GetTempVideoInfo(playLink.c_str(), agent, &info);
    result.length = info.length;
    result.url = info.url;
    result.type = info.type;
    result.cookie = info.cookie;
    result.title = ExtractTitle(document);
    return 1;
}
