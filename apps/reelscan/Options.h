// The command line of reelscan: `reelscan [options] URL` or `reelscan demo [--timeout SECONDS]`.
//
// Parsing never exits or prints; it returns what to do, or a message for bad usage.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

enum class OutputForm { Readable, JsonLines };
enum class Stopping { AllVideos, FirstVideo };
enum class Repeats { Keep, Drop };

struct RequestOptions {
    std::string url;
    OutputForm form = OutputForm::Readable;
    Stopping stopping = Stopping::AllVideos;
    Repeats repeats = Repeats::Keep;
    // What the proxy is given: above 1000, since it reads 1000 ms or less as one minute.
    uint32_t timeoutMilliseconds = 60000;
};

// Runs through one demo page of each known service in a private root, with demoweb as its web.
struct DemoOptions {
    uint32_t timeoutMilliseconds = 60000; // for each service's request
};

struct ShowHelp { };

struct UsageError {
    std::string message;
};

using Command = std::variant<RequestOptions, DemoOptions, ShowHelp, UsageError>;

Command ParseCommandLine(int argc, const char* const* argv);

extern const char kHelpText[];
