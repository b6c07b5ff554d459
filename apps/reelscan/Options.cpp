#include "Options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

const char kHelpText[] = R"(Usage: reelscan [options] URL
       reelscan demo [--timeout SECONDS]

Finds the downloadable videos behind the web page URL and prints each one as it arrives.

Options:
  --json             one JSON object per line with the keys title, type, length, url, href,
                     cookie and icon (length a number, the rest strings)
  --first            stop at the first video
  --unique           drop a video identical to one already printed (every analysed video is
                     delivered twice)
  --timeout SECONDS  how long to wait for videos (default 60; fractions allowed)
  --help             show this text

reelscan demo starts demoweb, the bundled web, in a private machine root and asks for the first
video of one demo page of each of the six known services (YouTube, Vimeo, LiveLeak, Metacafe,
MyVideo, Break); --timeout then applies to each service.

While it waits on a terminal, reelscan shows the elapsed time and the videos so far on standard
error. On a machine root where the request service is not registered yet, reelscan first
registers ReelscanModule.exe from its own directory for the current user.

Environment:
  WINROOT            the machine root (default $XDG_STATE_HOME/winroot, else
                     ~/.local/state/winroot); reelscan demo uses a temporary one of its own

Exit status: 0 when at least one video was found (for demo: one from every service), 1 when
none was, 2 for bad usage or a set-up problem, 130 when interrupted without a video.
)";

namespace {

// The longest wait the proxy's 32-bit millisecond time-out can express.
constexpr double kLongestTimeoutSeconds = 4294967.0;
constexpr uint32_t kShortestTimeoutMilliseconds = 1001;

bool ParseTimeout(std::string_view text, uint32_t& milliseconds)
{
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !(seconds > 0) || seconds > kLongestTimeoutSeconds)
        return false;
    milliseconds = std::max(static_cast<uint32_t>(std::llround(seconds * 1000)), kShortestTimeoutMilliseconds);
    return true;
}

// A URL has a scheme of letters, digits, '+', '-' or '.' before "://" and something after it.
bool LooksLikeUrl(std::string_view text)
{
    const size_t separator = text.find("://");
    if (separator == 0 || separator == std::string_view::npos || separator + 3 == text.size())
        return false;
    for (char c : text.substr(0, separator))
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    return true;
}

}

Command ParseCommandLine(int argc, const char* const* argv)
{
    RequestOptions options;
    const bool demo = argc > 1 && std::string_view(argv[1]) == "demo";
    bool haveUrl = false;
    for (int i = demo ? 2 : 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h")
            return ShowHelp {};
        if (argument == "--timeout") {
            if (i + 1 == argc)
                return UsageError { "--timeout needs a number of seconds" };
            if (!ParseTimeout(argv[++i], options.timeoutMilliseconds))
                return UsageError { "--timeout takes a number of seconds above 0, not '" + std::string(argv[i]) + "'" };
        } else if (demo) {
            return UsageError { "reelscan demo takes only --timeout, not '" + std::string(argument) + "'" };
        } else if (argument == "--json") {
            options.form = OutputForm::JsonLines;
        } else if (argument == "--first") {
            options.stopping = Stopping::FirstVideo;
        } else if (argument == "--unique") {
            options.repeats = Repeats::Drop;
        } else if (argument.starts_with("-")) {
            return UsageError { "unknown option '" + std::string(argument) + "'" };
        } else if (haveUrl) {
            return UsageError { "only one URL, please: '" + std::string(argument) + "' is one too many" };
        } else if (!LooksLikeUrl(argument)) {
            return UsageError { "'" + std::string(argument)
                + "' is not a URL (such as http://www.youtube.com/watch?v=...)" };
        } else {
            options.url = argument;
            haveUrl = true;
        }
    }
    if (demo)
        return DemoOptions { options.timeoutMilliseconds };
    if (!haveUrl)
        return UsageError { "no URL given" };
    return options;
}
