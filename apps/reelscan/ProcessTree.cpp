#include "ProcessTree.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>

void BecomeSubreaper()
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

std::vector<pid_t> Children()
{
    std::vector<pid_t> pids;
    std::error_code error; // a task that ends while it is read has no children to give
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream children(task.path() / "children");
        for (pid_t pid = 0; children >> pid;)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool Running(pid_t pid)
{
    // The state follows the name in parentheses, which may itself hold blanks and parentheses.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t nameEnd = text.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < text.size() && text[nameEnd + 2] != 'Z';
}

std::vector<pid_t> ReapUntil(std::chrono::steady_clock::time_point deadline, const std::vector<pid_t>& keep)
{
    for (;;) {
        for (const pid_t pid : Children())
            if (!std::binary_search(keep.begin(), keep.end(), pid))
                waitpid(pid, nullptr, WNOHANG);
        const std::vector<pid_t> now = Children();
        std::vector<pid_t> left;
        std::set_difference(now.begin(), now.end(), keep.begin(), keep.end(), std::back_inserter(left));
        if (left.empty() || std::chrono::steady_clock::now() >= deadline)
            return left;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}
