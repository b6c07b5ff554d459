// The document of a control's page through MSHTML's interfaces: IHTMLDocument2 with its window
// (IHTMLWindow2), the applets and embeds collections, their elements and rectangles.
//
// Threads: the objects are free-threaded; every call may come from any thread and asks the page
// as it is at that moment (one DevTools evaluation, waited for by that caller alone until
// kDocumentDeadline). IHTMLWindow2::execScript only sends its script and never waits. Once the
// page is gone (the control destroyed, Chromium dead) every call that needs it fails with E_FAIL.
#pragma once

#include "Page.h"

#include "oaidl.h"

#include <chrono>
#include <memory>

namespace shdocvw {

constexpr std::chrono::milliseconds kDocumentDeadline { 5000 };

enum class DocumentKind { Html, Other };

// The top-level document object: an IHTMLDocument2 for an HTML page, for any other page (a media
// file) an IDispatch that offers nothing more.
HRESULT CreateDocument(std::weak_ptr<Page> page, DocumentKind kind, IDispatch** document);

// Whether a document of this MIME type is an HTML document for MSHTML.
DocumentKind DocumentKindOf(const std::string& mimeType);

}
