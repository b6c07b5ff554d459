// The WebBrowser control (CLSID_WebBrowser), one of the platform's in-process classes: loading
// libshdocvw adds it, so CoCreateInstance finds it without any registration.
//
// Threads: the control belongs to the thread that created it (a single-threaded apartment with a
// message loop). Its methods are called there and its DWebBrowserEvents2 are raised there, from
// messages that a message-only window of the control receives; nothing it does there waits for
// the page or for Chromium: a worker thread of the control makes and navigates its page, and
// the page's events come back through the window's queue. The document it hands out is
// free-threaded (HtmlDocument.h).
//
// Events, as Internet Explorer raises them: BeforeNavigate2 inside Navigate2 and, before its
// request goes out, for each navigation the page starts itself or in a frame (a link, a script, a
// frame's load; the request waits for the control's thread to raise it), its Cancel honoured
// either way; NavigateError when a document's request fails (a refused connection, an HTTP error
// status), before the error page, whose display its Cancel stops; NavigateComplete2 when a
// document is committed; DocumentComplete for each frame and then the top page; TitleChange; for
// window.open and for links and forms aimed at a new window, NewWindow2 and then NewWindow3,
// either of which cancels the window (no request is made; window.open returns null). The top
// page's events carry the control's IDispatch, a frame's the IWebBrowser2 of that frame
// (get_LocationURL gives its address), the same for all events of that frame in the document.
//
// Ambient: the client site's DISPID_AMBIENT_DLCONTROL is read when the site is set and before
// each Navigate2 (preset to DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS); DLCTL_DLIMAGES clear
// requests no image, DLCTL_NO_SCRIPTS runs no page script.
//
// Windows: in-place activation makes "Shell Embedding" in the given parent, "Shell DocObject View"
// in it and "Internet Explorer_Server" in that, all untitled and of the position rectangle's size,
// which is the page's viewport. WM_MOUSEMOVE, WM_LBUTTONDOWN and WM_LBUTTONUP sent to the last
// become the page's mouse input at those client coordinates (trusted, a user gesture).
//
// Destroying the control closes its page and its browser context.
#pragma once

#include "objbase.h"

namespace shdocvw {

HRESULT WINAPI GetWebBrowserClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

}
