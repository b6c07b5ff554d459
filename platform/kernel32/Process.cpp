#include "processthreadsapi.h"

#include "CommandLine.h"
#include "HostPath.h"
#include "StartupBlock.h"
#include "ThreadObject.h"
#include "Utf.h"
#include "errhandlingapi.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <variant>

extern char** environ;

namespace platform {

namespace {

// Through syscall: glibc's <sys/pidfd.h> declares these without C linkage.
int OpenPidfd(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool KillThroughPidfd(int pidfd)
{
    return syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0;
}

// The calling process, as GetCurrentProcess's pseudo-handle names it: never signalled while anyone
// can wait on it.
class SelfProcessObject final : public KernelObject, public Waitable {
public:
    Waitable* AsWaitable() override
    {
        return this;
    }
    bool IsSignaled() const override
    {
        return false;
    }
};

// Another process, through a pidfd. Children are reaped by their own pidfd only, so no exit of a
// child that some other code started is ever taken from it. The handle of a child's main thread
// names the same object.
class ProcessObject final : public KernelObject, public Waitable, public ExitingObject {
public:
    // exitCodePipe: the read end that a child's ExitProcess writes its full exit code to, or -1.
    ProcessObject(pid_t pid, int pidfd, int exitCodePipe)
        : m_pid(pid)
        , m_pidfd(pidfd)
        , m_exitCodePipe(exitCodePipe)
        , m_child(exitCodePipe >= 0)
    {
    }
    ~ProcessObject() override
    {
        close(m_pidfd);
        if (m_exitCodePipe >= 0)
            close(m_exitCodePipe);
    }
    Waitable* AsWaitable() override
    {
        return this;
    }
    bool IsSignaled() const override
    {
        return m_ended.load();
    }
    DWORD CurrentExitCode() const override
    {
        return m_ended.load() ? m_exitCode.load() : STILL_ACTIVE;
    }

    const pid_t m_pid;
    const int m_pidfd;
    const int m_exitCodePipe;
    const bool m_child;
    std::atomic<bool> m_terminated { false };
    std::atomic<DWORD> m_terminateCode { 0 };
    // Written under the wait lock, the exit code first.
    std::atomic<bool> m_ended { false };
    std::atomic<DWORD> m_exitCode { 0 };
};

// One thread watches every process object's pidfd and records each exit. It holds the objects
// until their processes end, so that every child is reaped even once its handles are closed.
class ProcessWatcher {
public:
    ProcessWatcher()
        : m_epoll(epoll_create1(EPOLL_CLOEXEC))
    {
        std::thread([this] { Run(); }).detach();
    }

    void Watch(const std::shared_ptr<ProcessObject>& process)
    {
        {
            SuspendSafeLock lock(m_mutex);
            m_processes[process->m_pidfd] = process;
            m_children[process->m_pid] = process;
        }
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = process->m_pidfd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, process->m_pidfd, &event);
    }

    std::shared_ptr<ProcessObject> FindChild(pid_t pid)
    {
        SuspendSafeLock lock(m_mutex);
        auto found = m_children.find(pid);
        return found == m_children.end() ? nullptr : found->second.lock();
    }

private:
    void Run()
    {
        epoll_event events[16];
        for (;;) {
            const int count = epoll_wait(m_epoll, events, 16, -1);
            for (int i = 0; i < count; ++i)
                Ended(events[i].data.fd);
        }
    }

    void Ended(int pidfd)
    {
        std::shared_ptr<ProcessObject> process;
        {
            SuspendSafeLock lock(m_mutex);
            auto found = m_processes.find(pidfd);
            if (found == m_processes.end())
                return;
            process = std::move(found->second);
            m_processes.erase(found);
            m_children.erase(process->m_pid);
        }
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, pidfd, nullptr);
        DWORD code = process->m_terminated ? process->m_terminateCode.load() : 0;
        siginfo_t info {};
        int reaped;
        do
            reaped = process->m_child ? waitid(P_PIDFD, pidfd, &info, WEXITED) : -1;
        while (reaped < 0 && errno == EINTR);
        // A process that died of a signal no TerminateProcess sent ends as a shell reports it.
        if (reaped == 0 && info.si_code == CLD_EXITED) {
            code = static_cast<DWORD>(info.si_status);
            DWORD full = 0;
            if (read(process->m_exitCodePipe, &full, sizeof full) == sizeof full && (full & 0xFF) == code)
                code = full;
        } else if (reaped == 0 && !process->m_terminated)
            code = 128 + static_cast<DWORD>(info.si_status);
        UpdateWaitState([&] {
            process->m_exitCode = code;
            process->m_ended = true;
        });
    }

    const int m_epoll;
    std::mutex m_mutex;
    std::unordered_map<int, std::shared_ptr<ProcessObject>> m_processes; // by pidfd, until they end
    std::unordered_map<pid_t, std::weak_ptr<ProcessObject>> m_children;
};

ProcessWatcher& Watcher()
{
    // Never destroyed: its thread runs until the process ends.
    static ProcessWatcher* watcher = new ProcessWatcher;
    return *watcher;
}

bool IsFile(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

enum class ProgramSearch { AsGiven, SearchPath };

// The file a program item names. A name without an extension gets ".exe" first, as on Windows, and
// then is tried as it is, for programs without one. A bare name searched for is looked up beside
// the calling program, in the current directory, then along PATH.
std::optional<std::string> FindProgram(std::u16string_view item, ProgramSearch search)
{
    const std::string host = ToHostPath(item);
    if (host.empty())
        return std::nullopt;
    std::vector<std::string> names { host };
    if (search == ProgramSearch::SearchPath && std::filesystem::path(host).extension().empty())
        names.insert(names.begin(), host + ".exe");
    std::vector<std::string> directories { "" };
    if (search == ProgramSearch::SearchPath && host.find('/') == std::string::npos) {
        std::error_code error;
        directories = { std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string(), "." };
        const char* path = std::getenv("PATH");
        for (std::string_view rest = path ? path : ""; !rest.empty();) {
            const size_t colon = rest.find(':');
            directories.emplace_back(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const std::string& directory : directories) {
        for (const std::string& name : names) {
            const std::string candidate = directory.empty() ? name : directory + "/" + name;
            if (IsFile(candidate))
                return candidate;
        }
    }
    return std::nullopt;
}

// The child's environment: the block's entries (UTF-16 or ANSI, as dwCreationFlags says), or the
// caller's own; any start-up block of the caller's is left out.
std::vector<std::string> ChildEnvironment(LPVOID block, DWORD creationFlags)
{
    std::vector<std::string> entries;
    if (!block) {
        for (char** entry = environ; *entry; ++entry)
            entries.emplace_back(*entry);
    } else if (creationFlags & CREATE_UNICODE_ENVIRONMENT) {
        for (auto* entry = static_cast<const char16_t*>(block); *entry; entry += WideView(entry).size() + 1)
            entries.push_back(ToUtf8(entry));
    } else {
        for (auto* entry = static_cast<const char*>(block); *entry; entry += std::string_view(entry).size() + 1)
            entries.emplace_back(entry);
    }
    std::erase_if(entries, [](const std::string& entry) {
        // Entries that start with '=' are Windows' per-drive directories, which mean nothing here.
        return entry.starts_with('=') || entry.starts_with(std::string(StartupVariable) + "=");
    });
    return entries;
}

DWORD ErrorOfExec(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOEXEC:
    case ELIBBAD:
        return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

struct Launch {
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::string> environment; // the last entry is the start-up block
    std::optional<std::string> directory;
    bool nullStandardHandles;
    int exitCodeFd; // the write end of the exit-code pipe, kept open across exec
};

[[noreturn]] void RunChild(const Launch& launch, char* const* argv, char* const* envp, int errorPipe)
{
    // Between fork and exec only async-signal-safe calls: the parent's other threads may have held
    // any lock at the fork.
    char* digits = envp[launch.environment.size() - 1] + StartupPidOffset;
    for (pid_t pid = getpid(), i = StartupPidDigits; i-- > 0; pid /= 10)
        digits[i] = static_cast<char>('0' + pid % 10);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int error = 0;
    if (launch.directory && chdir(launch.directory->c_str()) != 0)
        error = errno;
    if (!error && launch.nullStandardHandles) {
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd)
            dup2(null, fd);
    }
    if (!error) {
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        fcntl(launch.exitCodeFd, F_SETFD, 0);
        execve(launch.program.c_str(), argv, envp);
        error = errno;
    }
    (void)!write(errorPipe, &error, sizeof error);
    _exit(127);
}

// Starts the child; its pid, or the Windows error that stopped it.
std::variant<pid_t, DWORD> Spawn(Launch& launch)
{
    std::vector<char*> argv, envp;
    for (std::string& argument : launch.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (std::string& entry : launch.environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        close(launch.exitCodeFd);
        return static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES);
    }
    const pid_t pid = fork();
    if (pid == 0)
        RunChild(launch, argv.data(), envp.data(), errorPipe[1]);
    close(errorPipe[1]);
    close(launch.exitCodeFd);
    int childError = 0;
    ssize_t got;
    do
        got = pid > 0 ? read(errorPipe[0], &childError, sizeof childError) : 0;
    while (got < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (pid < 0)
        return static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
    if (got == sizeof childError) {
        waitpid(pid, nullptr, 0);
        return ErrorOfExec(childError);
    }
    return pid;
}

struct ExitCodePipe {
    int read;
    int write;
};

// Both ends close on exec; the child keeps its write end open itself. The write end is moved above
// the standard descriptors, which the child may replace.
std::optional<ExitCodePipe> OpenExitCodePipe()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return std::nullopt;
    const int write = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    close(ends[1]);
    if (write < 0) {
        close(ends[0]);
        return std::nullopt;
    }
    return ExitCodePipe { ends[0], write };
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

}

std::shared_ptr<KernelObject> CurrentProcessObject()
{
    static const std::shared_ptr<KernelObject>* self
        = new std::shared_ptr<KernelObject>(std::make_shared<SelfProcessObject>());
    return *self;
}

}

using namespace platform;

extern "C" HANDLE WINAPI GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

extern "C" DWORD WINAPI GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}

extern "C" BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
    LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
    LPPROCESS_INFORMATION lpProcessInformation)
{
    if ((!lpApplicationName && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation)
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwCreationFlags & CREATE_SUSPENDED)
        return Fail(ERROR_NOT_SUPPORTED);
    // Without a command line the application name is the command line, as on Windows.
    const std::u16string commandLine(WideView(lpCommandLine ? lpCommandLine : lpApplicationName));
    const std::optional<std::string> program = lpApplicationName
        ? FindProgram(lpApplicationName, ProgramSearch::AsGiven)
        : FindProgram(ProgramItem(commandLine), ProgramSearch::SearchPath);
    if (!program)
        return Fail(ERROR_FILE_NOT_FOUND);

    Launch launch { *program, {}, ChildEnvironment(lpEnvironment, dwCreationFlags), std::nullopt,
        (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) != 0, -1 };
    for (const std::u16string& argument : SplitCommandLine(commandLine))
        launch.arguments.push_back(ToUtf8(argument));
    if (launch.arguments.empty())
        launch.arguments.push_back(*program);
    if (lpCurrentDirectory && *lpCurrentDirectory) {
        launch.directory = ToHostPath(lpCurrentDirectory);
        std::error_code error;
        if (!std::filesystem::is_directory(*launch.directory, error))
            return Fail(ERROR_DIRECTORY);
    }
    const std::optional<ExitCodePipe> exitCodePipe = OpenExitCodePipe();
    if (!exitCodePipe)
        return Fail(ERROR_NO_SYSTEM_RESOURCES);
    launch.exitCodeFd = exitCodePipe->write;
    const WORD show = (lpStartupInfo->dwFlags & STARTF_USESHOWWINDOW) ? lpStartupInfo->wShowWindow : 0;
    launch.environment.push_back(EncodeStartup(lpStartupInfo->dwFlags, show, launch.exitCodeFd, commandLine));

    const std::variant<pid_t, DWORD> spawned = Spawn(launch);
    if (const DWORD* error = std::get_if<DWORD>(&spawned)) {
        close(exitCodePipe->read);
        return Fail(*error);
    }
    const pid_t pid = std::get<pid_t>(spawned);
    // A child stays a zombie until reaped, so its pid cannot be reused before the pidfd is open.
    const int pidfd = OpenPidfd(pid);
    if (pidfd < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(exitCodePipe->read);
        return Fail(ERROR_NO_SYSTEM_RESOURCES);
    }
    fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    auto process = std::make_shared<ProcessObject>(pid, pidfd, exitCodePipe->read);
    Watcher().Watch(process);
    lpProcessInformation->hProcess = InsertHandle(process);
    lpProcessInformation->hThread = InsertHandle(process);
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

extern "C" HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    const pid_t pid = static_cast<pid_t>(dwProcessId);
    if (pid == getpid())
        return InsertHandle(CurrentProcessObject());
    if (std::shared_ptr<ProcessObject> child = Watcher().FindChild(pid))
        return InsertHandle(std::move(child));
    const int pidfd = pid > 0 ? OpenPidfd(pid) : -1;
    if (pidfd < 0) {
        SetLastError(errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    fcntl(pidfd, F_SETFD, FD_CLOEXEC);
    auto process = std::make_shared<ProcessObject>(pid, pidfd, -1);
    Watcher().Watch(process);
    return InsertHandle(std::move(process));
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    const std::shared_ptr<KernelObject> object = ReferenceHandle(hProcess);
    if (!object)
        return FALSE;
    if (!lpExitCode)
        return Fail(ERROR_INVALID_PARAMETER);
    if (object == CurrentProcessObject()) {
        *lpExitCode = STILL_ACTIVE;
        return TRUE;
    }
    const auto* process = dynamic_cast<const ProcessObject*>(object.get());
    if (!process)
        return Fail(ERROR_INVALID_HANDLE);
    *lpExitCode = process->CurrentExitCode();
    return TRUE;
}

extern "C" DWORD WINAPI GetProcessId(HANDLE Process)
{
    const std::shared_ptr<KernelObject> object = ReferenceHandle(Process);
    if (object && object == CurrentProcessObject())
        return static_cast<DWORD>(getpid());
    const auto* process = dynamic_cast<const ProcessObject*>(object.get());
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(process->m_pid);
}

extern "C" BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode)
{
    const std::shared_ptr<KernelObject> object = ReferenceHandle(hProcess);
    if (!object)
        return FALSE;
    if (object == CurrentProcessObject())
        _exit(static_cast<int>(uExitCode));
    auto* process = dynamic_cast<ProcessObject*>(object.get());
    if (!process)
        return Fail(ERROR_INVALID_HANDLE);
    if (process->m_ended)
        return Fail(ERROR_ACCESS_DENIED);
    process->m_terminateCode = uExitCode;
    process->m_terminated = true;
    if (!KillThroughPidfd(process->m_pidfd))
        return Fail(ERROR_ACCESS_DENIED);
    return TRUE;
}
