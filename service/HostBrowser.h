// What the request service does to its hidden browser beside the events: the ambient object that
// keeps images from loading, the search for the browser's content window, the player clicks and
// the reading of the document for a report.
//
// Everything but ReadDocumentInfo runs on the service's thread, which owns the host window and the
// browser. ReadDocumentInfo works on a document that the service thread got from the browser; the
// platform's document interfaces may be used from any thread, so the reporter reads the page as it
// is at the moment of its report, without waiting for the service thread. Every browser and
// document call may fail; a failed step has no effect.
#pragma once

#include <atlbase.h>
#include <atlcom.h>
#include <exdisp.h>
#include <mshtml.h>

#include <optional>
#include <string>
#include <vector>

constexpr int kMaxClassName = 260;
constexpr size_t kIconUrlLength = 1024; // characters of the icon step's buffers, terminator included

// The ambient properties the control host does not know itself: only the download control, with
// image downloads cleared from what the host proposed.
class CAmbientDispatch : public CComObjectRootEx<CComSingleThreadModel>,
                         public IDispatchImpl<IDispatch, &IID_IDispatch, &IID_StdOle, 2, 0> {
public:
    BEGIN_COM_MAP(CAmbientDispatch)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    STDMETHODIMP Invoke(DISPID dispidMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pdispparams,
        VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) override;
};

struct ElementRect {
    LONG left, top, right, bottom;
};

// The browser's content window below the host ("Shell Embedding", "Shell DocObject View",
// "Internet Explorer_Server"), or null.
HWND FindContentWindow(HWND host);

// Enumeration callback: clicks a windowed Flash player at the centre of its client area.
BOOL CALLBACK ClickFlashWindow(HWND window, LPARAM lParam);

// The bounding rectangles of the document's object elements, then of its embed elements.
std::vector<ElementRect> CollectElementRects(IHTMLDocument2* document);

// Sends a left click (down, then up) to window at the centre of each rectangle, in order.
void ClickElementRects(HWND window, const std::vector<ElementRect>& rects);

// Runs the script that swallows the page's script errors in the browser's top-level document.
void SuppressScriptErrors(IWebBrowser2* browser);

// The browser's top-level HTML document, or null.
CComPtr<IHTMLDocument2> GetHtmlDocument(IWebBrowser2* browser);

// What a report takes from the document; a field that cannot be read stays empty (nullopt).
struct DocumentInfo {
    std::optional<std::u16string> title;
    std::optional<std::u16string> href;
    std::optional<std::u16string> icon; // the cached icon's local file, or its address
};

DocumentInfo ReadDocumentInfo(IHTMLDocument2* document);

// The site icon for a document address: the local file of the cached "<scheme://host>/favicon.ico",
// or that address when the cache lacks it. An address of kIconUrlLength characters or more is cut
// to its scheme and host first; nullopt when even that does not fit.
std::optional<std::u16string> SiteIconFor(const std::u16string& documentUrl);
