#include "tlhelp32.h"

#include "KernelObject.h"
#include "errhandlingapi.h"
#include "handleapi.h"

#include <charconv>
#include <dirent.h>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace {

struct SnapshotThread {
    DWORD thread;
    DWORD process;
};

// The threads as they were when the snapshot was taken, read in order by Thread32First/Next.
class ThreadSnapshot final : public KernelObject {
public:
    explicit ThreadSnapshot(std::vector<SnapshotThread> threads)
        : m_threads(std::move(threads))
    {
    }

    // Fills entry with the first thread, or the one after the last read.
    BOOL Read(LPTHREADENTRY32 entry, bool first)
    {
        std::lock_guard lock(m_mutex);
        m_next = first ? 0 : m_next;
        if (m_next >= m_threads.size()) {
            SetLastError(ERROR_NO_MORE_FILES);
            return FALSE;
        }
        const SnapshotThread& thread = m_threads[m_next++];
        const DWORD size = entry->dwSize;
        *entry = THREADENTRY32 {};
        entry->dwSize = size;
        entry->th32ThreadID = thread.thread;
        entry->th32OwnerProcessID = thread.process;
        entry->tpBasePri = 8; // THREAD_PRIORITY_NORMAL in a normal-priority process
        return TRUE;
    }

private:
    const std::vector<SnapshotThread> m_threads;
    std::mutex m_mutex;
    size_t m_next = 0;
};

// The numeric entries of a /proc directory: process ids, or a process's thread ids.
std::vector<DWORD> NumericEntries(const std::string& directory)
{
    std::vector<DWORD> ids;
    DIR* listing = opendir(directory.c_str());
    if (!listing)
        return ids; // a process that ended while the snapshot was taken has no threads to list
    while (const dirent* entry = readdir(listing)) {
        const std::string_view name = entry->d_name;
        DWORD id = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), id);
        if (error == std::errc() && end == name.data() + name.size())
            ids.push_back(id);
    }
    closedir(listing);
    return ids;
}

BOOL ReadSnapshot(HANDLE hSnapshot, LPTHREADENTRY32 lpte, bool first)
{
    const std::shared_ptr<ThreadSnapshot> snapshot = ReferenceHandleAs<ThreadSnapshot>(hSnapshot);
    if (!snapshot)
        return FALSE;
    if (!lpte || lpte->dwSize < sizeof(THREADENTRY32)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    return snapshot->Read(lpte, first);
}

}

}

using namespace platform;

extern "C" HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID)
{
    if ((dwFlags & ~TH32CS_INHERIT) != TH32CS_SNAPTHREAD) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<SnapshotThread> threads;
    for (DWORD process : NumericEntries("/proc")) {
        for (DWORD thread : NumericEntries("/proc/" + std::to_string(process) + "/task"))
            threads.push_back({ thread, process });
    }
    return InsertHandle(std::make_shared<ThreadSnapshot>(std::move(threads)));
}

extern "C" BOOL WINAPI Thread32First(HANDLE hSnapshot, LPTHREADENTRY32 lpte)
{
    return ReadSnapshot(hSnapshot, lpte, true);
}

extern "C" BOOL WINAPI Thread32Next(HANDLE hSnapshot, LPTHREADENTRY32 lpte)
{
    return ReadSnapshot(hSnapshot, lpte, false);
}
