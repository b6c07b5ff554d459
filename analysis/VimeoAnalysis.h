// The Vimeo analyzer: the page names its clip in the id of its player element; the clip's
// description document gives a request signature and its expiry, from which the play link is
// built, and GetTempVideoInfo follows that link's redirect to the media. Threads and failure as
// in BaseAnalysis.h.
#pragma once

#include "BaseAnalysis.h"

class CVimeoAnalysis : public CBaseAnalysis {
public:
    int AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result);
    // From a clip id: 1 once the description document was downloaded, whatever the play link gave.
    int Analyze(const std::u16string& clipId, AnalysisResult& result, int reserved1, int reserved2) override;
    // The clip id of the page's `<div id="player_ID_...`, or empty.
    std::u16string ExtractClipId(const std::u16string& pageUrl);
};
