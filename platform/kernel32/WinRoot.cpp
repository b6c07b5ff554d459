#include "WinRoot.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string ResolveRoot()
{
    if (const char* root = std::getenv("WINROOT"); root && *root)
        return std::filesystem::absolute(root).lexically_normal().string();
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::string(state) + "/winroot";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : "/tmp";
    }
    return std::string(home) + "/.local/state/winroot";
}

void MakePrivateDirectory(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    // Best effort: a root we cannot create shows up as a failure of whatever opens a file in it.
    chmod(path.c_str(), 0700);
}

std::string CreateRoot()
{
    std::string root = ResolveRoot();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    MakePrivateDirectory(root);
    for (const char* sub : { "run", "cache", "certs", "temp" })
        MakePrivateDirectory(root + "/" + sub);
    return root;
}

}

const std::string& RootDirectory()
{
    // Never destroyed: objects destroyed at exit (a module's last CoUninitialize, say) still
    // write below the root after this file's statics are gone.
    static const std::string* root = new std::string(CreateRoot());
    return *root;
}

std::string RootPath(std::string_view relative)
{
    std::string path = RootDirectory();
    path += '/';
    path += relative;
    return path;
}

}
