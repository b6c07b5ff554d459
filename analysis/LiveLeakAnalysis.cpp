#include "LiveLeakAnalysis.h"

#include "HttpHelpers.h"

#include <vector>

int CLiveLeakAnalysis::AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result)
{
    return AnalyzeExtracted(ExtractPlayerConfig(pageUrl), result);
}

std::u16string CLiveLeakAnalysis::ExtractPlayerConfig(const std::u16string& pageUrl)
{
    std::u16string page;
    if (!FetchPage(pageUrl.c_str(), page))
        return {};
    m_strPage = page;
    return CutBetween(m_strPage, u"config: \"", u"\"");
}

int CLiveLeakAnalysis::Analyze(const std::u16string& config, AnalysisResult& result, int reserved1, int reserved2)
{
    static const std::u16string name = u"file_url";
    std::vector<std::u16string> pieces;
    SplitString(DecodeUrlEscapes(config), u"&", pieces);
    for (const std::u16string& piece : pieces) {
        const size_t found = piece.find(name);
        if (found == std::u16string::npos)
            continue;
        FillResult(ReplaceAll(piece.substr(found), u"file_url=", u""), m_strPage, result);
        return 1;
    }
    return 0;
}
