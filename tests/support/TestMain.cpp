#include "TestRoot.h"

#include <filesystem>
#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    testing::InitGoogleMock(&argc, argv);
    const std::string root = testing_support::TestRoot();
    const int result = RUN_ALL_TESTS();
    std::error_code ignored; // a root that cannot be removed is left in the temporary directory
    std::filesystem::remove_all(root, ignored);
    return result;
}
