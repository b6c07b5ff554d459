// The Metacafe analyzer: the page's flash parameters carry an escaped "mediaData" object whose
// first "mediaURL" and "key" make the media link. Threads and failure as in BaseAnalysis.h.
#pragma once

#include "BaseAnalysis.h"

class CMetacafeAnalysis : public CBaseAnalysis {
public:
    int AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result);
    // From the flash parameter text: 1 when a media link was built and the record filled.
    int Analyze(const std::u16string& flashVars, AnalysisResult& result, int reserved1, int reserved2) override;
    // Downloads the page into m_strPage and returns its flash parameter text, or empty.
    std::u16string ExtractFlashVars(const std::u16string& pageUrl);
};
