#include "MetacafeAnalysis.h"

#include "HttpHelpers.h"

#include <vector>

namespace {

constexpr size_t kMediaUrlValueOffset = 11; // mediaURL":"
constexpr size_t kKeyValueOffset = 6; // key":"

// The key of the first item whose "key" value has a closing quote, or nothing.
bool FindKey(const std::vector<std::u16string>& items, std::u16string& key)
{
    for (const std::u16string& item : items) {
        const size_t name = item.find(u"key");
        if (name == std::u16string::npos || name + kKeyValueOffset > item.size())
            continue;
        const size_t quote = item.find(u'"', name + kKeyValueOffset);
        if (quote == std::u16string::npos)
            continue;
        key = item.substr(name + kKeyValueOffset, quote - name - kKeyValueOffset);
        return true;
    }
    return false;
}

} // namespace

int CMetacafeAnalysis::AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result)
{
    return AnalyzeExtracted(ExtractFlashVars(pageUrl), result);
}

std::u16string CMetacafeAnalysis::ExtractFlashVars(const std::u16string& pageUrl)
{
    std::u16string page;
    if (!FetchPage(pageUrl.c_str(), page))
        return {};
    m_strPage = page;
    return CutBetween(m_strPage, u"<param id=\"flashVars\" name=\"flashvars\" value=\"", u"\" />");
}

int CMetacafeAnalysis::Analyze(const std::u16string& flashVars, AnalysisResult& result, int reserved1, int reserved2)
{
    std::vector<std::u16string> pieces;
    SplitString(DecodeUrlEscapes(flashVars), u"&", pieces);
    for (const std::u16string& piece : pieces) {
        if (piece.find(u"mediaData") == std::u16string::npos)
            continue;
        std::vector<std::u16string> items;
        SplitString(ReplaceAll(piece, u"mediaData={", u""), u",", items);
        const std::u16string* mediaItem = nullptr;
        for (const std::u16string& item : items) {
            if (item.find(u"mediaURL") != std::u16string::npos) {
                mediaItem = &item;
                break;
            }
        }
        std::u16string key;
        if (!mediaItem || !FindKey(items, key))
            continue;
        const size_t value = mediaItem->find(u"mediaURL") + kMediaUrlValueOffset;
        std::u16string link = value < mediaItem->size() ? mediaItem->substr(value, mediaItem->size() - 1 - value) : u"";
        link += u"?__gda__=" + key;
        RemoveChar(ReplaceChar(link.data(), u'\\', u' '), u' ');
        link.resize(std::char_traits<char16_t>::length(link.c_str()));
        FillResult(link, m_strPage, result);
        return 1;
    }
    return 0;
}
