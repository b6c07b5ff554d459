// CReqService, the request service object: it loads a page into a hidden browser of its own,
// runs the page's analysis thread, and sends each found video to the client window as a
// VideoRecord.
//
// Threads: the object lives in its creator's single-threaded apartment; its methods, the browser's
// events and the host window's messages run on that thread. ReportFoundVideo may be called on any
// thread (the analysis thread, the protocol monitor's threads).
//
// Reports: each accepted report is queued with its own values, one WM_SENDVIDEO is posted for it,
// and the host window sends the reports in the order they were accepted, one record each.
// m_csReport is held only to read or change the queue and the report fields, never across a call
// into the browser, a post that could wait, or the send; so no thread ever waits on it while
// holding something the other side needs.
//
// Analysis runs: a run that outlives its 100 ms grace is asked to stop (TerminateThread, the
// platform's stop facility) while m_csReport is held, so that a report is either accepted before
// the stop or refused after it; the object then waits for the thread to end, which it does at once
// as every blocking call of a stopped thread fails. No run outlives the object.
//
// Lifetime: the process ends with exit code 0 when the last CReqService of the process is released,
// and only then; an object released before that takes down its own host window, browser and run.
#pragma once

#include "ReelscanModule.h"
#include "VideoReport.h"

#include <atlbase.h>
#include <atlcom.h>
#include <exdisp.h>
#include <mshtml.h>

#include <deque>
#include <string>

constexpr UINT WM_SENDVIDEO = WM_USER + 101;
constexpr UINT_PTR IDT_CLICKPLAYERS = 102;
constexpr UINT kClickPlayersDelay = 15000; // ms after the last DocumentComplete
constexpr DWORD kAnalysisGrace = 100; // ms a run gets to finish before it is stopped
// Reports waiting for the host window; a client that stops answering must not grow the queue
// without end. A report beyond this is refused, so that every accepted one is sent.
constexpr size_t kMaxQueuedReports = 1024;

struct MonitorRegistration; // the protocol monitor's record of a service

// The connection point for the event interface; the service never fires it.
template <class T> class CProxy_IReqServiceEvents : public IConnectionPointImpl<T, &DIID__IReqServiceEvents> {
};

class CReqService : public CComObjectRootEx<CComSingleThreadModel>,
                    public CComCoClass<CReqService, &CLSID_ReqService>,
                    public IConnectionPointContainerImpl<CReqService>,
                    public CProxy_IReqServiceEvents<CReqService>,
                    public IDispatchImpl<IReqService, &IID_IReqService, &LIBID_ReelscanModuleLib, 1, 0> {
public:
    CReqService();
    ~CReqService();

    DECLARE_REGISTRY_RESOURCEID(102)

    BEGIN_COM_MAP(CReqService)
    COM_INTERFACE_ENTRY(IReqService)
    COM_INTERFACE_ENTRY(IDispatch)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    // The browser's connection point asks its sink for the event interface itself.
    COM_INTERFACE_ENTRY_IID(DIID_DWebBrowserEvents2, IDispatch)
    END_COM_MAP()

    BEGIN_CONNECTION_POINT_MAP(CReqService)
    CONNECTION_POINT_ENTRY(DIID__IReqServiceEvents)
    END_CONNECTION_POINT_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    // IReqService
    STDMETHODIMP Initialize(ULONG hWndCli) override;
    STDMETHODIMP UnInitialize() override;
    STDMETHODIMP RequestURL(BSTR bstrURL) override;

    // The browser's DWebBrowserEvents2; every other DISPID, IReqService's included, does nothing.
    STDMETHODIMP Invoke(DISPID dispidMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pdispparams,
        VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) override;

    // The host window's procedure; the window's user data is the service.
    static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Accepts one report (see the top of this header): 1 when taken, 0 when url or type is null,
    // the calling analysis run was stopped, or the queue is full.
    int Report(LPCWSTR url, LPCWSTR type, LPCWSTR cookie, LONG length);

    // The page address of the current request, for its analysis run.
    std::u16string PageAddress();

    // The number of services alive in the process.
    static LONG LiveServices();

private:
    void CreateHostWindow();
    void AdviseBrowserEvents();
    void RefreshDocument();
    void ClickPlayers();
    void SendNextReport();
    void StopAnalysis();

    HWND m_hWndCli = nullptr;
    HWND m_wndHost = nullptr;
    CComPtr<IWebBrowser2> m_spBrowser;
    CComPtr<IConnectionPoint> m_spBrowserEventsCP;
    DWORD m_dwBrowserEventsCookie = 0;
    HANDLE m_hAnalysisThread = nullptr;
    WNDPROC m_pfnOldHostProc = nullptr;
    LONG_PTR m_lOldHostUserData = 0;
    MonitorRegistration* m_pRegistration = nullptr;

    // Under m_csReport: the last report's fields, the page of the current request, the document
    // the browser shows (read by reporters on their own threads) and the reports not yet sent.
    CRITICAL_SECTION m_csReport;
    std::u16string m_strTitle, m_strIcon, m_strCookie, m_strType, m_strURL, m_strHREF;
    LONG m_nLength = 0;
    std::u16string m_strPageURL;
    CComPtr<IHTMLDocument2> m_spDocument;
    std::deque<VideoReport> m_reports;
};

// The service's report call, for the analysis thread and the protocol monitor: the strings are
// copied; service is the CReqService.
int WINAPI ReportFoundVideo(LPCWSTR url, LPCWSTR type, LPCWSTR cookie, LONG length, LPVOID service);
