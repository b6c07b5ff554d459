// The test local server: an ATL executable module that registers, unregisters or serves as its
// command line says, and quits as soon as its last object is released.
#include "RemoteCalls.h"

class CComTestModule : public CAtlExeModuleT<CComTestModule> {
public:
    DECLARE_LIBID(LIBID_RemoteTestLib)
    DECLARE_REGISTRY_APPID_RESOURCEID(101, "{6A1C2E40-5B7D-4E8F-9A0B-1C2D3E4F5A09}")
};

CComTestModule _AtlModule;

int main()
{
    _AtlModule.m_bDelayShutdown = false;
    return _AtlModule.WinMain(1);
}
