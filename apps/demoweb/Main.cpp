// demoweb [--port N] [--root DIR] [--sites DIR] [--parent PID]
//
// A bundled virtual web: an HTTP/1.1 server and forward proxy on 127.0.0.1 serving the sites under
// the sites directory. With --root it installs its certificate authority into DIR/certs (and keeps
// it there for later runs), so that a machine root trusts the https answers it gives to CONNECT. When it is ready it prints
// "demoweb listening on 127.0.0.1:PORT" (port 0 picks a free one), then one line per request.
// With --parent it ends when process PID, which started it, ends: a test that crashes must not
// leave its server holding the test runner's output open.
#include "Authority.h"
#include "Server.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Connections served at once; more wait in the listen queue.
constexpr int kMaxConnections = 256;

int Usage()
{
    std::fprintf(stderr, "usage: demoweb [--port N] [--root DIR] [--sites DIR] [--parent PID]\n");
    return 2;
}

bool ReadText(const std::filesystem::path& file, std::string& text)
{
    std::ifstream stream(file, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(stream), {});
    return stream.good() || stream.eof();
}

bool WriteText(const std::filesystem::path& file, const std::string& text, std::filesystem::perms permissions)
{
    namespace fs = std::filesystem;
    const fs::path temporary = file.string() + ".tmp";
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream << text;
        if (!stream.flush())
            return false;
    }
    std::error_code error;
    fs::permissions(temporary, permissions, error);
    fs::rename(temporary, file, error);
    return !error;
}

// The authority of the root: the one an earlier run left there (certs/demoweb-ca.pem and its key
// beside certs/, where no certificate reader looks), or a new one put there.
std::unique_ptr<demoweb::Authority> RootAuthority(const std::string& root)
{
    namespace fs = std::filesystem;
    const fs::path certificate = fs::path(root) / "certs" / "demoweb-ca.pem";
    const fs::path key = fs::path(root) / "demoweb-ca.key";
    std::string certificatePem, keyPem;
    if (ReadText(certificate, certificatePem) && ReadText(key, keyPem))
        if (auto kept = demoweb::Authority::Load(certificatePem, keyPem))
            return kept;
    auto authority = demoweb::Authority::Create();
    std::error_code error;
    fs::create_directories(certificate.parent_path(), error);
    if (!authority || !WriteText(key, authority->KeyPem(), fs::perms::owner_read | fs::perms::owner_write)
        || !WriteText(certificate, authority->CertificatePem(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read))
        return nullptr;
    return authority;
}

int Listen(int port)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return -1;
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 128) != 0) {
        close(listener);
        return -1;
    }
    return listener;
}

int BoundPort(int listener)
{
    sockaddr_in address {};
    socklen_t size = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

}

int main(int argc, char** argv)
{
    int port = 0;
    std::string root;
    std::string sites = DEMOWEB_SITES;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char* value = argv[++i];
        if (option == "--port") {
            char* end = nullptr;
            const long number = std::strtol(value, &end, 10);
            if (*end || number < 0 || number > 65535)
                return Usage();
            port = static_cast<int>(number);
        } else if (option == "--root") {
            root = value;
        } else if (option == "--sites") {
            sites = value;
        } else if (option == "--parent") {
            char* end = nullptr;
            const long parent = std::strtol(value, &end, 10);
            if (*end || parent <= 0)
                return Usage();
            // The signal comes when the parent goes; a parent already gone is seen at once.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                return 1;
        } else {
            return Usage();
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    auto authority = root.empty() ? demoweb::Authority::Create() : RootAuthority(root);
    if (!authority) {
        std::fprintf(stderr, "demoweb: cannot make or install the certificate authority\n");
        return 1;
    }
    const int listener = Listen(port);
    if (listener < 0) {
        std::fprintf(stderr, "demoweb: cannot listen on 127.0.0.1:%d: %s\n", port, std::strerror(errno));
        return 1;
    }

    std::mutex logLock;
    demoweb::ServerContext context;
    context.sitesDirectory = sites;
    context.authority = authority.get();
    context.log = [&logLock](const std::string& line) {
        std::lock_guard lock(logLock);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };
    context.log("demoweb listening on 127.0.0.1:" + std::to_string(BoundPort(listener)));

    std::atomic<int> connections = 0;
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // until a connection ends
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                continue;
            return 1;
        }
        if (connections.load() >= kMaxConnections) {
            close(client);
            continue;
        }
        ++connections;
        std::thread([client, &context, &connections] {
            demoweb::ServeConnection(client, context);
            --connections;
        }).detach();
    }
}
