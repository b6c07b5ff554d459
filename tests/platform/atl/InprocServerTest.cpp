#include "AtlTest.h"
#include "TestRoot.h"

#include <atlbase.h>
#include <atlcom.h>
#include <gtest/gtest.h>

#include <string>

namespace {

DEFINE_GUID(CLSID_InprocGreeter, 0x3d4e5f60, 0x7a8b, 0x4c9d, 0x8e, 0x0f, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x10);
constexpr const char16_t* kLibrary = u"libAtlTestInproc.so";

std::u16string LibraryPath()
{
    std::string path = testing_support::BinaryDirectory() + "/libAtlTestInproc.so";
    return std::u16string(path.begin(), path.end());
}

// Calls one of the library's registration exports, as regsvr32 does.
HRESULT CallExport(const char* name)
{
    HMODULE module = LoadLibraryW(LibraryPath().c_str());
    if (!module)
        return E_FAIL;
    auto function = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    HRESULT hr = function ? function() : E_FAIL;
    FreeLibrary(module);
    return hr;
}

// An outer object that aggregates the library's object and answers IGreeter through it.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return ++m_refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        return --m_refs;
    }
    CComPtr<IUnknown> m_inner;
    ULONG m_refs = 1;
};

class InprocServer : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
    }
    void TearDown() override
    {
        EXPECT_EQ(CallExport("DllUnregisterServer"), S_OK);
        CoUninitialize();
    }
};

}

TEST_F(InprocServer, RegistersItselfAndCreatesPlainObjects)
{
    WCHAR path[MAX_PATH];
    DWORD size = sizeof path;
    ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, u"CLSID\\{3D4E5F60-7A8B-4C9D-8E0F-1A2B3C4D5E10}\\InprocServer32", nullptr,
                  RRF_RT_REG_SZ, nullptr, path, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(path), LibraryPath());

    CComPtr<IGreeter> greeter;
    ASSERT_EQ(greeter.CoCreateInstance(CLSID_InprocGreeter, nullptr, CLSCTX_INPROC_SERVER), S_OK);
    CComBSTR text;
    ASSERT_EQ(greeter->Greet(CComBSTR(u"you"), &text), S_OK);
    EXPECT_TRUE(text == u"Hi, you");
    // The live object keeps the library; once it is gone the library unloads.
    CoFreeUnusedLibraries();
    EXPECT_NE(GetModuleHandleW(kLibrary), nullptr);
    greeter.Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(GetModuleHandleW(kLibrary), nullptr);
}

TEST_F(InprocServer, CreatesAggregatedObjects)
{
    Outer outer;
    CComPtr<IGreeter> wrong;
    EXPECT_EQ(CoCreateInstance(CLSID_InprocGreeter, &outer, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&wrong)),
        CLASS_E_NOAGGREGATION);
    ASSERT_EQ(CoCreateInstance(CLSID_InprocGreeter, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                  reinterpret_cast<void**>(&outer.m_inner)),
        S_OK);
    CComPtr<IGreeter> greeter;
    ASSERT_EQ(outer.QueryInterface(IID_PPV_ARGS(&greeter)), S_OK);
    EXPECT_EQ(outer.m_refs, 2u);
    LONG sum = 0;
    ASSERT_EQ(greeter->Add(40, 2, &sum), S_OK);
    EXPECT_EQ(sum, 42);
    CComPtr<IUnknown> identity;
    ASSERT_EQ(greeter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity.p, static_cast<IUnknown*>(&outer));
    identity.Release();
    greeter.Release();
    EXPECT_EQ(outer.m_refs, 1u);
    outer.m_inner.Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(GetModuleHandleW(kLibrary), nullptr);
}
