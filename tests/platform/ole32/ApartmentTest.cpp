#include <gtest/gtest.h>
#include <objbase.h>
#include <ole2.h>

#include <thread>

namespace {

DEFINE_GUID(CLSID_Nowhere, 0x0badc0de, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);

HRESULT ActivationResult()
{
    IUnknown* object = nullptr;
    return CoCreateInstance(
        CLSID_Nowhere, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
}

// Runs `body` on a new thread, which starts in no apartment.
template <class Body> void OnNewThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

}

TEST(Apartment, InitialisationCountsAndModeChanges)
{
    struct Step {
        const char* name;
        enum { Init, Uninit } action;
        DWORD model;
        HRESULT expected;
        HRESULT activation; // what an activation answers after the step
    };
    const Step steps[] = {
        { "uninitialised", Step::Uninit, 0, S_OK, CO_E_NOTINITIALIZED },
        { "first sta", Step::Init, COINIT_APARTMENTTHREADED, S_OK, REGDB_E_CLASSNOTREG },
        { "second sta", Step::Init, COINIT_APARTMENTTHREADED, S_FALSE, REGDB_E_CLASSNOTREG },
        { "mta on an sta", Step::Init, COINIT_MULTITHREADED, RPC_E_CHANGED_MODE, REGDB_E_CLASSNOTREG },
        { "first leave", Step::Uninit, 0, S_OK, REGDB_E_CLASSNOTREG },
        { "second leave", Step::Uninit, 0, S_OK, CO_E_NOTINITIALIZED },
        { "mta after leaving", Step::Init, COINIT_MULTITHREADED, S_OK, REGDB_E_CLASSNOTREG },
        { "sta on the mta", Step::Init, COINIT_APARTMENTTHREADED, RPC_E_CHANGED_MODE, REGDB_E_CLASSNOTREG },
        { "leave the mta", Step::Uninit, 0, S_OK, CO_E_NOTINITIALIZED },
    };
    OnNewThread([&] {
        for (const Step& step : steps) {
            if (step.action == Step::Init)
                EXPECT_EQ(CoInitializeEx(nullptr, step.model), step.expected) << step.name;
            else
                CoUninitialize();
            EXPECT_EQ(ActivationResult(), step.activation) << step.name;
        }
        EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_MULTITHREADED), E_INVALIDARG);
        EXPECT_EQ(OleInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        OleUninitialize();
        EXPECT_EQ(ActivationResult(), CO_E_NOTINITIALIZED);
    });
}

TEST(Apartment, ThreadsWithoutApartmentUseTheMultithreadedOneWhileItExists)
{
    OnNewThread([] { EXPECT_EQ(ActivationResult(), CO_E_NOTINITIALIZED); });
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    OnNewThread([] { EXPECT_EQ(ActivationResult(), REGDB_E_CLASSNOTREG); });
    CoUninitialize();
    OnNewThread([] { EXPECT_EQ(ActivationResult(), CO_E_NOTINITIALIZED); });

    // A single-threaded apartment is its thread's alone.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    OnNewThread([] { EXPECT_EQ(ActivationResult(), CO_E_NOTINITIALIZED); });
    CoUninitialize();
}
