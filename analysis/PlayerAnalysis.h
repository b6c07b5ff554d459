// The analyzers of services whose page names the media file only indirectly and that derive the
// link from the page alone: MyVideo from the preview picture's address, Break from the player
// script's file name and token. Each does its whole work in AnalyzePage; Analyze always answers 0.
// Threads and failure as in BaseAnalysis.h.
#pragma once

#include "BaseAnalysis.h"

class CMyVideoAnalysis : public CBaseAnalysis {
public:
    // The picture address without "/thumbs", up to its first "_", and ".flv".
    int AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result);
    int Analyze(const std::u16string& extracted, AnalysisResult& result, int reserved1, int reserved2) override;
};

class CBreakAnalysis : public CBaseAnalysis {
public:
    // The file name, ".flv?" and the token, joined unchanged.
    int AnalyzePage(const std::u16string& pageUrl, AnalysisResult& result);
    int Analyze(const std::u16string& extracted, AnalysisResult& result, int reserved1, int reserved2) override;
};
