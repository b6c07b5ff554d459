#include "PeerMessages.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace peer {

Process::Process(const std::string& program, const std::string& className, const std::string& title)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const char* argv[] = { program.c_str(), className.c_str(), title.c_str(), nullptr };
    const int failed = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    m_output = pipeFds[0];
    if (failed) {
        close(m_output);
        throw std::runtime_error("cannot start " + program);
    }
    const std::string handle = ReadLine();
    m_hwnd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(std::stol(handle.empty() ? "0" : handle)));
}

Process::~Process()
{
    Kill();
    close(m_output);
}

std::string Process::ReadLine()
{
    std::string line;
    char c;
    for (;;) {
        const ssize_t got = read(m_output, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n')
            return line;
        line.push_back(c);
    }
}

void Process::Kill()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        Wait();
    }
}

int Process::Wait()
{
    int status = -1;
    if (m_pid > 0) {
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
        m_pid = -1;
    }
    return status;
}

}
