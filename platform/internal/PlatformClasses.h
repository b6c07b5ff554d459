// The platform's own in-process COM classes (the WebBrowser control is one).
// A platform library that serves classes adds them here when it is loaded (a static initialiser
// is the usual place); CoGetClassObject with CLSCTX_INPROC_SERVER then asks it for their class
// objects after the process's registered class objects and before the registry's
// InprocServer32. Safe from any thread; a class added twice keeps its first source.
#pragma once

#include "objbase.h"

namespace platform {

void AddPlatformClass(REFCLSID clsid, LPFNGETCLASSOBJECT getClassObject);

}
