// Requests that a test asks demoweb to hold: each request whose log line contains a held text
// waits, unanswered, until that text is released. This is how a test orders what it cannot
// otherwise order, such as the answer a program needs last against a browser's page load.
//
// Threads: Hold, Release and ReleaseAll may come from any thread; Await blocks the connection's
// thread that calls it and nothing else.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace demoweb {

class RequestHolds {
public:
    // false when the text is empty, longer than kMaxHoldText or one hold too many.
    bool Hold(const std::string& text);
    void Release(const std::string& text);
    // Every hold ends, as when the one who held them goes.
    void ReleaseAll();
    // Returns once no held text is part of line.
    void Await(const std::string& line);

private:
    static constexpr size_t kMaxHolds = 64;
    static constexpr size_t kMaxHoldText = 4096;

    bool Held(const std::string& line) const;

    std::mutex m_lock;
    std::condition_variable m_released;
    std::vector<std::string> m_texts;
};

}
