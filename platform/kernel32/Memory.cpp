#include "memoryapi.h"

#include "ThreadObject.h"
#include "errhandlingapi.h"
#include "processthreadsapi.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

using Address = std::uintptr_t;

// The end of the user address space on x86-64 (47-bit addresses, the top page excluded), as the
// kernel's TASK_SIZE fixes it.
constexpr Address AddressSpaceEnd = 0x00007FFFFFFFF000ull;
// Windows reserves address space in units of 64 KiB.
constexpr Address AllocationGranularity = 0x10000;
// Pages handed to the kernel per process_vm_readv/process_vm_writev call.
constexpr int PagesPerTransfer = 64;
// The longest line of /proc/self/maps kept; the rest of a longer line (its path) is skipped.
constexpr std::size_t MapsLineLimit = 256;
// The allocations VirtualAlloc keeps track of at once.
constexpr int AllocationLimit = 256;

Address PageSize()
{
    static const Address size = static_cast<Address>(sysconf(_SC_PAGESIZE));
    return size;
}

Address PageFloor(Address address)
{
    return address & ~(PageSize() - 1);
}

Address PageCeiling(Address address)
{
    return PageFloor(address + PageSize() - 1);
}

// Whether process names the calling process. Only the calling process is supported. The
// pseudo-handle is recognised without the handle table, whose lock a suspended thread may hold.
bool CheckOwnProcess(HANDLE process)
{
    if (process == GetCurrentProcess())
        return true;
    const std::shared_ptr<platform::KernelObject> object = platform::ReferenceHandle(process);
    if (!object)
        return false;
    if (object == platform::CurrentProcessObject())
        return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

// One line of /proc/self/maps.
struct Mapping {
    Address start = 0;
    Address end = 0;
    int protection = PROT_NONE;
    bool shared = false;
    unsigned long long device = 0;
    unsigned long long inode = 0; // 0 for anonymous memory
};

// Reads /proc/self/maps line by line into a fixed buffer: no heap, no locks, so that it works while
// other threads of the process are suspended.
class MapsReader {
public:
    MapsReader()
        : m_fd(open("/proc/self/maps", O_RDONLY | O_CLOEXEC))
    {
    }
    ~MapsReader()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    MapsReader(const MapsReader&) = delete;
    MapsReader& operator=(const MapsReader&) = delete;

    bool IsOpen() const
    {
        return m_fd >= 0;
    }

    bool Next(Mapping& mapping)
    {
        char line[MapsLineLimit];
        std::size_t length = 0;
        for (;;) {
            char c;
            if (!NextChar(c)) {
                if (length == 0)
                    return false;
                break;
            }
            if (c == '\n')
                break;
            if (length + 1 < sizeof line)
                line[length++] = c;
        }
        line[length] = '\0';
        return Parse(line, mapping);
    }

private:
    bool NextChar(char& c)
    {
        if (m_position == m_length) {
            ssize_t got;
            do
                got = read(m_fd, m_buffer, sizeof m_buffer);
            while (got < 0 && errno == EINTR);
            if (got <= 0)
                return false;
            m_length = static_cast<std::size_t>(got);
            m_position = 0;
        }
        c = m_buffer[m_position++];
        return true;
    }

    static const char* Hex(const char* text, unsigned long long& value)
    {
        value = 0;
        for (;; ++text) {
            const char c = *text;
            if (c >= '0' && c <= '9')
                value = value * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
            else
                return text;
        }
    }

    static const char* Decimal(const char* text, unsigned long long& value)
    {
        value = 0;
        for (; *text >= '0' && *text <= '9'; ++text)
            value = value * 10 + static_cast<unsigned>(*text - '0');
        return text;
    }

    // "start-end perms offset major:minor inode path"
    static bool Parse(const char* text, Mapping& mapping)
    {
        unsigned long long start, end, offset, major, minor, inode;
        text = Hex(text, start);
        if (*text++ != '-')
            return false;
        text = Hex(text, end);
        if (*text++ != ' ' || std::strlen(text) < 5)
            return false;
        mapping.protection
            = (text[0] == 'r' ? PROT_READ : 0) | (text[1] == 'w' ? PROT_WRITE : 0) | (text[2] == 'x' ? PROT_EXEC : 0);
        mapping.shared = text[3] == 's';
        text += 4;
        if (*text++ != ' ')
            return false;
        text = Hex(text, offset);
        if (*text++ != ' ')
            return false;
        text = Hex(text, major);
        if (*text++ != ':')
            return false;
        text = Hex(text, minor);
        if (*text++ != ' ')
            return false;
        Decimal(text, inode);
        mapping.start = start;
        mapping.end = end;
        mapping.device = major << 32 | minor;
        mapping.inode = inode;
        return true;
    }

    int m_fd;
    char m_buffer[4096];
    std::size_t m_length = 0;
    std::size_t m_position = 0;
};

DWORD PageProtectionOf(int protection)
{
    const bool read = protection & PROT_READ, write = protection & PROT_WRITE, execute = protection & PROT_EXEC;
    if (execute)
        return write ? PAGE_EXECUTE_READWRITE : read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    if (write)
        return PAGE_READWRITE;
    return read ? PAGE_READONLY : PAGE_NOACCESS;
}

// The Linux protection for a Windows one, or -1 for a protection this platform does not support.
int ProtectionOf(DWORD pageProtection)
{
    switch (pageProtection) {
    case PAGE_NOACCESS:
        return PROT_NONE;
    case PAGE_READONLY:
        return PROT_READ;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
        return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE:
        return PROT_EXEC;
    case PAGE_EXECUTE_READ:
        return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        return PROT_READ | PROT_WRITE | PROT_EXEC;
    default:
        return -1;
    }
}

// The allocations made by VirtualAlloc: the kernel merges adjacent anonymous mappings, so only
// this table tells where one allocation ends and the next begins.
struct Allocation {
    Address base = 0;
    Address size = 0;
    DWORD protection = 0;
};

class AllocationTable {
public:
    bool Add(const Allocation& allocation)
    {
        platform::SuspendSafeLock lock(m_mutex);
        for (Allocation& entry : m_entries) {
            if (entry.size == 0) {
                entry = allocation;
                return true;
            }
        }
        return false;
    }

    // Removes and returns the allocation at base; its size is 0 when there is none.
    Allocation Remove(Address base)
    {
        platform::SuspendSafeLock lock(m_mutex);
        for (Allocation& entry : m_entries) {
            if (entry.size != 0 && entry.base == base) {
                const Allocation found = entry;
                entry = {};
                return found;
            }
        }
        return {};
    }

    // The allocation that contains address; its size is 0 when there is none.
    Allocation Find(Address address)
    {
        platform::SuspendSafeLock lock(m_mutex);
        for (const Allocation& entry : m_entries) {
            if (entry.size != 0 && address - entry.base < entry.size)
                return entry;
        }
        return {};
    }

private:
    std::mutex m_mutex;
    Allocation m_entries[AllocationLimit];
};

AllocationTable& Allocations()
{
    static AllocationTable table;
    return table;
}

bool SameFile(const Mapping& a, const Mapping& b)
{
    return a.inode != 0 && a.inode == b.inode && a.device == b.device;
}

// Fills info for the page that holds address. False only when the mappings cannot be read.
bool QueryPage(Address address, MEMORY_BASIC_INFORMATION& info)
{
    const Address page = PageFloor(address);
    info = {};
    info.BaseAddress = reinterpret_cast<PVOID>(page);

    MapsReader maps;
    if (!maps.IsOpen())
        return false;
    // The first mapping of the file run that the current mapping belongs to: an image is mapped
    // as several adjacent mappings of one file, and its first one is the image's base.
    Mapping runStart {}, previous {}, mapping {};
    bool found = false;
    while (maps.Next(mapping)) {
        if (mapping.start >= AddressSpaceEnd)
            break;
        if (!(SameFile(mapping, previous) && mapping.start == previous.end))
            runStart = mapping;
        previous = mapping;
        if (mapping.end <= page)
            continue;
        found = true;
        break;
    }

    if (!found || mapping.start > page) {
        info.RegionSize = (found ? mapping.start : AddressSpaceEnd) - page;
        info.State = MEM_FREE;
        info.Protect = PAGE_NOACCESS;
        return true;
    }

    info.State = MEM_COMMIT;
    info.Protect = PageProtectionOf(mapping.protection);
    info.Type = mapping.inode == 0 ? MEM_PRIVATE : mapping.shared ? MEM_MAPPED : MEM_IMAGE;
    info.AllocationBase = reinterpret_cast<PVOID>(runStart.start);
    info.AllocationProtect = PageProtectionOf(runStart.protection);
    Address end = mapping.end;
    Mapping next {};
    while (mapping.inode != 0 && maps.Next(next) && next.start == end && SameFile(next, mapping)
        && next.protection == mapping.protection)
        end = next.end;

    const Allocation allocation = Allocations().Find(page);
    if (allocation.size != 0) {
        info.AllocationBase = reinterpret_cast<PVOID>(allocation.base);
        info.AllocationProtect = allocation.protection;
        if (end > allocation.base + allocation.size)
            end = allocation.base + allocation.size;
    }
    info.RegionSize = end - page;
    return true;
}

enum class Direction { Read, Write };

// Copies between the process's memory at remote and the caller's buffer at local, page by page,
// through the kernel, so that memory that cannot be read or written ends the copy instead of
// faulting. Returns the bytes copied.
SIZE_T Transfer(Direction direction, Address remote, void* local, SIZE_T size)
{
    static const pid_t self = getpid();
    SIZE_T done = 0;
    while (done < size) {
        iovec remotes[PagesPerTransfer];
        int count = 0;
        SIZE_T batch = 0;
        for (Address at = remote + done; count < PagesPerTransfer && done + batch < size; ++count) {
            const SIZE_T piece = std::min<SIZE_T>(size - done - batch, PageFloor(at) + PageSize() - at);
            remotes[count] = { reinterpret_cast<void*>(at), piece };
            at += piece;
            batch += piece;
        }
        iovec localVector { static_cast<char*>(local) + done, batch };
        ssize_t copied;
        do
            copied = direction == Direction::Read ? process_vm_readv(self, &localVector, 1, remotes, count, 0)
                                                  : process_vm_writev(self, &localVector, 1, remotes, count, 0);
        while (copied < 0 && errno == EINTR);
        if (copied <= 0)
            break;
        done += static_cast<SIZE_T>(copied);
        if (static_cast<SIZE_T>(copied) < batch)
            break;
    }
    return done;
}

}

extern "C" SIZE_T WINAPI VirtualQueryEx(
    HANDLE hProcess, LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength)
{
    if (!CheckOwnProcess(hProcess))
        return 0;
    if (reinterpret_cast<Address>(lpAddress) >= AddressSpaceEnd || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_BAD_LENGTH);
        return 0;
    }
    if (!QueryPage(reinterpret_cast<Address>(lpAddress), *lpBuffer)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    return sizeof(MEMORY_BASIC_INFORMATION);
}

extern "C" SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength)
{
    return VirtualQueryEx(GetCurrentProcess(), lpAddress, lpBuffer, dwLength);
}

extern "C" BOOL WINAPI VirtualProtectEx(
    HANDLE hProcess, LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect)
{
    if (!CheckOwnProcess(hProcess))
        return FALSE;
    const int protection = ProtectionOf(flNewProtect);
    if (protection < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!lpflOldProtect) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    // Every page that holds a byte of the range; a range of no bytes still names its first page.
    const Address first = PageFloor(reinterpret_cast<Address>(lpAddress));
    const Address last = PageCeiling(reinterpret_cast<Address>(lpAddress) + (dwSize ? dwSize : 1));
    if (last <= first || last > AddressSpaceEnd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MEMORY_BASIC_INFORMATION info;
    if (!QueryPage(first, info) || info.State != MEM_COMMIT) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (mprotect(reinterpret_cast<void*>(first), last - first, protection) != 0) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    *lpflOldProtect = info.Protect;
    return TRUE;
}

extern "C" BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect)
{
    return VirtualProtectEx(GetCurrentProcess(), lpAddress, dwSize, flNewProtect, lpflOldProtect);
}

extern "C" BOOL WINAPI ReadProcessMemory(
    HANDLE hProcess, LPCVOID lpBaseAddress, LPVOID lpBuffer, SIZE_T nSize, SIZE_T* lpNumberOfBytesRead)
{
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    if (!CheckOwnProcess(hProcess))
        return FALSE;
    const SIZE_T done = Transfer(Direction::Read, reinterpret_cast<Address>(lpBaseAddress), lpBuffer, nSize);
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
    if (done < nSize) {
        SetLastError(ERROR_PARTIAL_COPY);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI WriteProcessMemory(
    HANDLE hProcess, LPVOID lpBaseAddress, LPCVOID lpBuffer, SIZE_T nSize, SIZE_T* lpNumberOfBytesWritten)
{
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    if (!CheckOwnProcess(hProcess))
        return FALSE;
    const SIZE_T done
        = Transfer(Direction::Write, reinterpret_cast<Address>(lpBaseAddress), const_cast<void*>(lpBuffer), nSize);
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    if (done < nSize) {
        SetLastError(done == 0 ? ERROR_NOACCESS : ERROR_PARTIAL_COPY);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI FlushInstructionCache(HANDLE hProcess, LPCVOID lpBaseAddress, SIZE_T dwSize)
{
    if (!CheckOwnProcess(hProcess))
        return FALSE;
    char* start = static_cast<char*>(const_cast<void*>(lpBaseAddress));
    __builtin___clear_cache(start, start + dwSize);
    return TRUE;
}

extern "C" LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect)
{
    const int protection = ProtectionOf(flProtect);
    const Address requested = reinterpret_cast<Address>(lpAddress);
    if (dwSize == 0 || protection < 0 || !(flAllocationType & MEM_COMMIT)
        || (flAllocationType & ~(MEM_COMMIT | MEM_RESERVE | MEM_TOP_DOWN)) != 0 || dwSize >= AddressSpaceEnd
        || requested >= AddressSpaceEnd - dwSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    void* base;
    Address size;
    if (requested != 0) {
        // A reservation starts at the allocation granularity below the address asked for.
        const Address start = requested & ~(AllocationGranularity - 1);
        size = PageCeiling(requested + dwSize) - start;
        base = mmap(
            reinterpret_cast<void*>(start), size, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (base != MAP_FAILED && base != reinterpret_cast<void*>(start)) {
            munmap(base, size); // a kernel that takes the address as a hint only
            base = MAP_FAILED;
            errno = EEXIST;
        }
        if (base == MAP_FAILED) {
            SetLastError(errno == EEXIST ? ERROR_INVALID_ADDRESS : ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    } else {
        // Map a granule more than needed and trim, so that the allocation starts on a granule.
        size = PageCeiling(dwSize);
        void* wide = mmap(nullptr, size + AllocationGranularity, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (wide == MAP_FAILED) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        const Address wideStart = reinterpret_cast<Address>(wide);
        const Address start = (wideStart + AllocationGranularity - 1) & ~(AllocationGranularity - 1);
        if (start > wideStart)
            munmap(wide, start - wideStart);
        if (wideStart + AllocationGranularity > start)
            munmap(reinterpret_cast<void*>(start + size), wideStart + AllocationGranularity - start);
        base = reinterpret_cast<void*>(start);
    }

    if (!Allocations().Add({ reinterpret_cast<Address>(base), size, flProtect })) {
        munmap(base, size);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return base;
}

extern "C" BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType)
{
    if (dwFreeType != MEM_RELEASE || dwSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Allocation allocation = Allocations().Remove(reinterpret_cast<Address>(lpAddress));
    if (allocation.size == 0) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    munmap(lpAddress, allocation.size);
    return TRUE;
}
