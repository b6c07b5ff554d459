// The floor of the cross-process benchmarks: a bare round trip of one record over a Unix stream
// socket between this process and a forked child that echoes it back, once per iteration.
#pragma once

#include <benchmark/benchmark.h>
#include <csignal>
#include <cstddef>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace benchmark_support {

enum class Direction { Read, Write };

// Moves all size bytes, or fails when the peer is gone.
inline bool TransferAll(int fd, unsigned char* data, std::size_t size, Direction direction)
{
    while (size > 0) {
        const ssize_t done = direction == Direction::Read ? read(fd, data, size) : write(fd, data, size);
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

inline void MeasureSocketRoundTrip(benchmark::State& state, std::size_t recordBytes)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    std::vector<unsigned char> record(recordBytes, 0x5A);
    const pid_t child = fork();
    if (child == 0) {
        close(pair[0]);
        while (TransferAll(pair[1], record.data(), record.size(), Direction::Read)
            && TransferAll(pair[1], record.data(), record.size(), Direction::Write)) { }
        _exit(0);
    }
    close(pair[1]);
    for (auto _ : state) {
        if (!TransferAll(pair[0], record.data(), record.size(), Direction::Write)
            || !TransferAll(pair[0], record.data(), record.size(), Direction::Read)) {
            state.SkipWithError("echo");
            break;
        }
    }
    close(pair[0]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

}
