// The MSHTML document interfaces the WebBrowser control hands out: the document (IHTMLDocument2),
// its window (IHTMLWindow2, whose execScript runs in the top-level page), element collections,
// elements and their rectangles. Functions are in their exact table order; IHTMLElement2 is
// declared up to getBoundingClientRect, the others whole.
//
// The platform's objects answer as the page is at the moment of the call and may be called from
// any thread of the process; each call waits only for the page's own answer (a page that loops
// in script makes the call fail after its deadline, and blocks nothing else). Once the page is
// gone (navigated away, its browser dead), calls fail. Slots a hidden browser has no use for
// answer E_NOTIMPL. A page that is not HTML (a media file) has no IHTMLDocument2.
#pragma once

#include "mshtmdid.h"
#include "ocidl.h"

struct IHTMLElement;
struct IHTMLElementCollection;
struct IHTMLWindow2;
struct IHTMLSelectionObject;
struct IHTMLFramesCollection2;
struct IHTMLLocation;
struct IHTMLStyleSheetsCollection;
struct IHTMLStyleSheet;
struct IHTMLImageElementFactory;
struct IHTMLOptionElementFactory;
struct IOmHistory;
struct IOmNavigator;
struct IHTMLEventObj;
struct IHTMLScreen;
struct IHTMLStyle;
struct IHTMLFiltersCollection;
struct IHTMLCurrentStyle;
struct IHTMLRectCollection;
struct IHTMLRect;

DEFINE_GUID(CLSID_HTMLDocument, 0x25336920, 0x03F9, 0x11CF, 0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13);
DEFINE_GUID(IID_IHTMLDocument, 0x626FC520, 0xA41E, 0x11CF, 0xA7, 0x31, 0x00, 0xA0, 0xC9, 0x08, 0x26, 0x37);
DEFINE_GUID(IID_IHTMLDocument2, 0x332C4425, 0x26CB, 0x11D0, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19);
DEFINE_GUID(IID_IHTMLFramesCollection2, 0x332C4426, 0x26CB, 0x11D0, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19);
DEFINE_GUID(IID_IHTMLWindow2, 0x332C4427, 0x26CB, 0x11D0, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19);
DEFINE_GUID(IID_IHTMLElementCollection, 0x3050F21F, 0x98B5, 0x11CF, 0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B);
DEFINE_GUID(IID_IHTMLElement, 0x3050F1FF, 0x98B5, 0x11CF, 0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B);
DEFINE_GUID(IID_IHTMLElement2, 0x3050F434, 0x98B5, 0x11CF, 0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B);
DEFINE_GUID(IID_IHTMLRect, 0x3050F4A3, 0x98B5, 0x11CF, 0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B);

struct IHTMLDocument : public IDispatch {
    STDMETHOD(get_Script)(IDispatch** p) PURE;
};
DECLARE_INTERFACE_IID(IHTMLDocument, IID_IHTMLDocument)

struct IHTMLDocument2 : public IHTMLDocument {
    STDMETHOD(get_all)(IHTMLElementCollection** p) PURE;
    STDMETHOD(get_body)(IHTMLElement** p) PURE;
    STDMETHOD(get_activeElement)(IHTMLElement** p) PURE;
    STDMETHOD(get_images)(IHTMLElementCollection** p) PURE;
    STDMETHOD(get_applets)(IHTMLElementCollection** p) PURE;
    STDMETHOD(get_links)(IHTMLElementCollection** p) PURE;
    STDMETHOD(get_forms)(IHTMLElementCollection** p) PURE;
    STDMETHOD(get_anchors)(IHTMLElementCollection** p) PURE;
    STDMETHOD(put_title)(BSTR v) PURE;
    STDMETHOD(get_title)(BSTR* p) PURE;
    STDMETHOD(get_scripts)(IHTMLElementCollection** p) PURE;
    STDMETHOD(put_designMode)(BSTR v) PURE;
    STDMETHOD(get_designMode)(BSTR* p) PURE;
    STDMETHOD(get_selection)(IHTMLSelectionObject** p) PURE;
    STDMETHOD(get_readyState)(BSTR* p) PURE;
    STDMETHOD(get_frames)(IHTMLFramesCollection2** p) PURE;
    STDMETHOD(get_embeds)(IHTMLElementCollection** p) PURE;
    STDMETHOD(get_plugins)(IHTMLElementCollection** p) PURE;
    STDMETHOD(put_alinkColor)(VARIANT v) PURE;
    STDMETHOD(get_alinkColor)(VARIANT* p) PURE;
    STDMETHOD(put_bgColor)(VARIANT v) PURE;
    STDMETHOD(get_bgColor)(VARIANT* p) PURE;
    STDMETHOD(put_fgColor)(VARIANT v) PURE;
    STDMETHOD(get_fgColor)(VARIANT* p) PURE;
    STDMETHOD(put_linkColor)(VARIANT v) PURE;
    STDMETHOD(get_linkColor)(VARIANT* p) PURE;
    STDMETHOD(put_vlinkColor)(VARIANT v) PURE;
    STDMETHOD(get_vlinkColor)(VARIANT* p) PURE;
    STDMETHOD(get_referrer)(BSTR* p) PURE;
    STDMETHOD(get_location)(IHTMLLocation** p) PURE;
    STDMETHOD(get_lastModified)(BSTR* p) PURE;
    STDMETHOD(put_URL)(BSTR v) PURE;
    STDMETHOD(get_URL)(BSTR* p) PURE;
    STDMETHOD(put_domain)(BSTR v) PURE;
    STDMETHOD(get_domain)(BSTR* p) PURE;
    STDMETHOD(put_cookie)(BSTR v) PURE;
    STDMETHOD(get_cookie)(BSTR* p) PURE;
    STDMETHOD(put_expando)(VARIANT_BOOL v) PURE;
    STDMETHOD(get_expando)(VARIANT_BOOL* p) PURE;
    STDMETHOD(put_charset)(BSTR v) PURE;
    STDMETHOD(get_charset)(BSTR* p) PURE;
    STDMETHOD(put_defaultCharset)(BSTR v) PURE;
    STDMETHOD(get_defaultCharset)(BSTR* p) PURE;
    STDMETHOD(get_mimeType)(BSTR* p) PURE;
    STDMETHOD(get_fileSize)(BSTR* p) PURE;
    STDMETHOD(get_fileCreatedDate)(BSTR* p) PURE;
    STDMETHOD(get_fileModifiedDate)(BSTR* p) PURE;
    STDMETHOD(get_fileUpdatedDate)(BSTR* p) PURE;
    STDMETHOD(get_security)(BSTR* p) PURE;
    STDMETHOD(get_protocol)(BSTR* p) PURE;
    STDMETHOD(get_nameProp)(BSTR* p) PURE;
    STDMETHOD(write)(SAFEARRAY* psarray) PURE;
    STDMETHOD(writeln)(SAFEARRAY* psarray) PURE;
    STDMETHOD(open)(BSTR url, VARIANT name, VARIANT features, VARIANT replace, IDispatch** pomWindowResult) PURE;
    STDMETHOD(close)() PURE;
    STDMETHOD(clear)() PURE;
    STDMETHOD(queryCommandSupported)(BSTR cmdID, VARIANT_BOOL* pfRet) PURE;
    STDMETHOD(queryCommandEnabled)(BSTR cmdID, VARIANT_BOOL* pfRet) PURE;
    STDMETHOD(queryCommandState)(BSTR cmdID, VARIANT_BOOL* pfRet) PURE;
    STDMETHOD(queryCommandIndeterm)(BSTR cmdID, VARIANT_BOOL* pfRet) PURE;
    STDMETHOD(queryCommandText)(BSTR cmdID, BSTR* pcmdText) PURE;
    STDMETHOD(queryCommandValue)(BSTR cmdID, VARIANT* pcmdValue) PURE;
    STDMETHOD(execCommand)(BSTR cmdID, VARIANT_BOOL showUI, VARIANT value, VARIANT_BOOL* pfRet) PURE;
    STDMETHOD(execCommandShowHelp)(BSTR cmdID, VARIANT_BOOL* pfRet) PURE;
    STDMETHOD(createElement)(BSTR eTag, IHTMLElement** newElem) PURE;
    STDMETHOD(put_onhelp)(VARIANT v) PURE;
    STDMETHOD(get_onhelp)(VARIANT* p) PURE;
    STDMETHOD(put_onclick)(VARIANT v) PURE;
    STDMETHOD(get_onclick)(VARIANT* p) PURE;
    STDMETHOD(put_ondblclick)(VARIANT v) PURE;
    STDMETHOD(get_ondblclick)(VARIANT* p) PURE;
    STDMETHOD(put_onkeyup)(VARIANT v) PURE;
    STDMETHOD(get_onkeyup)(VARIANT* p) PURE;
    STDMETHOD(put_onkeydown)(VARIANT v) PURE;
    STDMETHOD(get_onkeydown)(VARIANT* p) PURE;
    STDMETHOD(put_onkeypress)(VARIANT v) PURE;
    STDMETHOD(get_onkeypress)(VARIANT* p) PURE;
    STDMETHOD(put_onmouseup)(VARIANT v) PURE;
    STDMETHOD(get_onmouseup)(VARIANT* p) PURE;
    STDMETHOD(put_onmousedown)(VARIANT v) PURE;
    STDMETHOD(get_onmousedown)(VARIANT* p) PURE;
    STDMETHOD(put_onmousemove)(VARIANT v) PURE;
    STDMETHOD(get_onmousemove)(VARIANT* p) PURE;
    STDMETHOD(put_onmouseout)(VARIANT v) PURE;
    STDMETHOD(get_onmouseout)(VARIANT* p) PURE;
    STDMETHOD(put_onmouseover)(VARIANT v) PURE;
    STDMETHOD(get_onmouseover)(VARIANT* p) PURE;
    STDMETHOD(put_onreadystatechange)(VARIANT v) PURE;
    STDMETHOD(get_onreadystatechange)(VARIANT* p) PURE;
    STDMETHOD(put_onafterupdate)(VARIANT v) PURE;
    STDMETHOD(get_onafterupdate)(VARIANT* p) PURE;
    STDMETHOD(put_onrowexit)(VARIANT v) PURE;
    STDMETHOD(get_onrowexit)(VARIANT* p) PURE;
    STDMETHOD(put_onrowenter)(VARIANT v) PURE;
    STDMETHOD(get_onrowenter)(VARIANT* p) PURE;
    STDMETHOD(put_ondragstart)(VARIANT v) PURE;
    STDMETHOD(get_ondragstart)(VARIANT* p) PURE;
    STDMETHOD(put_onselectstart)(VARIANT v) PURE;
    STDMETHOD(get_onselectstart)(VARIANT* p) PURE;
    STDMETHOD(elementFromPoint)(LONG x, LONG y, IHTMLElement** elementHit) PURE;
    STDMETHOD(get_parentWindow)(IHTMLWindow2** p) PURE;
    STDMETHOD(get_styleSheets)(IHTMLStyleSheetsCollection** p) PURE;
    STDMETHOD(put_onbeforeupdate)(VARIANT v) PURE;
    STDMETHOD(get_onbeforeupdate)(VARIANT* p) PURE;
    STDMETHOD(put_onerrorupdate)(VARIANT v) PURE;
    STDMETHOD(get_onerrorupdate)(VARIANT* p) PURE;
    STDMETHOD(toString)(BSTR* String) PURE;
    STDMETHOD(createStyleSheet)(BSTR bstrHref, LONG lIndex, IHTMLStyleSheet** ppnewStyleSheet) PURE;
};
DECLARE_INTERFACE_IID(IHTMLDocument2, IID_IHTMLDocument2)

struct IHTMLFramesCollection2 : public IDispatch {
    STDMETHOD(item)(VARIANT* pvarIndex, VARIANT* pvarResult) PURE;
    STDMETHOD(get_length)(LONG* p) PURE;
};
DECLARE_INTERFACE_IID(IHTMLFramesCollection2, IID_IHTMLFramesCollection2)

struct IHTMLWindow2 : public IHTMLFramesCollection2 {
    STDMETHOD(get_frames)(IHTMLFramesCollection2** p) PURE;
    STDMETHOD(put_defaultStatus)(BSTR v) PURE;
    STDMETHOD(get_defaultStatus)(BSTR* p) PURE;
    STDMETHOD(put_status)(BSTR v) PURE;
    STDMETHOD(get_status)(BSTR* p) PURE;
    STDMETHOD(setTimeout)(BSTR expression, LONG msec, VARIANT* language, LONG* timerID) PURE;
    STDMETHOD(clearTimeout)(LONG timerID) PURE;
    STDMETHOD(alert)(BSTR message) PURE;
    STDMETHOD(confirm)(BSTR message, VARIANT_BOOL* confirmed) PURE;
    STDMETHOD(prompt)(BSTR message, BSTR defstr, VARIANT* textdata) PURE;
    STDMETHOD(get_Image)(IHTMLImageElementFactory** p) PURE;
    STDMETHOD(get_location)(IHTMLLocation** p) PURE;
    STDMETHOD(get_history)(IOmHistory** p) PURE;
    STDMETHOD(close)() PURE;
    STDMETHOD(put_opener)(VARIANT v) PURE;
    STDMETHOD(get_opener)(VARIANT* p) PURE;
    STDMETHOD(get_navigator)(IOmNavigator** p) PURE;
    STDMETHOD(put_name)(BSTR v) PURE;
    STDMETHOD(get_name)(BSTR* p) PURE;
    STDMETHOD(get_parent)(IHTMLWindow2** p) PURE;
    STDMETHOD(open)(BSTR url, BSTR name, BSTR features, VARIANT_BOOL replace, IHTMLWindow2** pomWindowResult) PURE;
    STDMETHOD(get_self)(IHTMLWindow2** p) PURE;
    STDMETHOD(get_top)(IHTMLWindow2** p) PURE;
    STDMETHOD(get_window)(IHTMLWindow2** p) PURE;
    STDMETHOD(navigate)(BSTR url) PURE;
    STDMETHOD(put_onfocus)(VARIANT v) PURE;
    STDMETHOD(get_onfocus)(VARIANT* p) PURE;
    STDMETHOD(put_onblur)(VARIANT v) PURE;
    STDMETHOD(get_onblur)(VARIANT* p) PURE;
    STDMETHOD(put_onload)(VARIANT v) PURE;
    STDMETHOD(get_onload)(VARIANT* p) PURE;
    STDMETHOD(put_onbeforeunload)(VARIANT v) PURE;
    STDMETHOD(get_onbeforeunload)(VARIANT* p) PURE;
    STDMETHOD(put_onunload)(VARIANT v) PURE;
    STDMETHOD(get_onunload)(VARIANT* p) PURE;
    STDMETHOD(put_onhelp)(VARIANT v) PURE;
    STDMETHOD(get_onhelp)(VARIANT* p) PURE;
    STDMETHOD(put_onerror)(VARIANT v) PURE;
    STDMETHOD(get_onerror)(VARIANT* p) PURE;
    STDMETHOD(put_onresize)(VARIANT v) PURE;
    STDMETHOD(get_onresize)(VARIANT* p) PURE;
    STDMETHOD(put_onscroll)(VARIANT v) PURE;
    STDMETHOD(get_onscroll)(VARIANT* p) PURE;
    STDMETHOD(get_document)(IHTMLDocument2** p) PURE;
    STDMETHOD(get_event)(IHTMLEventObj** p) PURE;
    STDMETHOD(get__newEnum)(IUnknown** p) PURE;
    STDMETHOD(showModalDialog)(BSTR dialog, VARIANT* varArgIn, VARIANT* varOptions, VARIANT* varArgOut) PURE;
    STDMETHOD(showHelp)(BSTR helpURL, VARIANT helpArg, BSTR features) PURE;
    STDMETHOD(get_screen)(IHTMLScreen** p) PURE;
    STDMETHOD(get_Option)(IHTMLOptionElementFactory** p) PURE;
    STDMETHOD(focus)() PURE;
    STDMETHOD(get_closed)(VARIANT_BOOL* p) PURE;
    STDMETHOD(blur)() PURE;
    STDMETHOD(scroll)(LONG x, LONG y) PURE;
    STDMETHOD(get_clientInformation)(IOmNavigator** p) PURE;
    STDMETHOD(setInterval)(BSTR expression, LONG msec, VARIANT* language, LONG* timerID) PURE;
    STDMETHOD(clearInterval)(LONG timerID) PURE;
    STDMETHOD(put_offscreenBuffering)(VARIANT v) PURE;
    STDMETHOD(get_offscreenBuffering)(VARIANT* p) PURE;
    STDMETHOD(execScript)(BSTR code, BSTR language, VARIANT* pvarRet) PURE;
    STDMETHOD(toString)(BSTR* String) PURE;
    STDMETHOD(scrollBy)(LONG x, LONG y) PURE;
    STDMETHOD(scrollTo)(LONG x, LONG y) PURE;
    STDMETHOD(moveTo)(LONG x, LONG y) PURE;
    STDMETHOD(moveBy)(LONG x, LONG y) PURE;
    STDMETHOD(resizeTo)(LONG x, LONG y) PURE;
    STDMETHOD(resizeBy)(LONG x, LONG y) PURE;
    STDMETHOD(get_external)(IDispatch** p) PURE;
};
DECLARE_INTERFACE_IID(IHTMLWindow2, IID_IHTMLWindow2)

struct IHTMLElementCollection : public IDispatch {
    STDMETHOD(toString)(BSTR* String) PURE;
    STDMETHOD(put_length)(LONG v) PURE;
    STDMETHOD(get_length)(LONG* p) PURE;
    STDMETHOD(get__newEnum)(IUnknown** p) PURE;
    STDMETHOD(item)(VARIANT name, VARIANT index, IDispatch** pdisp) PURE;
    STDMETHOD(tags)(VARIANT tagName, IDispatch** pdisp) PURE;
};
DECLARE_INTERFACE_IID(IHTMLElementCollection, IID_IHTMLElementCollection)

struct IHTMLElement : public IDispatch {
    STDMETHOD(setAttribute)(BSTR strAttributeName, VARIANT AttributeValue, LONG lFlags) PURE;
    STDMETHOD(getAttribute)(BSTR strAttributeName, LONG lFlags, VARIANT* AttributeValue) PURE;
    STDMETHOD(removeAttribute)(BSTR strAttributeName, LONG lFlags, VARIANT_BOOL* pfSuccess) PURE;
    STDMETHOD(put_className)(BSTR v) PURE;
    STDMETHOD(get_className)(BSTR* p) PURE;
    STDMETHOD(put_id)(BSTR v) PURE;
    STDMETHOD(get_id)(BSTR* p) PURE;
    STDMETHOD(get_tagName)(BSTR* p) PURE;
    STDMETHOD(get_parentElement)(IHTMLElement** p) PURE;
    STDMETHOD(get_style)(IHTMLStyle** p) PURE;
    STDMETHOD(put_onhelp)(VARIANT v) PURE;
    STDMETHOD(get_onhelp)(VARIANT* p) PURE;
    STDMETHOD(put_onclick)(VARIANT v) PURE;
    STDMETHOD(get_onclick)(VARIANT* p) PURE;
    STDMETHOD(put_ondblclick)(VARIANT v) PURE;
    STDMETHOD(get_ondblclick)(VARIANT* p) PURE;
    STDMETHOD(put_onkeydown)(VARIANT v) PURE;
    STDMETHOD(get_onkeydown)(VARIANT* p) PURE;
    STDMETHOD(put_onkeyup)(VARIANT v) PURE;
    STDMETHOD(get_onkeyup)(VARIANT* p) PURE;
    STDMETHOD(put_onkeypress)(VARIANT v) PURE;
    STDMETHOD(get_onkeypress)(VARIANT* p) PURE;
    STDMETHOD(put_onmouseout)(VARIANT v) PURE;
    STDMETHOD(get_onmouseout)(VARIANT* p) PURE;
    STDMETHOD(put_onmouseover)(VARIANT v) PURE;
    STDMETHOD(get_onmouseover)(VARIANT* p) PURE;
    STDMETHOD(put_onmousemove)(VARIANT v) PURE;
    STDMETHOD(get_onmousemove)(VARIANT* p) PURE;
    STDMETHOD(put_onmousedown)(VARIANT v) PURE;
    STDMETHOD(get_onmousedown)(VARIANT* p) PURE;
    STDMETHOD(put_onmouseup)(VARIANT v) PURE;
    STDMETHOD(get_onmouseup)(VARIANT* p) PURE;
    STDMETHOD(get_document)(IDispatch** p) PURE;
    STDMETHOD(put_title)(BSTR v) PURE;
    STDMETHOD(get_title)(BSTR* p) PURE;
    STDMETHOD(put_language)(BSTR v) PURE;
    STDMETHOD(get_language)(BSTR* p) PURE;
    STDMETHOD(put_onselectstart)(VARIANT v) PURE;
    STDMETHOD(get_onselectstart)(VARIANT* p) PURE;
    STDMETHOD(scrollIntoView)(VARIANT varargStart) PURE;
    STDMETHOD(contains)(IHTMLElement* pChild, VARIANT_BOOL* pfResult) PURE;
    STDMETHOD(get_sourceIndex)(LONG* p) PURE;
    STDMETHOD(get_recordNumber)(VARIANT* p) PURE;
    STDMETHOD(put_lang)(BSTR v) PURE;
    STDMETHOD(get_lang)(BSTR* p) PURE;
    STDMETHOD(get_offsetLeft)(LONG* p) PURE;
    STDMETHOD(get_offsetTop)(LONG* p) PURE;
    STDMETHOD(get_offsetWidth)(LONG* p) PURE;
    STDMETHOD(get_offsetHeight)(LONG* p) PURE;
    STDMETHOD(get_offsetParent)(IHTMLElement** p) PURE;
    STDMETHOD(put_innerHTML)(BSTR v) PURE;
    STDMETHOD(get_innerHTML)(BSTR* p) PURE;
    STDMETHOD(put_innerText)(BSTR v) PURE;
    STDMETHOD(get_innerText)(BSTR* p) PURE;
    STDMETHOD(put_outerHTML)(BSTR v) PURE;
    STDMETHOD(get_outerHTML)(BSTR* p) PURE;
    STDMETHOD(put_outerText)(BSTR v) PURE;
    STDMETHOD(get_outerText)(BSTR* p) PURE;
    STDMETHOD(insertAdjacentHTML)(BSTR where, BSTR html) PURE;
    STDMETHOD(insertAdjacentText)(BSTR where, BSTR text) PURE;
    STDMETHOD(get_parentTextEdit)(IHTMLElement** p) PURE;
    STDMETHOD(get_isTextEdit)(VARIANT_BOOL* p) PURE;
    STDMETHOD(click)() PURE;
    STDMETHOD(get_filters)(IHTMLFiltersCollection** p) PURE;
    STDMETHOD(put_ondragstart)(VARIANT v) PURE;
    STDMETHOD(get_ondragstart)(VARIANT* p) PURE;
    STDMETHOD(toString)(BSTR* String) PURE;
    STDMETHOD(put_onbeforeupdate)(VARIANT v) PURE;
    STDMETHOD(get_onbeforeupdate)(VARIANT* p) PURE;
    STDMETHOD(put_onafterupdate)(VARIANT v) PURE;
    STDMETHOD(get_onafterupdate)(VARIANT* p) PURE;
    STDMETHOD(put_onerrorupdate)(VARIANT v) PURE;
    STDMETHOD(get_onerrorupdate)(VARIANT* p) PURE;
    STDMETHOD(put_onrowexit)(VARIANT v) PURE;
    STDMETHOD(get_onrowexit)(VARIANT* p) PURE;
    STDMETHOD(put_onrowenter)(VARIANT v) PURE;
    STDMETHOD(get_onrowenter)(VARIANT* p) PURE;
    STDMETHOD(put_ondatasetchanged)(VARIANT v) PURE;
    STDMETHOD(get_ondatasetchanged)(VARIANT* p) PURE;
    STDMETHOD(put_ondataavailable)(VARIANT v) PURE;
    STDMETHOD(get_ondataavailable)(VARIANT* p) PURE;
    STDMETHOD(put_ondatasetcomplete)(VARIANT v) PURE;
    STDMETHOD(get_ondatasetcomplete)(VARIANT* p) PURE;
    STDMETHOD(put_onfilterchange)(VARIANT v) PURE;
    STDMETHOD(get_onfilterchange)(VARIANT* p) PURE;
    STDMETHOD(get_children)(IDispatch** p) PURE;
    STDMETHOD(get_all)(IDispatch** p) PURE;
};
DECLARE_INTERFACE_IID(IHTMLElement, IID_IHTMLElement)

struct IHTMLElement2 : public IDispatch {
    STDMETHOD(get_scopeName)(BSTR* p) PURE;
    STDMETHOD(setCapture)(VARIANT_BOOL containerCapture) PURE;
    STDMETHOD(releaseCapture)() PURE;
    STDMETHOD(put_onlosecapture)(VARIANT v) PURE;
    STDMETHOD(get_onlosecapture)(VARIANT* p) PURE;
    STDMETHOD(componentFromPoint)(LONG x, LONG y, BSTR* component) PURE;
    STDMETHOD(doScroll)(VARIANT component) PURE;
    STDMETHOD(put_onscroll)(VARIANT v) PURE;
    STDMETHOD(get_onscroll)(VARIANT* p) PURE;
    STDMETHOD(put_ondrag)(VARIANT v) PURE;
    STDMETHOD(get_ondrag)(VARIANT* p) PURE;
    STDMETHOD(put_ondragend)(VARIANT v) PURE;
    STDMETHOD(get_ondragend)(VARIANT* p) PURE;
    STDMETHOD(put_ondragenter)(VARIANT v) PURE;
    STDMETHOD(get_ondragenter)(VARIANT* p) PURE;
    STDMETHOD(put_ondragover)(VARIANT v) PURE;
    STDMETHOD(get_ondragover)(VARIANT* p) PURE;
    STDMETHOD(put_ondragleave)(VARIANT v) PURE;
    STDMETHOD(get_ondragleave)(VARIANT* p) PURE;
    STDMETHOD(put_ondrop)(VARIANT v) PURE;
    STDMETHOD(get_ondrop)(VARIANT* p) PURE;
    STDMETHOD(put_onbeforecut)(VARIANT v) PURE;
    STDMETHOD(get_onbeforecut)(VARIANT* p) PURE;
    STDMETHOD(put_oncut)(VARIANT v) PURE;
    STDMETHOD(get_oncut)(VARIANT* p) PURE;
    STDMETHOD(put_onbeforecopy)(VARIANT v) PURE;
    STDMETHOD(get_onbeforecopy)(VARIANT* p) PURE;
    STDMETHOD(put_oncopy)(VARIANT v) PURE;
    STDMETHOD(get_oncopy)(VARIANT* p) PURE;
    STDMETHOD(put_onbeforepaste)(VARIANT v) PURE;
    STDMETHOD(get_onbeforepaste)(VARIANT* p) PURE;
    STDMETHOD(put_onpaste)(VARIANT v) PURE;
    STDMETHOD(get_onpaste)(VARIANT* p) PURE;
    STDMETHOD(get_currentStyle)(IHTMLCurrentStyle** p) PURE;
    STDMETHOD(put_onpropertychange)(VARIANT v) PURE;
    STDMETHOD(get_onpropertychange)(VARIANT* p) PURE;
    STDMETHOD(getClientRects)(IHTMLRectCollection** pRectCol) PURE;
    STDMETHOD(getBoundingClientRect)(IHTMLRect** pRect) PURE;
};
DECLARE_INTERFACE_IID(IHTMLElement2, IID_IHTMLElement2)

struct IHTMLRect : public IDispatch {
    STDMETHOD(put_left)(LONG v) PURE;
    STDMETHOD(get_left)(LONG* p) PURE;
    STDMETHOD(put_top)(LONG v) PURE;
    STDMETHOD(get_top)(LONG* p) PURE;
    STDMETHOD(put_right)(LONG v) PURE;
    STDMETHOD(get_right)(LONG* p) PURE;
    STDMETHOD(put_bottom)(LONG v) PURE;
    STDMETHOD(get_bottom)(LONG* p) PURE;
};
DECLARE_INTERFACE_IID(IHTMLRect, IID_IHTMLRect)
