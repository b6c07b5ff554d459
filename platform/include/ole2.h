// OLE: COM, Automation and the OLE initialisation, as Windows code includes them.
// OleInitialize enters a single-threaded apartment like CoInitializeEx(COINIT_APARTMENTTHREADED).
#pragma once

#include "oaidl.h"
#include "objbase.h"
#include "oleauto.h"

extern "C" {
HRESULT WINAPI OleInitialize(LPVOID pvReserved);
void WINAPI OleUninitialize(void);
}
