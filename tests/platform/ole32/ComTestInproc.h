// The class that the test in-process server serves, and the interface that reports on it.
#pragma once

#include <objbase.h>

DEFINE_GUID(CLSID_ComTestInproc, 0x5a1d7c40, 0x31b2, 0x4f6e, 0x9a, 0x10, 0x2c, 0x7e, 0x44, 0x01, 0xbe, 0x01);
DEFINE_GUID(IID_ITestCounter, 0x5a1d7c41, 0x31b2, 0x4f6e, 0x9a, 0x10, 0x2c, 0x7e, 0x44, 0x01, 0xbe, 0x01);

// Reports how many objects of the server are alive.
struct ITestCounter : IUnknown {
    STDMETHOD_(LONG, LiveObjects)() PURE;
};
DECLARE_INTERFACE_IID(ITestCounter, IID_ITestCounter)
