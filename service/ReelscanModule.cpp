// ReelscanModule.exe: the out-of-process server of ReqService. It mutes audio first, then either
// handles a registration switch and exits with its HRESULT, or serves ReqService to every client
// (one multi-use class object) until the last ReqService is released.
#include "AudioMute.h"
#include "ReqService.h"

#include <atlbase.h>
#include <atlcom.h>

namespace {

constexpr const char16_t* kAppId = u"{6F1B3C20-5A47-4E8B-9C31-2D7E8A4B1C04}";
constexpr UINT kAppIdScript = 101;

}

class CReelscanModuleModule : public CAtlExeModuleT<CReelscanModuleModule> {
public:
    DECLARE_LIBID(LIBID_ReelscanModuleLib)

    // Every script of the module may use %APPID%.
    HRESULT AddCommonRGSReplacements(IRegistrarBase* pRegistrar) override
    {
        HRESULT hr = CAtlExeModuleT<CReelscanModuleModule>::AddCommonRGSReplacements(pRegistrar);
        return FAILED(hr) ? hr : pRegistrar->AddReplacement(u"APPID", kAppId);
    }
    static HRESULT WINAPI UpdateRegistryAppId(BOOL bRegister)
    {
        return ATL::_pAtlModule->UpdateRegistryFromResource(kAppIdScript, bRegister);
    }
};

OBJECT_ENTRY_AUTO(CLSID_ReqService, CReqService)

CReelscanModuleModule _AtlModule;

extern "C" int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int nShowCmd)
{
    InstallApiPatch(ApiPatch, u"winmm", "waveOutWrite", reinterpret_cast<LPCVOID>(&MutedWaveOutWrite), 0);
    _AtlModule.m_bDelayShutdown = false;
    // WinMain of the module answers -1 when COM or its critical section failed to initialise.
    const int result = _AtlModule.WinMain(nShowCmd);
    RemoveApiPatch(ApiPatch);
    return result;
}

int main()
{
    return WinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
}
