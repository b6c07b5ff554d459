#include "AnalysisDriver.h"

#include "LiveLeakAnalysis.h"
#include "MetacafeAnalysis.h"
#include "PlayerAnalysis.h"
#include "ReqService.h"
#include "SiteTable.h"
#include "VimeoAnalysis.h"

namespace {

void ReportTwice(CReqService* service, const std::u16string& url, const std::u16string& type,
    const std::u16string& cookie, LONG length)
{
    ReportFoundVideo(url.c_str(), type.c_str(), cookie.c_str(), length, service);
    Sleep(kReportRepeatDelay);
    ReportFoundVideo(url.c_str(), type.c_str(), cookie.c_str(), length, service);
}

template <class Analysis> void RunAnalyzer(CReqService* service, const std::u16string& page)
{
    Analysis analysis;
    AnalysisResult result;
    if (analysis.AnalyzePage(page, result))
        ReportTwice(service, result.url, result.type, result.cookie, static_cast<LONG>(result.length));
}

}

DWORD WINAPI AnalysisThreadProc(LPVOID service)
{
    RunAnalysis(static_cast<CReqService*>(service));
    return 0;
}

const StreamInfo* ChooseStream(const std::vector<StreamInfo>& streams)
{
    const StreamInfo* choice = nullptr;
    for (const StreamInfo& stream : streams) {
        if (!choice || stream.rank < choice->rank)
            choice = &stream;
    }
    return choice;
}

void RunAnalysis(CReqService* service)
{
    const std::u16string page = service->PageAddress();
    switch (LookupSiteId(page)) {
    case 0: {
        const std::vector<StreamInfo> streams = AnalyzeYouTube(page.c_str());
        if (const StreamInfo* chosen = ChooseStream(streams)) {
            const StreamInfo stream = *chosen;
            ReportTwice(service, stream.url, stream.type, stream.cookie, kYouTubeLength);
        }
        break;
    }
    case 1:
        RunAnalyzer<CVimeoAnalysis>(service, page);
        break;
    case 2:
        RunAnalyzer<CLiveLeakAnalysis>(service, page);
        break;
    case 3:
        RunAnalyzer<CMetacafeAnalysis>(service, page);
        break;
    case 4:
        RunAnalyzer<CMyVideoAnalysis>(service, page);
        break;
    case 5:
        RunAnalyzer<CBreakAnalysis>(service, page);
        break;
    default:
        break;
    }
}
