// demoweb [--port N] [--root DIR] [--sites DIR]
//
// A bundled virtual web: an HTTP/1.1 server and forward proxy on 127.0.0.1 serving the sites under
// the sites directory. With --root it installs its certificate authority into DIR/certs, so that
// a machine root trusts the https answers it gives to CONNECT. When it is ready it prints
// "demoweb listening on 127.0.0.1:PORT" (port 0 picks a free one), then one line per request.
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
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Connections served at once; more wait in the listen queue.
constexpr int kMaxConnections = 256;

int Usage()
{
    std::fprintf(stderr, "usage: demoweb [--port N] [--root DIR] [--sites DIR]\n");
    return 2;
}

bool InstallAuthority(const std::string& root, const std::string& pem)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path certs = fs::path(root) / "certs";
    fs::create_directories(certs, error);
    const fs::path temporary = certs / "demoweb-ca.pem.tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << pem;
        if (!file.flush())
            return false;
    }
    fs::rename(temporary, certs / "demoweb-ca.pem", error);
    return !error;
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
        } else {
            return Usage();
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    auto authority = demoweb::Authority::Create();
    if (!authority) {
        std::fprintf(stderr, "demoweb: cannot make the certificate authority\n");
        return 1;
    }
    if (!root.empty() && !InstallAuthority(root, authority->CertificatePem())) {
        std::fprintf(stderr, "demoweb: cannot install the certificate authority into %s/certs\n", root.c_str());
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
