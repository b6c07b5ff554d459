#include "HtmlDocument.h"

#include "InterfaceSlots.h"
#include "Utf.h"
#include "atlcom.h"

#include <cmath>
#include <optional>
#include <strings.h>

namespace shdocvw {

namespace {

using ATL::CComMultiThreadModel;
using ATL::CComObject;
using ATL::CComObjectRootEx;

// The page's answer to expression, or nothing when the page is gone or the script failed.
std::optional<Json> Ask(const std::weak_ptr<Page>& page, const std::string& expression)
{
    const std::shared_ptr<Page> live = page.lock();
    if (!live)
        return std::nullopt;
    EvaluateResult answer = live->Evaluate(expression, kDocumentDeadline);
    if (!answer.ok)
        return std::nullopt;
    return std::move(answer.value);
}

HRESULT AskText(const std::weak_ptr<Page>& page, const std::string& expression, BSTR* text)
{
    if (!text)
        return E_POINTER;
    *text = nullptr;
    const std::optional<Json> answer = Ask(page, expression);
    if (!answer || !answer->is_string())
        return E_FAIL;
    const std::u16string wide = platform::FromUtf8(answer->get<std::string>());
    *text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *text ? S_OK : E_OUTOFMEMORY;
}

template <class Object> HRESULT Hand(CComObject<Object>* object, REFIID riid, void** out)
{
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

// The elements that a collection holds, as a script expression of the page.
enum class ElementList { Applets, Embeds };

const char* ListExpression(ElementList list)
{
    return list == ElementList::Applets ? "document.querySelectorAll('object, applet')" : "document.embeds";
}

class CHtmlRect : public CComObjectRootEx<CComMultiThreadModel>, public IHTMLRectSlots {
public:
    BEGIN_COM_MAP(CHtmlRect)
    COM_INTERFACE_ENTRY(IHTMLRect)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    LONG m_edges[4] {}; // left, top, right, bottom

    STDMETHOD(put_left)(LONG v) override
    {
        return Put(0, v);
    }
    STDMETHOD(get_left)(LONG* p) override
    {
        return Get(0, p);
    }
    STDMETHOD(put_top)(LONG v) override
    {
        return Put(1, v);
    }
    STDMETHOD(get_top)(LONG* p) override
    {
        return Get(1, p);
    }
    STDMETHOD(put_right)(LONG v) override
    {
        return Put(2, v);
    }
    STDMETHOD(get_right)(LONG* p) override
    {
        return Get(2, p);
    }
    STDMETHOD(put_bottom)(LONG v) override
    {
        return Put(3, v);
    }
    STDMETHOD(get_bottom)(LONG* p) override
    {
        return Get(3, p);
    }

private:
    HRESULT Put(int edge, LONG value)
    {
        m_edges[edge] = value;
        return S_OK;
    }
    HRESULT Get(int edge, LONG* value)
    {
        if (!value)
            return E_POINTER;
        *value = m_edges[edge];
        return S_OK;
    }
};

// One element of a collection: the index-th of its list in the page at the moment of each call.
class CHtmlElement : public CComObjectRootEx<CComMultiThreadModel>,
                     public IHTMLElementSlots,
                     public IHTMLElement2Slots {
public:
    BEGIN_COM_MAP(CHtmlElement)
    COM_INTERFACE_ENTRY(IHTMLElement)
    COM_INTERFACE_ENTRY(IHTMLElement2)
    COM_INTERFACE_ENTRY2(IDispatch, IHTMLElement)
    END_COM_MAP()

    std::weak_ptr<Page> m_page;
    ElementList m_list = ElementList::Applets;
    LONG m_index = 0;

    STDMETHOD(get_tagName)(BSTR* p) override
    {
        return AskText(m_page, "(" + Element() + " || {}).tagName", p);
    }
    STDMETHOD(getBoundingClientRect)(IHTMLRect** pRect) override
    {
        if (!pRect)
            return E_POINTER;
        *pRect = nullptr;
        const std::optional<Json> box = Ask(m_page,
            "(() => { const e = " + Element()
                + "; if (!e) return null; const r = e.getBoundingClientRect();"
                  " return [r.left, r.top, r.right, r.bottom]; })()");
        if (!box || !box->is_array() || box->size() != 4)
            return E_FAIL;
        CComObject<CHtmlRect>* rect = nullptr;
        if (FAILED(CComObject<CHtmlRect>::CreateInstance(&rect)))
            return E_OUTOFMEMORY;
        for (int edge = 0; edge < 4; ++edge) {
            const Json& value = (*box)[edge];
            rect->m_edges[edge] = value.is_number() ? static_cast<LONG>(std::lround(value.get<double>())) : 0;
        }
        return Hand(rect, IID_IHTMLRect, reinterpret_cast<void**>(pRect));
    }

private:
    std::string Element() const
    {
        return std::string(ListExpression(m_list)) + "[" + std::to_string(m_index) + "]";
    }
};

// A live collection: its length and items are those of the page at the moment of each call.
class CHtmlElementCollection : public CComObjectRootEx<CComMultiThreadModel>, public IHTMLElementCollectionSlots {
public:
    BEGIN_COM_MAP(CHtmlElementCollection)
    COM_INTERFACE_ENTRY(IHTMLElementCollection)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    std::weak_ptr<Page> m_page;
    ElementList m_list = ElementList::Applets;

    STDMETHOD(get_length)(LONG* p) override
    {
        if (!p)
            return E_POINTER;
        *p = 0;
        const std::optional<LONG> length = Length();
        if (!length)
            return E_FAIL;
        *p = *length;
        return S_OK;
    }
    // By index only: name is the index (any integer type), index is ignored. An index past the end
    // gives S_OK with no element, as MSHTML answers for an item it does not have.
    STDMETHOD(item)(VARIANT name, VARIANT, IDispatch** pdisp) override
    {
        if (!pdisp)
            return E_POINTER;
        *pdisp = nullptr;
        VARIANT index;
        VariantInit(&index);
        if (FAILED(VariantChangeType(&index, &name, 0, VT_I4)))
            return E_INVALIDARG;
        const std::optional<LONG> length = Length();
        if (!length)
            return E_FAIL;
        if (V_I4(&index) < 0 || V_I4(&index) >= *length)
            return S_OK;
        CComObject<CHtmlElement>* element = nullptr;
        if (FAILED(CComObject<CHtmlElement>::CreateInstance(&element)))
            return E_OUTOFMEMORY;
        element->m_page = m_page;
        element->m_list = m_list;
        element->m_index = V_I4(&index);
        return Hand(element, IID_IDispatch, reinterpret_cast<void**>(pdisp));
    }

private:
    std::optional<LONG> Length() const
    {
        const std::optional<Json> length = Ask(m_page, std::string(ListExpression(m_list)) + ".length");
        if (!length || !length->is_number_integer())
            return std::nullopt;
        return length->get<LONG>();
    }
};

HRESULT CreateHtmlDocument(std::weak_ptr<Page> page, REFIID riid, void** out);

class CHtmlWindow : public CComObjectRootEx<CComMultiThreadModel>, public IHTMLWindow2Slots {
public:
    BEGIN_COM_MAP(CHtmlWindow)
    COM_INTERFACE_ENTRY(IHTMLWindow2)
    COM_INTERFACE_ENTRY(IHTMLFramesCollection2)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    std::weak_ptr<Page> m_page;

    STDMETHOD(get_document)(IHTMLDocument2** p) override
    {
        if (!p)
            return E_POINTER;
        *p = nullptr;
        return CreateHtmlDocument(m_page, IID_IHTMLDocument2, reinterpret_cast<void**>(p));
    }
    // Runs code in the top-level page without waiting for it (the result is always VT_EMPTY).
    // JScript is the only language: "JavaScript", "JScript" or none.
    STDMETHOD(execScript)(BSTR code, BSTR language, VARIANT* pvarRet) override
    {
        if (pvarRet)
            VariantInit(pvarRet);
        const std::string name = platform::ToUtf8(platform::WideView(language));
        if (!name.empty() && strncasecmp(name.c_str(), "javascript", 10) != 0
            && strcasecmp(name.c_str(), "jscript") != 0 && strcasecmp(name.c_str(), "ecmascript") != 0)
            return E_INVALIDARG;
        const std::shared_ptr<Page> live = m_page.lock();
        if (!live || !live->Run(platform::ToUtf8(platform::WideView(code))))
            return E_FAIL;
        return S_OK;
    }
};

class CHtmlDocument : public CComObjectRootEx<CComMultiThreadModel>, public IHTMLDocument2Slots {
public:
    BEGIN_COM_MAP(CHtmlDocument)
    COM_INTERFACE_ENTRY(IHTMLDocument2)
    COM_INTERFACE_ENTRY(IHTMLDocument)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    std::weak_ptr<Page> m_page;

    STDMETHOD(get_title)(BSTR* p) override
    {
        return AskText(m_page, "document.title", p);
    }
    STDMETHOD(get_URL)(BSTR* p) override
    {
        return AskText(m_page, "document.URL", p);
    }
    STDMETHOD(get_readyState)(BSTR* p) override
    {
        return AskText(m_page, "document.readyState", p);
    }
    STDMETHOD(get_applets)(IHTMLElementCollection** p) override
    {
        return Collection(ElementList::Applets, p);
    }
    STDMETHOD(get_embeds)(IHTMLElementCollection** p) override
    {
        return Collection(ElementList::Embeds, p);
    }
    STDMETHOD(get_parentWindow)(IHTMLWindow2** p) override
    {
        if (!p)
            return E_POINTER;
        *p = nullptr;
        if (m_page.expired())
            return E_FAIL;
        CComObject<CHtmlWindow>* window = nullptr;
        if (FAILED(CComObject<CHtmlWindow>::CreateInstance(&window)))
            return E_OUTOFMEMORY;
        window->m_page = m_page;
        return Hand(window, IID_IHTMLWindow2, reinterpret_cast<void**>(p));
    }

private:
    HRESULT Collection(ElementList list, IHTMLElementCollection** p)
    {
        if (!p)
            return E_POINTER;
        *p = nullptr;
        if (m_page.expired())
            return E_FAIL;
        CComObject<CHtmlElementCollection>* collection = nullptr;
        if (FAILED(CComObject<CHtmlElementCollection>::CreateInstance(&collection)))
            return E_OUTOFMEMORY;
        collection->m_page = m_page;
        collection->m_list = list;
        return Hand(collection, IID_IHTMLElementCollection, reinterpret_cast<void**>(p));
    }
};

// The document of a page that is no HTML (a media file): there is nothing to ask it.
class COtherDocument : public CComObjectRootEx<CComMultiThreadModel>, public DispatchWithoutTypeInfo<IDispatch> {
public:
    BEGIN_COM_MAP(COtherDocument)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()
};

HRESULT CreateHtmlDocument(std::weak_ptr<Page> page, REFIID riid, void** out)
{
    if (page.expired())
        return E_FAIL;
    CComObject<CHtmlDocument>* document = nullptr;
    if (FAILED(CComObject<CHtmlDocument>::CreateInstance(&document)))
        return E_OUTOFMEMORY;
    document->m_page = std::move(page);
    return Hand(document, riid, out);
}

}

HRESULT CreateDocument(std::weak_ptr<Page> page, DocumentKind kind, IDispatch** document)
{
    if (!document)
        return E_POINTER;
    *document = nullptr;
    if (kind == DocumentKind::Html)
        return CreateHtmlDocument(std::move(page), IID_IDispatch, reinterpret_cast<void**>(document));
    CComObject<COtherDocument>* other = nullptr;
    if (FAILED(CComObject<COtherDocument>::CreateInstance(&other)))
        return E_OUTOFMEMORY;
    return Hand(other, IID_IDispatch, reinterpret_cast<void**>(document));
}

DocumentKind DocumentKindOf(const std::string& mimeType)
{
    return mimeType.empty() || strcasecmp(mimeType.c_str(), "text/html") == 0
            || strcasecmp(mimeType.c_str(), "application/xhtml+xml") == 0
        ? DocumentKind::Html
        : DocumentKind::Other;
}

}
