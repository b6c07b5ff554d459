#include "Holds.h"

#include <algorithm>

namespace demoweb {

bool RequestHolds::Hold(const std::string& text)
{
    std::lock_guard guard(m_lock);
    if (text.empty() || text.size() > kMaxHoldText || m_texts.size() >= kMaxHolds)
        return false;
    m_texts.push_back(text);
    return true;
}

void RequestHolds::Release(const std::string& text)
{
    {
        std::lock_guard guard(m_lock);
        m_texts.erase(std::remove(m_texts.begin(), m_texts.end(), text), m_texts.end());
    }
    m_released.notify_all();
}

void RequestHolds::ReleaseAll()
{
    {
        std::lock_guard guard(m_lock);
        m_texts.clear();
    }
    m_released.notify_all();
}

void RequestHolds::Await(const std::string& line)
{
    std::unique_lock guard(m_lock);
    m_released.wait(guard, [&] { return !Held(line); });
}

bool RequestHolds::Held(const std::string& line) const
{
    return std::any_of(
        m_texts.begin(), m_texts.end(), [&](const std::string& text) { return line.find(text) != std::string::npos; });
}

}
