// Makes a fresh machine root ready for its first request: the proxy's companion creates the
// request service through COM, which finds it by the ProgID "ReelscanModule.ReqService". When
// that ProgID names no class with a local server, ReelscanModule.exe from the given directory
// registers itself for the current user ("/RegServerPerUser", its exit code the HRESULT).
//
// Runs on the caller's thread before any request and blocks while the server registers, for at
// most kRegistrationPatience; a server that takes longer is ended by its handle.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

inline constexpr auto kRegistrationPatience = std::chrono::seconds(30);

enum class Registration { AlreadyThere, RegisteredNow, Failed };

struct RegistrationOutcome {
    Registration state;
    std::string message; // for RegisteredNow what was run, for Failed why; one line, no prefix
};

RegistrationOutcome EnsureServerRegistered(const std::filesystem::path& programDirectory);
