/* ReelscanProxy: asks the system for the videos of one web page and hands each one to a callback.
 *
 * Call on one thread: Initialize, then RequestURL (which pumps that thread's messages and returns
 * when the request is over: its time-out expired, a callback set its stop flag, or UnInitialize
 * was called), then UnInitialize. A further request starts with Initialize again. UnInitialize may
 * also be called from another thread to cut a running request short.
 *
 * Every video arrives as one call of the callback on a thread of its own; several calls may run at
 * once, in any order, and even after RequestURL has returned. The strings are valid only during the
 * call. Setting *stop to nonzero ends the request. All three functions return 0 in every case.
 *
 * Callable from C and C++ and from any language with a C foreign-function interface; text is
 * UTF-16, NUL-terminated. Link with `pkg-config --libs ReelscanProxy`.
 */
#ifndef REELSCAN_PROXY_H
#define REELSCAN_PROXY_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#define REELSCANPROXY_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* One video: title, media type (a file extension such as "flv"), media URL, page address, cookie,
 * the referrer for fetching the media (always the page address), the page's icon, the length in
 * bytes (0 when unknown) and the stop flag (0 on entry). The result is not used. */
typedef int32_t (*VideoReceivedProc)(const char16_t* title, const char16_t* type, const char16_t* url,
    const char16_t* href, const char16_t* cookie, const char16_t* referrer, const char16_t* icon, int32_t length,
    int32_t* stop);

/* Stores the callback (null drops every record) and creates the message window of the next request
 * on the calling thread. */
REELSCANPROXY_API int32_t Initialize(VideoReceivedProc callback);

/* Requests the page and waits until the request ends. A time-out of 1000 ms or less means one
 * minute. Returns at once when the companion program CmdReelscan.exe is missing from the host
 * program's directory, when no Initialize on this thread has made a window for the request, or
 * when the URL is too long to hand on whole: the command line " URL HANDLE" of CmdReelscan holds
 * at most 1023 characters, so a URL of up to 1010 characters always fits. */
REELSCANPROXY_API int32_t RequestURL(const char16_t* url, uint32_t timeout);

/* Ends the running request, if any, and tells CmdReelscan to end. */
REELSCANPROXY_API int32_t UnInitialize(void);

#ifdef __cplusplus
}
#endif

#endif
