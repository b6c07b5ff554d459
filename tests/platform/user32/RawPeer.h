// A peer that speaks the endpoint's framing by hand, for tests that send what no endpoint would.
#pragma once

#include "Endpoint.h"

#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

using platform::ipc::DecodeHeader;
using platform::ipc::EncodeHeader;
using platform::ipc::FrameHeader;
using platform::ipc::kFrameHeaderBytes;

inline std::vector<std::uint8_t> Frame(const FrameHeader& header, std::vector<std::uint8_t> body)
{
    std::vector<std::uint8_t> frame(kFrameHeaderBytes);
    EncodeHeader(header, frame.data());
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

inline int Connect(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads one whole frame; false when the endpoint closed the connection instead.
inline bool ReadFrame(int fd, FrameHeader& header, std::vector<std::uint8_t>& body)
{
    std::vector<std::uint8_t> buffer;
    std::uint8_t chunk[4096];
    while (buffer.size() < kFrameHeaderBytes
        || (DecodeHeader(buffer.data(), header) && buffer.size() < kFrameHeaderBytes + header.bodyLength)) {
        const ssize_t got = recv(fd, chunk, sizeof(chunk), 0);
        if (got <= 0)
            return false;
        buffer.insert(buffer.end(), chunk, chunk + got);
    }
    body.assign(buffer.begin() + kFrameHeaderBytes, buffer.end());
    return true;
}

}
