#include "ComTestInproc.h"
#include "PlatformClasses.h"
#include "TestRoot.h"

#include <gtest/gtest.h>
#include <libloaderapi.h>
#include <objbase.h>
#include <winreg.h>

#include <string>

namespace {

DEFINE_GUID(CLSID_Registered, 0x7e0f0a10, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x01);
DEFINE_GUID(CLSID_Platform, 0x7e0f0a10, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x02);

// A class factory on the stack that counts references and the objects it was asked for.
struct CountingFactory : IClassFactory {
    ULONG refs = 1;
    int created = 0;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return ++refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        return --refs;
    }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** ppv) override
    {
        ++created;
        return QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override
    {
        return S_OK;
    }
};

CountingFactory g_platformFactory;

HRESULT STDAPICALLTYPE PlatformGetClassObject(REFCLSID, REFIID riid, LPVOID* ppv)
{
    return g_platformFactory.QueryInterface(riid, ppv);
}

std::u16string InprocLibraryPath()
{
    std::string path = testing_support::BinaryDirectory() + "/libComTestInproc.so";
    return std::u16string(path.begin(), path.end());
}

void RegisterInprocServer(REFCLSID clsid, const std::u16string& path)
{
    OLECHAR guid[CHARS_IN_GUID];
    StringFromGUID2(clsid, guid, CHARS_IN_GUID);
    std::u16string key = u"Software\\Classes\\CLSID\\" + std::u16string(guid) + u"\\InprocServer32";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, REG_SZ, path.c_str(),
                  static_cast<DWORD>((path.size() + 1) * sizeof(char16_t))),
        ERROR_SUCCESS);
}

class Activation : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    }
    void TearDown() override
    {
        CoUninitialize();
    }
};

}

TEST_F(Activation, RegisteredClassObjectsServeTheirContexts)
{
    CountingFactory factory;
    DWORD inproc = 0, local = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_Registered, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &local), S_OK);
    EXPECT_NE(local, 0u);
    EXPECT_EQ(factory.refs, 2u);

    // Multiple use in a local server is seen in process too.
    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(
                  CLSID_Registered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
        S_OK);
    object->Release();
    ASSERT_EQ(
        CoCreateInstance(CLSID_Registered, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    object->Release();
    EXPECT_EQ(factory.created, 2);

    EXPECT_EQ(CoRevokeClassObject(local), S_OK);
    EXPECT_EQ(factory.refs, 1u);
    EXPECT_EQ(CoRevokeClassObject(local), CO_E_OBJNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_Registered, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    // A single-use registration serves one activation, and stays registered until revoked.
    ASSERT_EQ(CoRegisterClassObject(CLSID_Registered, &factory, CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE, &inproc), S_OK);
    EXPECT_NE(inproc, local);
    IClassFactory* got = nullptr;
    ASSERT_EQ(CoGetClassObject(
                  CLSID_Registered, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&got)),
        S_OK);
    got->Release();
    EXPECT_EQ(CoGetClassObject(
                  CLSID_Registered, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&got)),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoRevokeClassObject(inproc), S_OK);
    EXPECT_EQ(factory.refs, 1u);

    EXPECT_EQ(CoRegisterClassObject(CLSID_Registered, nullptr, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &inproc),
        E_INVALIDARG);
}

TEST_F(Activation, SuspendedRegistrationsWaitForResume)
{
    CountingFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(
                  CLSID_Registered, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie),
        S_OK);
    IClassFactory* got = nullptr;
    EXPECT_EQ(CoGetClassObject(
                  CLSID_Registered, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&got)),
        REGDB_E_CLASSNOTREG);
    ASSERT_EQ(CoResumeClassObjects(), S_OK);
    ASSERT_EQ(CoGetClassObject(
                  CLSID_Registered, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&got)),
        S_OK);
    got->Release();
    // The server's last CoReleaseServerProcess stops further activations.
    EXPECT_EQ(CoAddRefServerProcess(), 1u);
    EXPECT_EQ(CoReleaseServerProcess(), 0u);
    EXPECT_EQ(CoGetClassObject(
                  CLSID_Registered, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&got)),
        REGDB_E_CLASSNOTREG);
    CoResumeClassObjects();
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST_F(Activation, LeavingTheApartmentRevokesItsRegistrations)
{
    CountingFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    ASSERT_EQ(
        CoRegisterClassObject(CLSID_Registered, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    CoUninitialize();
    EXPECT_EQ(factory.refs, 2u); // still inside the fixture's initialisation
    CoUninitialize();
    EXPECT_EQ(factory.refs, 1u);
    EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
}

TEST_F(Activation, InprocServersLoadFromTheRegistryAndUnloadWhenUnused)
{
    RegisterInprocServer(CLSID_ComTestInproc, InprocLibraryPath());
    ITestCounter* counter = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ComTestInproc, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&counter)), S_OK);
    EXPECT_EQ(counter->LiveObjects(), 1);
    HMODULE loaded = GetModuleHandleW(u"libComTestInproc.so");
    EXPECT_NE(loaded, nullptr);

    IUnknown* outer = counter;
    IUnknown* inner = nullptr;
    EXPECT_EQ(CoCreateInstance(
                  CLSID_ComTestInproc, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&inner)),
        CLASS_E_NOAGGREGATION);
    EXPECT_EQ(inner, nullptr);
    EXPECT_EQ(
        CoCreateInstance(CLSID_ComTestInproc, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&inner)), REGDB_E_CLASSNOTREG);

    // In use: the library stays.
    CoFreeUnusedLibraries();
    EXPECT_EQ(GetModuleHandleW(u"libComTestInproc.so"), loaded);
    counter->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(GetModuleHandleW(u"libComTestInproc.so"), nullptr);

    // Loaded again on the next activation.
    ASSERT_EQ(CoCreateInstance(CLSID_ComTestInproc, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&counter)), S_OK);
    counter->Release();
}

TEST_F(Activation, InprocServerFailures)
{
    IUnknown* object = nullptr;
    RegisterInprocServer(CLSID_Registered, u"/nonexistent/libNothing.so");
    EXPECT_TRUE(FAILED(CoCreateInstance(
        CLSID_Registered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object))));
    EXPECT_EQ(object, nullptr);
    // A library without DllGetClassObject.
    std::string ole32 = testing_support::BinaryDirectory() + "/libadvapi32.so";
    RegisterInprocServer(CLSID_Registered, std::u16string(ole32.begin(), ole32.end()));
    EXPECT_EQ(CoCreateInstance(
                  CLSID_Registered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
        CO_E_ERRORINDLL);
    // The server's own refusal comes back unchanged.
    RegisterInprocServer(CLSID_Registered, InprocLibraryPath());
    EXPECT_EQ(CoCreateInstance(
                  CLSID_Registered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
        CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Activation, PlatformClassesComeBeforeTheRegistry)
{
    RegisterInprocServer(CLSID_Platform, InprocLibraryPath());
    platform::AddPlatformClass(CLSID_Platform, PlatformGetClassObject);
    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(
                  CLSID_Platform, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
        S_OK);
    object->Release();
    EXPECT_EQ(g_platformFactory.created, 1);
    EXPECT_EQ(GetModuleHandleW(u"libComTestInproc.so"), nullptr);
}
