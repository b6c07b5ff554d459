// The analysis run of one request: on a thread of its own, the page address is matched to a known
// service, that service's analyzer runs, and the one video it yields is reported twice, 100 ms
// apart. The run holds no lock and no browser reference; it reads the page address once, at its
// start. A run the service stops fails its blocking calls at once, finds nothing and reports
// nothing more (the service refuses its reports).
#pragma once

#include "YouTubeAnalysis.h"

#include "windows.h"

#include <vector>

class CReqService;

constexpr LONG kYouTubeLength = 20971520; // the stream map gives no size
constexpr DWORD kReportRepeatDelay = 100; // ms between a result's two reports

// Thread entry; the argument is the service. Ends with exit code 0.
DWORD WINAPI AnalysisThreadProc(LPVOID service);

void RunAnalysis(CReqService* service);

// The stream to report: the lowest rank, the earliest among equals; null for an empty list.
const StreamInfo* ChooseStream(const std::vector<StreamInfo>& streams);
