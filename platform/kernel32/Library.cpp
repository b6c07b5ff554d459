#include "libloaderapi.h"

#include "HostPath.h"
#include "Module.h"
#include "Utf.h"
#include "errhandlingapi.h"

#include <algorithm>
#include <cctype>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <link.h>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace platform {

namespace {

struct LoadedModule {
    HMODULE base;
    std::string path; // as the loader knows it; the program's own path for the program
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && EqualsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view FileNamePart(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// "name" and "name.dll" are the file "libname.so"; a name that already is a shared object's stays.
std::string LibraryFileName(std::string_view name)
{
    if (EndsWithIgnoringCase(name, ".so") || name.find(".so.") != std::string_view::npos)
        return std::string(name);
    if (EndsWithIgnoringCase(name, ".dll"))
        name.remove_suffix(4);
    return "lib" + std::string(name) + ".so";
}

const std::string& ProgramPath()
{
    static const std::string path = [] {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/self/exe", error).string();
    }();
    return path;
}

// The address of the object's ELF header: where its first loadable segment, the one that maps the
// start of the file, lies in memory.
HMODULE BaseOf(const dl_phdr_info& info)
{
    for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info.dlpi_phdr[i];
        if (header.p_type == PT_LOAD && header.p_offset == 0)
            return reinterpret_cast<HMODULE>(info.dlpi_addr + header.p_vaddr);
    }
    return nullptr;
}

// The first loaded object that matches, the program included.
std::optional<LoadedModule> FindLoaded(const std::function<bool(const LoadedModule&)>& matches)
{
    struct Search {
        const std::function<bool(const LoadedModule&)>& matches;
        std::optional<LoadedModule> found;
    } search { matches, std::nullopt };
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* raw) -> int {
            auto& search = *static_cast<Search*>(raw);
            const bool isProgram = !info->dlpi_name || !*info->dlpi_name;
            LoadedModule module { BaseOf(*info), isProgram ? ProgramPath() : std::string(info->dlpi_name) };
            if (!module.base || !search.matches(module))
                return 0;
            search.found = std::move(module);
            return 1;
        },
        &search);
    return search.found;
}

std::optional<LoadedModule> FindLoaded(HMODULE base)
{
    if (!base)
        return std::nullopt;
    return FindLoaded([base](const LoadedModule& module) { return module.base == base; });
}

// The loader's handle of a loaded module, which holds one more reference on it; null for the
// program, which needs none.
void* OpenLoaded(const LoadedModule& module, int extraFlags = 0)
{
    if (module.base == ProgramModule())
        return nullptr;
    return dlopen(module.path.c_str(), RTLD_NOW | RTLD_NOLOAD | extraFlags);
}

std::optional<LoadedModule> FindLoadedByName(std::u16string_view name)
{
    const std::string host = ToHostPath(name);
    const std::string_view fileName = FileNamePart(host);
    if (EqualsIgnoringCase(fileName, FileNamePart(ProgramPath())))
        return FindLoaded(ProgramModule());
    const std::string library = LibraryFileName(fileName);
    return FindLoaded([&](const LoadedModule& module) {
        return module.base != ProgramModule() && EqualsIgnoringCase(FileNamePart(module.path), library);
    });
}

bool IsFile(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Where LoadLibraryW looks for name, in order; bare file names go to the loader's own search.
std::vector<std::string> LibraryCandidates(std::u16string_view name)
{
    const std::string host = ToHostPath(name);
    const size_t slash = host.rfind('/');
    if (slash != std::string::npos) {
        const std::string mapped = host.substr(0, slash + 1) + LibraryFileName(host.substr(slash + 1));
        return { host, mapped };
    }
    const std::string library = LibraryFileName(host);
    const std::string besideProgram = std::filesystem::path(ProgramPath()).parent_path().string() + "/" + library;
    return { besideProgram, library };
}

HMODULE BaseOfHandle(void* handle)
{
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    const std::optional<LoadedModule> module = FindLoaded([map](const LoadedModule& candidate) {
        return candidate.base != ProgramModule() && candidate.path == map->l_name;
    });
    return module ? module->base : nullptr;
}

}

}

using namespace platform;

extern "C" HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (!lpModuleName)
        return ProgramModule();
    const std::optional<LoadedModule> module = FindLoadedByName(lpModuleName);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return module->base;
}

extern "C" BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule)
{
    constexpr DWORD pinned = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!phModule || (dwFlags & pinned) == pinned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    std::optional<LoadedModule> module;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
        module = FindLoaded(ModuleFromAddress(lpModuleName));
    else
        module = lpModuleName ? FindLoadedByName(lpModuleName) : FindLoaded(ProgramModule());
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    // The reference that the caller's FreeLibrary gives back; pinning adds one that never goes.
    if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))
        OpenLoaded(*module, (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) ? RTLD_NODELETE : 0);
    *phModule = module->base;
    return TRUE;
}

extern "C" HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName)
{
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (const std::string& candidate : LibraryCandidates(lpLibFileName)) {
        if (candidate.find('/') != std::string::npos && !IsFile(candidate))
            continue;
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (HMODULE base = BaseOfHandle(handle))
                return base;
            dlclose(handle);
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    const std::optional<LoadedModule> module = FindLoaded(hLibModule);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    // Drops the reference that OpenLoaded takes and the one that the caller's load took.
    if (void* handle = OpenLoaded(*module)) {
        dlclose(handle);
        dlclose(handle);
    }
    return TRUE;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    const std::optional<LoadedModule> module = FindLoaded(hModule ? hModule : ProgramModule());
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Ordinals (a name pointer below 64 KiB) have no meaning for shared objects.
    if (reinterpret_cast<ULONG_PTR>(lpProcName) <= 0xFFFF) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* handle = module->base == ProgramModule() ? dlopen(nullptr, RTLD_NOW) : OpenLoaded(*module);
    void* symbol = handle ? dlsym(handle, lpProcName) : nullptr;
    if (handle)
        dlclose(handle);
    // dlsym also searches the module's dependencies; Windows finds the module's own exports only.
    if (!symbol || ModuleFromAddress(symbol) != module->base) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

extern "C" DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    const std::optional<LoadedModule> module = FindLoaded(hModule ? hModule : ProgramModule());
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::error_code error;
    const std::u16string path = FromUtf8(std::filesystem::absolute(module->path, error).string());
    if (nSize == 0 || !lpFilename) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Too small a buffer gets as much as fits with a terminator, and the call returns nSize.
    const size_t copied = std::min<size_t>(path.size(), nSize - 1);
    std::copy_n(path.data(), copied, lpFilename);
    lpFilename[copied] = 0;
    if (copied < path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    return static_cast<DWORD>(copied);
}
