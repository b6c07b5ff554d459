#include "HostBrowser.h"

#include "HttpHelpers.h"

#include <mshtmdid.h>
#include <wininet.h>

#include <memory>

namespace {

LPARAM PackPoint(LONG x, LONG y)
{
    return static_cast<LPARAM>(static_cast<DWORD>((x & 0xFFFF) | ((y & 0xFFFF) << 16)));
}

void SendClick(HWND window, LONG x, LONG y)
{
    const LPARAM at = PackPoint(x, y);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(window, WM_LBUTTONUP, 0, at);
}

void AppendRects(IHTMLElementCollection* collection, std::vector<ElementRect>& rects)
{
    LONG length = 0;
    if (!collection || FAILED(collection->get_length(&length)) || length < 1)
        return;
    for (LONG index = 0; index < length; ++index) {
        CComVariant name(static_cast<int>(index), VT_I4);
        CComVariant empty;
        CComPtr<IDispatch> item;
        if (FAILED(collection->item(name, empty, &item)) || !item)
            continue;
        CComQIPtr<IHTMLElement> element(item);
        if (!element)
            continue;
        CComQIPtr<IHTMLElement2> element2(element);
        CComPtr<IHTMLRect> rect;
        if (!element2 || FAILED(element2->getBoundingClientRect(&rect)) || !rect)
            continue;
        ElementRect bounds {};
        if (FAILED(rect->get_left(&bounds.left)) || FAILED(rect->get_top(&bounds.top))
            || FAILED(rect->get_right(&bounds.right)) || FAILED(rect->get_bottom(&bounds.bottom)))
            continue;
        rects.push_back(bounds);
    }
}

// The local file of a URL-cache entry, asked for in the two steps the cache expects.
std::optional<std::u16string> CachedFile(const std::u16string& url)
{
    DWORD size = 0;
    if (GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::nullopt;
    // The cache names the size; an entry is a header and a few paths, never near this.
    constexpr DWORD kMaxEntryBytes = 64 * 1024;
    if (size < sizeof(INTERNET_CACHE_ENTRY_INFOW) || size > kMaxEntryBytes)
        return std::nullopt;
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
    auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.get());
    if (!GetUrlCacheEntryInfoW(url.c_str(), entry, &size) || !entry->lpszLocalFileName)
        return std::nullopt;
    return std::u16string(entry->lpszLocalFileName);
}

}

STDMETHODIMP CAmbientDispatch::Invoke(
    DISPID dispidMember, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* pvarResult, EXCEPINFO*, UINT*)
{
    if (dispidMember != DISPID_AMBIENT_DLCONTROL)
        return DISP_E_MEMBERNOTFOUND;
    if (!pvarResult)
        return E_POINTER;
    // The host's proposal is kept but for the images.
    const LONG proposed = pvarResult->vt == VT_I4 ? pvarResult->lVal : 0;
    pvarResult->vt = VT_I4;
    pvarResult->lVal = proposed & ~DLCTL_DLIMAGES;
    return S_OK;
}

HWND FindContentWindow(HWND host)
{
    HWND embedding = FindWindowExW(host, nullptr, u"Shell Embedding", u"");
    HWND view = embedding ? FindWindowExW(embedding, nullptr, u"Shell DocObject View", u"") : nullptr;
    return view ? FindWindowExW(view, nullptr, u"Internet Explorer_Server", u"") : nullptr;
}

BOOL CALLBACK ClickFlashWindow(HWND window, LPARAM)
{
    WCHAR name[kMaxClassName] = {};
    if (GetClassNameW(window, name, kMaxClassName) > 0 && lstrcmpiW(name, u"MacromediaFlashPlayerActiveX") == 0) {
        RECT client {};
        GetClientRect(window, &client);
        SendClick(window, client.right / 2, client.bottom / 2);
    }
    return TRUE;
}

std::vector<ElementRect> CollectElementRects(IHTMLDocument2* document)
{
    std::vector<ElementRect> rects;
    if (!document)
        return rects;
    CComPtr<IHTMLElementCollection> applets;
    if (SUCCEEDED(document->get_applets(&applets)))
        AppendRects(applets, rects);
    CComPtr<IHTMLElementCollection> embeds;
    if (SUCCEEDED(document->get_embeds(&embeds)))
        AppendRects(embeds, rects);
    return rects;
}

void ClickElementRects(HWND window, const std::vector<ElementRect>& rects)
{
    for (const ElementRect& rect : rects)
        SendClick(window, rect.left + (rect.right - rect.left) / 2, rect.top + (rect.bottom - rect.top) / 2);
}

CComPtr<IHTMLDocument2> GetHtmlDocument(IWebBrowser2* browser)
{
    CComPtr<IDispatch> dispatch;
    if (!browser || FAILED(browser->get_Document(&dispatch)) || !dispatch)
        return nullptr;
    return CComQIPtr<IHTMLDocument2>(dispatch);
}

void SuppressScriptErrors(IWebBrowser2* browser)
{
    CComPtr<IHTMLDocument2> document = GetHtmlDocument(browser);
    CComPtr<IHTMLWindow2> window;
    if (!document || FAILED(document->get_parentWindow(&window)) || !window)
        return;
    CComBSTR script(u"function fnOnError(msg,url,lineno){return true;}window.onerror=fnOnError;");
    CComBSTR language(u"JavaScript");
    CComVariant result;
    window->execScript(script, language, &result);
}

DocumentInfo ReadDocumentInfo(IHTMLDocument2* document)
{
    DocumentInfo info;
    if (!document)
        return info;
    CComBSTR title;
    if (document->get_title(&title) == S_OK)
        info.title = title.m_str ? std::u16string(title.m_str, title.Length()) : std::u16string();
    CComBSTR url;
    if (document->get_URL(&url) == S_OK) {
        info.href = url.m_str ? std::u16string(url.m_str, url.Length()) : std::u16string();
        info.icon = SiteIconFor(*info.href);
    }
    return info;
}

std::optional<std::u16string> SiteIconFor(const std::u16string& documentUrl)
{
    std::u16string address = documentUrl.substr(0, documentUrl.find(u'\0'));
    if (address.size() >= kIconUrlLength) {
        // Only the scheme and host make the icon's address; the rest of a long address is dropped
        // so that the icon never comes from an address cut in the middle of its host.
        const size_t authority = address.find(u"://");
        const size_t end = address.find_first_of(u"/?#", authority == std::u16string::npos ? 0 : authority + 3);
        address.resize(end == std::u16string::npos ? address.size() : end);
        if (address.size() >= kIconUrlLength)
            return std::nullopt;
    }
    WCHAR page[kIconUrlLength] = {};
    WCHAR icon[kIconUrlLength] = {};
    address.copy(page, address.size());
    GetSiteIconUrl(page, icon);
    const std::u16string iconUrl(icon);
    if (std::optional<std::u16string> file = CachedFile(iconUrl))
        return file;
    return iconUrl;
}
