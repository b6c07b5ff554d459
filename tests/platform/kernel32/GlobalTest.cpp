#include "winbase.h"

#include <cstring>
#include <gtest/gtest.h>

TEST(Global, FixedBlocksAreTheirOwnAddress)
{
    HGLOBAL block = GlobalAlloc(GPTR, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalLock(block), block);
    const auto* bytes = static_cast<const unsigned char*>(block);
    EXPECT_TRUE(std::all_of(bytes, bytes + 64, [](unsigned char b) { return b == 0; })) << "GMEM_ZEROINIT";
    EXPECT_EQ(GlobalSize(block), 64u);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(Global, MoveableBlocksCountTheirLocks)
{
    HGLOBAL block = GlobalAlloc(GHND, 16);
    ASSERT_NE(block, nullptr);
    void* first = GlobalLock(block);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, block) << "a moveable handle is not the data's address";
    std::memcpy(first, "drop", 5);
    EXPECT_EQ(GlobalLock(block), first);
    EXPECT_TRUE(GlobalUnlock(block)) << "still locked once";
    SetLastError(ERROR_INVALID_DATA);
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "the last lock went";
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
    EXPECT_STREQ(static_cast<const char*>(GlobalLock(block)), "drop");
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(Global, HandlesThatAreNotLiveBlocksFail)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_EQ(GlobalFree(block), nullptr);
    int local = 0;
    for (HGLOBAL handle : { block, static_cast<HGLOBAL>(&local), static_cast<HGLOBAL>(nullptr) }) {
        SetLastError(0);
        EXPECT_EQ(GlobalLock(handle), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(GlobalSize(handle), 0u);
        EXPECT_FALSE(GlobalUnlock(handle));
        EXPECT_EQ(GlobalFree(handle), handle) << "a failed free returns the handle";
    }
}
