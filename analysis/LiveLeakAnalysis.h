// The LiveLeak analyzer: the page's player "config" is an escaped query string whose "file_url"
// parameter is the media link. Threads and failure as in BaseAnalysis.h.
#pragma once

#include "BaseAnalysis.h"

class CLiveLeakAnalysis : public CBaseAnalysis {
public:
    int AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result);
    // From the configuration text: 1 when a "file_url" piece was found and the record filled.
    int Analyze(const std::u16string& config, AnalysisResult& result, int reserved1, int reserved2) override;
    // Downloads the page into m_strPage and returns its `config: "` text, or empty.
    std::u16string ExtractPlayerConfig(const std::u16string& pageUrl);
};
