/* A client written in C: the public header must serve it as it is. */
#include "ReelscanProxy.h"

static int32_t g_received;

static int32_t CountAndStop(const char16_t* title, const char16_t* type, const char16_t* url, const char16_t* href,
    const char16_t* cookie, const char16_t* referrer, const char16_t* icon, int32_t length, int32_t* stop)
{
    g_received = length;
    *stop = 1;
    return 0;
}

/* Requests url and returns the length of the video that stopped the request, or 0 for none. */
int32_t RequestFromC(const char16_t* url)
{
    g_received = 0;
    Initialize(CountAndStop);
    RequestURL(url, 20000);
    UnInitialize();
    return g_received;
}
