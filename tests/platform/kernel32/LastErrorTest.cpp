#include "errhandlingapi.h"

#include <gtest/gtest.h>
#include <thread>

TEST(LastError, IsKeptPerThread)
{
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOtherThread = 1;
    std::thread([&] {
        seenByOtherThread = GetLastError();
        SetLastError(ERROR_INVALID_HANDLE);
    }).join();
    EXPECT_EQ(seenByOtherThread, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}
