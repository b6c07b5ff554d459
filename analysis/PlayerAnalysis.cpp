#include "PlayerAnalysis.h"

#include "HttpHelpers.h"

#include <vector>

int CMyVideoAnalysis::AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result)
{
    std::u16string page;
    if (!FetchPage(pageUrl.c_str(), page))
        return 0;
    const std::u16string picture = CutBetween(page, u"<link rel='image_src' href='", u"' />");
    if (picture.empty())
        return 0;
    std::vector<std::u16string> parts;
    SplitString(ReplaceAll(picture, u"/thumbs", u""), u"_", parts);
    if (parts.empty())
        return 0;
    FillResult(parts.front() + u".flv", page, result);
    return AnalysisStopped() ? 0 : 1;
}

int CMyVideoAnalysis::Analyze(const std::u16string& extracted, AnalysisResult& result, int reserved1, int reserved2)
{
    return 0;
}

int CBreakAnalysis::AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result)
{
    std::u16string page;
    if (!FetchPage(pageUrl.c_str(), page))
        return 0;
    const std::u16string fileName = CutBetween(page, u"sGlobalFileName='", u"'");
    const std::u16string token = CutBetween(page, u"flashVars.icon = \"", u"\"");
    if (fileName.empty() || token.empty())
        return 0;
    FillResult(fileName + u".flv?" + token, page, result);
    return AnalysisStopped() ? 0 : 1;
}

int CBreakAnalysis::Analyze(const std::u16string& extracted, AnalysisResult& result, int reserved1, int reserved2)
{
    return 0;
}
