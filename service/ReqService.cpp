#include "ReqService.h"

#include "AnalysisDriver.h"
#include "BaseAnalysis.h"
#include "DebugTrace.h"
#include "HostBrowser.h"

#include <atlhost.h>
#include <exdispid.h>

#include <atomic>
#include <cstdlib>
#include <utility>

namespace {

std::atomic<LONG> LiveServiceCount { 0 };

// The critical section, entered for the life of a block.
class ReportLock {
public:
    explicit ReportLock(CRITICAL_SECTION& section)
        : m_section(section)
    {
        EnterCriticalSection(&m_section);
    }
    ~ReportLock()
    {
        LeaveCriticalSection(&m_section);
    }
    ReportLock(const ReportLock&) = delete;
    ReportLock& operator=(const ReportLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};

void NavigateTo(IWebBrowser2* browser, LPCOLESTR address)
{
    browser->Stop();
    CComVariant url(address);
    CComVariant empty;
    browser->Navigate2(&url, &empty, &empty, &empty, &empty);
}

// The by-reference boolean argument at index of an event's arguments, or null.
VARIANT_BOOL* BoolArgument(DISPPARAMS* params, UINT index)
{
    if (!params || !params->rgvarg || index >= params->cArgs)
        return nullptr;
    VARIANT& argument = params->rgvarg[index];
    return argument.vt == (VT_BOOL | VT_BYREF) ? argument.pboolVal : nullptr;
}

std::u16string Copy(LPCWSTR text)
{
    return text ? std::u16string(text) : std::u16string();
}

}

CReqService::CReqService()
{
    InitializeCriticalSection(&m_csReport);
    ++LiveServiceCount;
}

CReqService::~CReqService()
{
    DeleteCriticalSection(&m_csReport);
}

LONG CReqService::LiveServices()
{
    return LiveServiceCount;
}

HRESULT CReqService::FinalConstruct()
{
    AtlAxWinInit();
    return S_OK;
}

void CReqService::FinalRelease()
{
    // A client that releases without UnInitialize leaves nothing behind for the others.
    UnInitialize();
    if (--LiveServiceCount == 0)
        std::exit(0);
}

STDMETHODIMP CReqService::Initialize(ULONG hWndCli)
{
    m_hWndCli = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(hWndCli));
    // Initialized already: the records go to the new window, the host and browser stay.
    if (m_spBrowser)
        return S_OK;
    CreateHostWindow();
    CComPtr<IUnknown> host;
    HRESULT hr = AtlAxGetHost(m_wndHost, &host);
    CComQIPtr<IAxWinHostWindow> hostWindow(host);
    CComPtr<IWebBrowser2> browser;
    if (SUCCEEDED(hr))
        hr = hostWindow ? hostWindow->QueryControl(&browser) : E_FAIL;
    if (SUCCEEDED(hr) && !browser)
        hr = E_FAIL;
    if (FAILED(hr)) {
        // Nothing half-built stays: a later Initialize starts again from nothing.
        UnInitialize();
        return hr;
    }
    m_spBrowser = browser;
    AdviseBrowserEvents();
    RefreshDocument();
    return S_OK;
}

void CReqService::CreateHostWindow()
{
    HWND host = CreateWindowExW(0, u"AtlAxWin90", nullptr, WS_THICKFRAME, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
        CW_USEDEFAULT, nullptr, nullptr, _AtlBaseModule.GetModuleInstance(), nullptr);
    if (!host)
        return;
    SetWindowLongW(host, GWL_STYLE, GetWindowLongW(host, GWL_STYLE) & ~WS_SYSMENU);
    SetWindowLongW(host, GWL_EXSTYLE, GetWindowLongW(host, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_NOACTIVATE);
    ShowWindow(host, SW_SHOW);
    SetLayeredWindowAttributes(host, 0, 0, LWA_ALPHA);

    // The host object is asked for while the window's user data is still its own.
    CComPtr<IUnknown> unknown;
    if (SUCCEEDED(AtlAxGetHost(host, &unknown))) {
        if (CComQIPtr<IAxWinAmbientDispatchEx> ambient(unknown); ambient) {
            CComObject<CAmbientDispatch>* dispatch = nullptr;
            if (SUCCEEDED(CComObject<CAmbientDispatch>::CreateInstance(&dispatch)))
                ambient->SetAmbientDispatch(dispatch);
        }
        if (CComQIPtr<IAxWinHostWindow> hostWindow(unknown); hostWindow)
            hostWindow->CreateControl(u"about:blank", host, nullptr);
    }

    m_lOldHostUserData = SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_pfnOldHostProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CReqService::HostWindowProc)));
    ReportLock lock(m_csReport);
    m_wndHost = host;
}

void CReqService::AdviseBrowserEvents()
{
    CComQIPtr<IConnectionPointContainer> container(m_spBrowser);
    CComPtr<IConnectionPoint> point;
    if (!container || FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &point)) || !point)
        return;
    DWORD cookie = 0;
    if (FAILED(point->Advise(GetUnknown(), &cookie)))
        return;
    m_spBrowserEventsCP = point;
    m_dwBrowserEventsCookie = cookie;
}

void CReqService::RefreshDocument()
{
    CComPtr<IHTMLDocument2> document = GetHtmlDocument(m_spBrowser);
    {
        ReportLock lock(m_csReport);
        std::swap(m_spDocument.p, document.p);
    }
    // The document that was shown is released here, outside the lock.
}

STDMETHODIMP CReqService::RequestURL(BSTR bstrURL)
{
    if (!m_spBrowser || !bstrURL || !bstrURL[0])
        return S_OK;
    if (IsWindow(m_wndHost))
        KillTimer(m_wndHost, IDT_CLICKPLAYERS);
    NavigateTo(m_spBrowser, u"About:Blank");
    {
        ReportLock lock(m_csReport);
        m_strIcon.clear();
    }
    NavigateTo(m_spBrowser, bstrURL);
    {
        ReportLock lock(m_csReport);
        m_strURL = bstrURL;
        // The run's own copy: m_strURL is the last report's media address as soon as one comes.
        m_strPageURL = bstrURL;
    }
    StopAnalysis();
    m_hAnalysisThread = CreateThread(nullptr, 0, AnalysisThreadProc, this, 0, nullptr);

    // Once the protocol monitor is part of the server, this is where the service finds the
    // browser's content window (FindContentWindow) and, on its first request, makes its
    // MonitorRegistration with that window, ReportFoundVideo and itself, and activates it.
    return S_OK;
}

std::u16string CReqService::PageAddress()
{
    ReportLock lock(m_csReport);
    return m_strPageURL;
}

void CReqService::StopAnalysis()
{
    if (!m_hAnalysisThread)
        return;
    if (WaitForSingleObject(m_hAnalysisThread, kAnalysisGrace) == WAIT_TIMEOUT) {
        {
            // Under the lock, so that a report of the run is accepted whole before the stop or
            // refused after it.
            ReportLock lock(m_csReport);
            TerminateThread(m_hAnalysisThread, 0);
        }
        // A stopped thread's blocking calls fail at once; it holds no lock of ours on its way out.
        WaitForSingleObject(m_hAnalysisThread, INFINITE);
    }
    CloseHandle(m_hAnalysisThread);
    m_hAnalysisThread = nullptr;
}

STDMETHODIMP CReqService::UnInitialize()
{
    if (IsWindow(m_wndHost))
        KillTimer(m_wndHost, IDT_CLICKPLAYERS);
    StopAnalysis();
    if (m_spBrowserEventsCP) {
        m_spBrowserEventsCP->Unadvise(m_dwBrowserEventsCookie);
        m_spBrowserEventsCP.Release();
    }
    if (m_spBrowser) {
        m_spBrowser->Stop();
        m_spBrowser.Release();
    }
    CComPtr<IHTMLDocument2> document;
    HWND host = m_wndHost;
    {
        ReportLock lock(m_csReport);
        std::swap(m_spDocument.p, document.p);
        // Reports whose message dies with the window are never sent.
        m_reports.clear();
    }
    if (m_lOldHostUserData != 0) {
        SetWindowLongPtrW(host, GWLP_USERDATA, std::exchange(m_lOldHostUserData, 0));
    }
    if (m_pfnOldHostProc) {
        SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(std::exchange(m_pfnOldHostProc, nullptr)));
    }
    if (IsWindow(host) && DestroyWindow(host)) {
        ReportLock lock(m_csReport);
        m_wndHost = nullptr;
    }
    // The protocol monitor's registration, once the monitor is part of the server, is released
    // here (ReleaseMonitorRegistration) and m_pRegistration cleared.
    return S_OK;
}

STDMETHODIMP CReqService::Invoke(
    DISPID dispidMember, REFIID, LCID, WORD, DISPPARAMS* pdispparams, VARIANT*, EXCEPINFO*, UINT*)
{
    switch (dispidMember) {
    case DISPID_NEWWINDOW:
        if (VARIANT_BOOL* processed = BoolArgument(pdispparams, 0))
            *processed = VARIANT_TRUE;
        break;
    case DISPID_NEWWINDOW2:
        if (VARIANT_BOOL* cancel = BoolArgument(pdispparams, 0))
            *cancel = VARIANT_TRUE;
        break;
    case DISPID_NEWWINDOW3:
        // Cancel is the second of five parameters; the arguments come last first.
        if (pdispparams && pdispparams->cArgs == 5) {
            if (VARIANT_BOOL* cancel = BoolArgument(pdispparams, 3))
                *cancel = VARIANT_TRUE;
        }
        break;
    case DISPID_TITLECHANGE:
        if (pdispparams && pdispparams->cArgs >= 1 && pdispparams->rgvarg && pdispparams->rgvarg[0].vt == VT_BSTR)
            SetWindowTextW(m_wndHost, pdispparams->rgvarg[0].bstrVal);
        break;
    case DISPID_NAVIGATECOMPLETE2:
        SuppressScriptErrors(m_spBrowser);
        RefreshDocument();
        break;
    case DISPID_DOCUMENTCOMPLETE:
        SetTimer(m_wndHost, IDT_CLICKPLAYERS, kClickPlayersDelay, nullptr);
        RefreshDocument();
        break;
    default:
        break;
    }
    return S_OK;
}

void CReqService::ClickPlayers()
{
    HWND content = FindContentWindow(m_wndHost);
    if (content)
        EnumChildWindows(content, ClickFlashWindow, 0);
    const std::vector<ElementRect> rects = CollectElementRects(GetHtmlDocument(m_spBrowser));
    if (content)
        ClickElementRects(content, rects);
    if (IsWindow(m_wndHost))
        KillTimer(m_wndHost, IDT_CLICKPLAYERS);
}

int CReqService::Report(LPCWSTR url, LPCWSTR type, LPCWSTR cookie, LONG length)
{
    if (!url || !type)
        return 0;
    CComPtr<IHTMLDocument2> document;
    {
        ReportLock lock(m_csReport);
        document = m_spDocument;
    }
    // The page is read as it is now, on this thread and without the lock.
    const DocumentInfo info = ReadDocumentInfo(document);
    document.Release();

    ReportLock lock(m_csReport);
    // A run the service has stopped makes no further report.
    if (AnalysisStopped())
        return 0;
    if (m_reports.size() >= kMaxQueuedReports)
        return 0;
    m_nLength = length;
    m_strType = type;
    m_strURL = url;
    m_strCookie = Copy(cookie);
    if (info.title)
        m_strTitle = *info.title;
    if (info.href)
        m_strHREF = *info.href;
    if (info.icon)
        m_strIcon = *info.icon;
    DebugTrace(u"title=%s", m_strTitle.c_str());
    DebugTrace(u"url=%s", m_strURL.c_str());
    DebugTrace(u"type=%s", m_strType.c_str());
    DebugTrace(u"href=%s", m_strHREF.c_str());
    DebugTrace(u"cookie=%s", m_strCookie.c_str());
    DebugTrace(u"icon=%s", m_strIcon.c_str());
    DebugTrace(u"length=%ld", length);
    m_reports.push_back(VideoReport { m_strTitle, m_strIcon, m_strCookie, m_strHREF, m_strURL, m_strType, m_nLength });
    // Without its window (before Initialize, after UnInitialize) the report is kept as the last
    // one but never sent; a null window would post to this thread instead.
    if (!m_wndHost || !PostMessageW(m_wndHost, WM_SENDVIDEO, 0, 0))
        m_reports.pop_back();
    if (IsWindow(m_wndHost))
        KillTimer(m_wndHost, IDT_CLICKPLAYERS);
    return 1;
}

void CReqService::SendNextReport()
{
    VideoReport report;
    {
        ReportLock lock(m_csReport);
        if (m_reports.empty())
            return;
        report = std::move(m_reports.front());
        m_reports.pop_front();
    }
    SendVideoRecord(m_hWndCli, report);
}

LRESULT CALLBACK CReqService::HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* service = reinterpret_cast<CReqService*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!service)
        return DefWindowProcW(window, message, wParam, lParam);
    // Taken first: the client may release the service while its record is being sent.
    const WNDPROC previous = service->m_pfnOldHostProc;
    if (message == WM_TIMER && wParam == IDT_CLICKPLAYERS)
        service->ClickPlayers();
    else if (message == WM_SENDVIDEO)
        service->SendNextReport();
    return previous ? CallWindowProcW(previous, window, message, wParam, lParam)
                    : DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI ReportFoundVideo(LPCWSTR url, LPCWSTR type, LPCWSTR cookie, LONG length, LPVOID service)
{
    return service ? static_cast<CReqService*>(service)->Report(url, type, cookie, length) : 0;
}
