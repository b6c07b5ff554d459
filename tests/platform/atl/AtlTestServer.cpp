// The test local server: an ATL executable module that registers, unregisters or serves as its
// command line says.
#include "Greeter.h"

CAtlTestModule _AtlModule;

int main()
{
    _AtlModule.m_bDelayShutdown = false;
    return _AtlModule.WinMain(1);
}
