#include "TestRoot.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

namespace {

std::string MakeRoot()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "reelscan-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a test root");
    setenv("WINROOT", pattern.c_str(), 1);
    return pattern;
}

}

const std::string& TestRoot()
{
    static const std::string root = MakeRoot();
    return root;
}

const std::string& BinaryDirectory()
{
    static const std::string directory = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    return directory;
}

}
