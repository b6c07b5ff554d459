// What the analyzer tests share.
//
// RunThenStop runs an analysis on a kernel32 worker thread the way the analysis driver does, and stops it
// (TerminateThread, the platform's stop facility) once demoweb has seen the request named by
// requestText, which the test's page answers slowly. Returns whether the worker then ended within
// the hang guard; the work itself records what the stopped analysis answered.
#pragma once

#include "DemowebServer.h"
#include "windows.h"

#include <functional>
#include <string>

// ASCII text of a wide string, for comparisons that name the failing case.
inline std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

inline bool RunThenStop(
    const std::function<void()>& work, const testing_support::DemowebServer& server, const std::string& requestText)
{
    struct Start {
        static DWORD WINAPI Proc(LPVOID parameter)
        {
            (*static_cast<const std::function<void()>*>(parameter))();
            return 0;
        }
    };
    HANDLE thread = CreateThread(nullptr, 0, Start::Proc, const_cast<std::function<void()>*>(&work), 0, nullptr);
    if (!thread)
        return false;
    const bool asked = !server.WaitForRequest(requestText).empty();
    TerminateThread(thread, 1);
    const bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0; // a guard against a hang
    CloseHandle(thread);
    return asked && ended;
}
