// Each interface the control and its document offer, with every slot answering E_NOTIMPL, so that
// an object overrides only what it offers and every other slot of the real table is still in place.
#pragma once

#include "exdisp.h"
#include "mshtml.h"

namespace shdocvw {

// IDispatch without type information: no names, no members (the control is used through its tables).
template <class Interface> class DispatchWithoutTypeInfo : public Interface {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (ppTInfo)
            *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) override
    {
        for (UINT i = 0; rgDispId && i < cNames; ++i)
            rgDispId[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
};

class IWebBrowser2Slots : public DispatchWithoutTypeInfo<IWebBrowser2> {
public:
    // clang-format off
    STDMETHOD(GoBack)() override { return E_NOTIMPL; }
    STDMETHOD(GoForward)() override { return E_NOTIMPL; }
    STDMETHOD(GoHome)() override { return E_NOTIMPL; }
    STDMETHOD(GoSearch)() override { return E_NOTIMPL; }
    STDMETHOD(Navigate)(BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(Refresh)() override { return E_NOTIMPL; }
    STDMETHOD(Refresh2)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(Stop)() override { return E_NOTIMPL; }
    STDMETHOD(get_Application)(IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(get_Parent)(IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(get_Container)(IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(get_Document)(IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(get_TopLevelContainer)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(get_Type)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Left)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_Left)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_Top)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_Top)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_Width)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_Width)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_Height)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_Height)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_LocationName)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_LocationURL)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Busy)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(Quit)() override { return E_NOTIMPL; }
    STDMETHOD(ClientToWindow)(int*, int*) override { return E_NOTIMPL; }
    STDMETHOD(PutProperty)(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(GetProperty)(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_Name)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_HWND)(SHANDLE_PTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_FullName)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Path)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Visible)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_Visible)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_StatusBar)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_StatusBar)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_StatusText)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_StatusText)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_ToolBar)(int*) override { return E_NOTIMPL; }
    STDMETHOD(put_ToolBar)(int) override { return E_NOTIMPL; }
    STDMETHOD(get_MenuBar)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_MenuBar)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_FullScreen)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_FullScreen)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(Navigate2)(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(QueryStatusWB)(OLECMDID, OLECMDF*) override { return E_NOTIMPL; }
    STDMETHOD(ExecWB)(OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(ShowBrowserBar)(VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_ReadyState)(READYSTATE*) override { return E_NOTIMPL; }
    STDMETHOD(get_Offline)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_Offline)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_Silent)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_Silent)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_RegisterAsBrowser)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_RegisterAsBrowser)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_RegisterAsDropTarget)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_RegisterAsDropTarget)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_TheaterMode)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_TheaterMode)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_AddressBar)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_AddressBar)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_Resizable)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_Resizable)(VARIANT_BOOL) override { return E_NOTIMPL; }
    // clang-format on
};

class IHTMLDocument2Slots : public DispatchWithoutTypeInfo<IHTMLDocument2> {
public:
    // clang-format off
    STDMETHOD(get_Script)(IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(get_all)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_body)(IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHOD(get_activeElement)(IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHOD(get_images)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_applets)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_links)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_forms)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_anchors)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(put_title)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_title)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_scripts)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(put_designMode)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_designMode)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_selection)(IHTMLSelectionObject**) override { return E_NOTIMPL; }
    STDMETHOD(get_readyState)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_frames)(IHTMLFramesCollection2**) override { return E_NOTIMPL; }
    STDMETHOD(get_embeds)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(get_plugins)(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHOD(put_alinkColor)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_alinkColor)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_bgColor)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_bgColor)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_fgColor)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_fgColor)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_linkColor)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_linkColor)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_vlinkColor)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_vlinkColor)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_referrer)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_location)(IHTMLLocation**) override { return E_NOTIMPL; }
    STDMETHOD(get_lastModified)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_URL)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_URL)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_domain)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_domain)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_cookie)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_cookie)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_expando)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_expando)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_charset)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_charset)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_defaultCharset)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_defaultCharset)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_mimeType)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_fileSize)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_fileCreatedDate)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_fileModifiedDate)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_fileUpdatedDate)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_security)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_protocol)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_nameProp)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(write)(SAFEARRAY*) override { return E_NOTIMPL; }
    STDMETHOD(writeln)(SAFEARRAY*) override { return E_NOTIMPL; }
    STDMETHOD(open)(BSTR, VARIANT, VARIANT, VARIANT, IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(close)() override { return E_NOTIMPL; }
    STDMETHOD(clear)() override { return E_NOTIMPL; }
    STDMETHOD(queryCommandSupported)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(queryCommandEnabled)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(queryCommandState)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(queryCommandIndeterm)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(queryCommandText)(BSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(queryCommandValue)(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(execCommand)(BSTR, VARIANT_BOOL, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(execCommandShowHelp)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(createElement)(BSTR, IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHOD(put_onhelp)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onhelp)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onclick)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onclick)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondblclick)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondblclick)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onkeyup)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onkeyup)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onkeydown)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onkeydown)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onkeypress)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onkeypress)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmouseup)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmouseup)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmousedown)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmousedown)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmousemove)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmousemove)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmouseout)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmouseout)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmouseover)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmouseover)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onreadystatechange)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onreadystatechange)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onafterupdate)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onafterupdate)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onrowexit)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onrowexit)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onrowenter)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onrowenter)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondragstart)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondragstart)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onselectstart)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onselectstart)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(elementFromPoint)(LONG, LONG, IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHOD(get_parentWindow)(IHTMLWindow2**) override { return E_NOTIMPL; }
    STDMETHOD(get_styleSheets)(IHTMLStyleSheetsCollection**) override { return E_NOTIMPL; }
    STDMETHOD(put_onbeforeupdate)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onbeforeupdate)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onerrorupdate)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onerrorupdate)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(toString)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(createStyleSheet)(BSTR, LONG, IHTMLStyleSheet**) override { return E_NOTIMPL; }
    // clang-format on
};

class IHTMLWindow2Slots : public DispatchWithoutTypeInfo<IHTMLWindow2> {
public:
    // clang-format off
    STDMETHOD(item)(VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_length)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_frames)(IHTMLFramesCollection2**) override { return E_NOTIMPL; }
    STDMETHOD(put_defaultStatus)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_defaultStatus)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_status)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_status)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(setTimeout)(BSTR, LONG, VARIANT*, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(clearTimeout)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(alert)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(confirm)(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(prompt)(BSTR, BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_Image)(IHTMLImageElementFactory**) override { return E_NOTIMPL; }
    STDMETHOD(get_location)(IHTMLLocation**) override { return E_NOTIMPL; }
    STDMETHOD(get_history)(IOmHistory**) override { return E_NOTIMPL; }
    STDMETHOD(close)() override { return E_NOTIMPL; }
    STDMETHOD(put_opener)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_opener)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_navigator)(IOmNavigator**) override { return E_NOTIMPL; }
    STDMETHOD(put_name)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_name)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_parent)(IHTMLWindow2**) override { return E_NOTIMPL; }
    STDMETHOD(open)(BSTR, BSTR, BSTR, VARIANT_BOOL, IHTMLWindow2**) override { return E_NOTIMPL; }
    STDMETHOD(get_self)(IHTMLWindow2**) override { return E_NOTIMPL; }
    STDMETHOD(get_top)(IHTMLWindow2**) override { return E_NOTIMPL; }
    STDMETHOD(get_window)(IHTMLWindow2**) override { return E_NOTIMPL; }
    STDMETHOD(navigate)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(put_onfocus)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onfocus)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onblur)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onblur)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onload)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onload)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onbeforeunload)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onbeforeunload)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onunload)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onunload)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onhelp)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onhelp)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onerror)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onerror)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onresize)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onresize)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onscroll)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onscroll)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_document)(IHTMLDocument2**) override { return E_NOTIMPL; }
    STDMETHOD(get_event)(IHTMLEventObj**) override { return E_NOTIMPL; }
    STDMETHOD(get__newEnum)(IUnknown**) override { return E_NOTIMPL; }
    STDMETHOD(showModalDialog)(BSTR, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(showHelp)(BSTR, VARIANT, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_screen)(IHTMLScreen**) override { return E_NOTIMPL; }
    STDMETHOD(get_Option)(IHTMLOptionElementFactory**) override { return E_NOTIMPL; }
    STDMETHOD(focus)() override { return E_NOTIMPL; }
    STDMETHOD(get_closed)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(blur)() override { return E_NOTIMPL; }
    STDMETHOD(scroll)(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_clientInformation)(IOmNavigator**) override { return E_NOTIMPL; }
    STDMETHOD(setInterval)(BSTR, LONG, VARIANT*, LONG*) override { return E_NOTIMPL; }
    STDMETHOD(clearInterval)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(put_offscreenBuffering)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_offscreenBuffering)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(execScript)(BSTR, BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(toString)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(scrollBy)(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHOD(scrollTo)(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHOD(moveTo)(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHOD(moveBy)(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHOD(resizeTo)(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHOD(resizeBy)(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_external)(IDispatch**) override { return E_NOTIMPL; }
    // clang-format on
};

class IHTMLElementCollectionSlots : public DispatchWithoutTypeInfo<IHTMLElementCollection> {
public:
    // clang-format off
    STDMETHOD(toString)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_length)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_length)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get__newEnum)(IUnknown**) override { return E_NOTIMPL; }
    STDMETHOD(item)(VARIANT, VARIANT, IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(tags)(VARIANT, IDispatch**) override { return E_NOTIMPL; }
    // clang-format on
};

class IHTMLElementSlots : public DispatchWithoutTypeInfo<IHTMLElement> {
public:
    // clang-format off
    STDMETHOD(setAttribute)(BSTR, VARIANT, LONG) override { return E_NOTIMPL; }
    STDMETHOD(getAttribute)(BSTR, LONG, VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(removeAttribute)(BSTR, LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(put_className)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_className)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_id)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_id)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_tagName)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_parentElement)(IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHOD(get_style)(IHTMLStyle**) override { return E_NOTIMPL; }
    STDMETHOD(put_onhelp)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onhelp)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onclick)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onclick)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondblclick)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondblclick)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onkeydown)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onkeydown)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onkeyup)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onkeyup)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onkeypress)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onkeypress)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmouseout)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmouseout)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmouseover)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmouseover)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmousemove)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmousemove)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmousedown)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmousedown)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onmouseup)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onmouseup)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_document)(IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(put_title)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_title)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_language)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_language)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_onselectstart)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onselectstart)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(scrollIntoView)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(contains)(IHTMLElement*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(get_sourceIndex)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_recordNumber)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_lang)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_lang)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_offsetLeft)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_offsetTop)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_offsetWidth)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_offsetHeight)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_offsetParent)(IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHOD(put_innerHTML)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_innerHTML)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_innerText)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_innerText)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_outerHTML)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_outerHTML)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_outerText)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_outerText)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(insertAdjacentHTML)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(insertAdjacentText)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_parentTextEdit)(IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHOD(get_isTextEdit)(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(click)() override { return E_NOTIMPL; }
    STDMETHOD(get_filters)(IHTMLFiltersCollection**) override { return E_NOTIMPL; }
    STDMETHOD(put_ondragstart)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondragstart)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(toString)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_onbeforeupdate)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onbeforeupdate)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onafterupdate)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onafterupdate)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onerrorupdate)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onerrorupdate)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onrowexit)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onrowexit)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onrowenter)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onrowenter)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondatasetchanged)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondatasetchanged)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondataavailable)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondataavailable)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondatasetcomplete)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondatasetcomplete)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onfilterchange)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onfilterchange)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_children)(IDispatch**) override { return E_NOTIMPL; }
    STDMETHOD(get_all)(IDispatch**) override { return E_NOTIMPL; }
    // clang-format on
};

class IHTMLElement2Slots : public DispatchWithoutTypeInfo<IHTMLElement2> {
public:
    // clang-format off
    STDMETHOD(get_scopeName)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(setCapture)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(releaseCapture)() override { return E_NOTIMPL; }
    STDMETHOD(put_onlosecapture)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onlosecapture)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(componentFromPoint)(LONG, LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(doScroll)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(put_onscroll)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onscroll)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondrag)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondrag)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondragend)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondragend)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondragenter)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondragenter)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondragover)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondragover)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondragleave)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondragleave)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_ondrop)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_ondrop)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onbeforecut)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onbeforecut)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_oncut)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_oncut)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onbeforecopy)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onbeforecopy)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_oncopy)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_oncopy)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onbeforepaste)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onbeforepaste)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(put_onpaste)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onpaste)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(get_currentStyle)(IHTMLCurrentStyle**) override { return E_NOTIMPL; }
    STDMETHOD(put_onpropertychange)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_onpropertychange)(VARIANT*) override { return E_NOTIMPL; }
    STDMETHOD(getClientRects)(IHTMLRectCollection**) override { return E_NOTIMPL; }
    STDMETHOD(getBoundingClientRect)(IHTMLRect**) override { return E_NOTIMPL; }
    // clang-format on
};

class IHTMLRectSlots : public DispatchWithoutTypeInfo<IHTMLRect> {
public:
    // clang-format off
    STDMETHOD(put_left)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_left)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_top)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_top)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_right)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_right)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_bottom)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_bottom)(LONG*) override { return E_NOTIMPL; }
    // clang-format on
};

class IOleObjectSlots : public IOleObject {
public:
    // clang-format off
    STDMETHOD(SetClientSite)(IOleClientSite*) override { return E_NOTIMPL; }
    STDMETHOD(GetClientSite)(IOleClientSite**) override { return E_NOTIMPL; }
    STDMETHOD(SetHostNames)(LPCOLESTR, LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHOD(Close)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(SetMoniker)(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHOD(InitFromData)(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(GetClipboardData)(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHOD(DoVerb)(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override { return E_NOTIMPL; }
    STDMETHOD(EnumVerbs)(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHOD(Update)() override { return E_NOTIMPL; }
    STDMETHOD(IsUpToDate)() override { return E_NOTIMPL; }
    STDMETHOD(GetUserClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(GetUserType)(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHOD(SetExtent)(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHOD(GetExtent)(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHOD(Advise)(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(Unadvise)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(EnumAdvise)(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHOD(GetMiscStatus)(DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(SetColorScheme)(LOGPALETTE*) override { return E_NOTIMPL; }
    // clang-format on
};

class IOleInPlaceObjectSlots : public IOleInPlaceObject {
public:
    // clang-format off
    STDMETHOD(GetWindow)(HWND*) override { return E_NOTIMPL; }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(InPlaceDeactivate)() override { return E_NOTIMPL; }
    STDMETHOD(UIDeactivate)() override { return E_NOTIMPL; }
    STDMETHOD(SetObjectRects)(LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    STDMETHOD(ReactivateAndUndo)() override { return E_NOTIMPL; }
    // clang-format on
};

}
