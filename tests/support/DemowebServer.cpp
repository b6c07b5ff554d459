#include "DemowebServer.h"

#include "TestRoot.h"
#include "wininet.h"
#include "winreg.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

namespace {

constexpr char kReadyPrefix[] = "demoweb listening on 127.0.0.1:";

}

DemowebServer::DemowebServer(RootProxy proxy)
{
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe for demoweb");
    const std::string program = BinaryDirectory() + "/demoweb";
    const std::string root = TestRoot();
    const std::string parent = std::to_string(getpid());
    const char* argv[]
        = { program.c_str(), "--port", "0", "--root", root.c_str(), "--parent", parent.c_str(), nullptr };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    const int spawned
        = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        throw std::runtime_error("cannot start " + program);
    }
    m_reader = std::thread([this, end = pipeEnds[0]] { ReadLog(end); });

    std::unique_lock lock(m_lock);
    if (!m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_ready || m_ended; }) || !m_ready) {
        lock.unlock();
        Stop();
        throw std::runtime_error("demoweb did not report its address");
    }
    lock.unlock();
    if (proxy == RootProxy::PointHere)
        SetRootProxy(true, Address());
}

void DemowebServer::SetRootProxy(bool enabled, const std::string& server, const std::string& bypass)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        throw std::runtime_error("cannot open the root's Internet Settings");
    const DWORD enable = enabled ? 1 : 0;
    auto setText = [key](const char16_t* name, const std::string& text) {
        const std::u16string wide(text.begin(), text.end());
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
            static_cast<DWORD>((wide.size() + 1) * sizeof(char16_t)));
    };
    const bool written
        = RegSetValueExW(key, u"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable)
            == ERROR_SUCCESS
        && setText(u"ProxyServer", server) == ERROR_SUCCESS && setText(u"ProxyOverride", bypass) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!written)
        throw std::runtime_error("cannot write the root's proxy setting");
    // As a program that changes the setting does, so that WinINet reads it again.
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

DemowebServer::~DemowebServer()
{
    Stop();
}

void DemowebServer::Stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_reader.joinable())
        m_reader.join();
}

std::string DemowebServer::Address() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> DemowebServer::Requests() const
{
    std::lock_guard lock(m_lock);
    return m_lines;
}

std::string DemowebServer::WaitForRequest(const std::string& text, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_lock);
    std::string found;
    m_changed.wait_for(lock, timeout, [&] {
        for (const auto& line : m_lines)
            if (line.find(text) != std::string::npos)
                return found = line, true;
        return m_ended;
    });
    return found;
}

void DemowebServer::ReadLog(int pipe)
{
    std::string pending;
    char buffer[4096];
    for (ssize_t count; (count = read(pipe, buffer, sizeof buffer)) > 0;) {
        pending.append(buffer, static_cast<size_t>(count));
        std::lock_guard lock(m_lock);
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            if (!m_ready && line.rfind(kReadyPrefix, 0) == 0) {
                m_port = std::stoi(line.substr(sizeof kReadyPrefix - 1));
                m_ready = true;
            } else {
                m_lines.push_back(line);
            }
        }
        m_changed.notify_all();
    }
    close(pipe);
    std::lock_guard lock(m_lock);
    m_ended = true;
    m_changed.notify_all();
}

}
