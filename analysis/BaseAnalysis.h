// What the site analyzers share: the record they fill, the base class of the five class-based
// analyzers with its page operations, and the marker rule by which values are cut out of pages.
//
// Everything runs on the analysis worker thread, one analysis at a time, with blocking WinINet
// calls and no lock. The worker may be stopped at any moment (TerminateThread): its WinINet calls
// then fail at once, and every analyzer answers "not found" (0, or an empty stream list) once
// AnalysisStopped is true, so a stopped analysis never yields a record. Failures are silent.
#pragma once

#include "windows.h"
#include "wininet.h"

#include <string>

// One found video, in the order of the service's OnVideoReceived parameters. href, refer and icon
// are never filled; length is defined only after an analyzer reported success.
struct AnalysisResult {
    std::u16string title;
    std::u16string type;
    DWORD length = 0;
    std::u16string url;
    std::u16string href;
    std::u16string cookie;
    std::u16string refer;
    std::u16string icon;
};

constexpr int kAgentLength = 260; // the browser's agent text, terminator included
constexpr size_t kPageChunkBytes = 4096;
// A page larger than this is a failed fetch: no service page of ours comes near it, and a server
// that sends without end must not take the process's memory with it.
constexpr size_t kMaxPageBytes = 16 * 1024 * 1024;

enum class MissingEnd { Empty, ToEndOfText };

// The marker rule: the text after the first start marker up to the first end marker after it;
// empty when the start marker is missing, and when the end marker is, unless told otherwise.
std::u16string CutBetween(const std::u16string& text, const std::u16string& start, const std::u16string& end,
    MissingEnd missingEnd = MissingEnd::Empty);

// True once the calling thread is being stopped.
bool AnalysisStopped();

// Reads an opened request's body in chunks, each converted from the thread's ANSI code page and
// appended to page. A multibyte character split between two chunks is carried over whole. 1 when
// the whole body was read, 0 on a failed read or a body over kMaxPageBytes (text so far stays).
int ReadPageBody(HINTERNET request, std::u16string& page);

class CBaseAnalysis {
public:
    // The class's second stage: turns the extracted text into a filled record. reserved1 and
    // reserved2 are always 0. Nonzero when a media link was found.
    virtual int Analyze(const std::u16string& extracted, AnalysisResult& result, int reserved1, int reserved2) = 0;

    // Downloads url, bypassing the cache, and appends its text to page; 1 when the whole body
    // was read. The HTTP status is not looked at.
    static int FetchPage(LPCWSTR url, std::u16string& page);
    // The text of the first <title> element, "&nbsp;" as a space, line breaks removed, trimmed.
    static std::u16string ExtractTitle(const std::u16string& page);
    // Replaces search (not empty) until none is left, searching again from the start each time.
    static std::u16string ReplaceAll(
        std::u16string text, const std::u16string& search, const std::u16string& replacement);
    // Without leading and trailing U+0020.
    static std::u16string TrimSpaces(const std::u16string& text);
    // Decodes the eleven escapes the services use (upper-case hexadecimal only), %25 first.
    static std::u16string DecodeUrlEscapes(const std::u16string& text);
    // The URL-moniker user agent into agent (kAgentLength characters, cleared by the caller).
    static int GetBrowserUserAgent(LPWSTR agent);
    // Probes link with the browser's agent and fills result: length, type, cookie (read after the
    // probe), url and the title of page. Reports the link even when the probe got no answer.
    static void FillResult(const std::u16string& link, const std::u16string& page, AnalysisResult& result);

protected:
    CBaseAnalysis() = default;
    ~CBaseAnalysis() = default; // analyzers are destroyed through their own type

    // The second half of a two-stage AnalyzePage: 0 for empty extracted text, else Analyze's
    // answer, unless the thread was stopped meanwhile.
    int AnalyzeExtracted(const std::u16string& extracted, AnalysisResult& result);

    std::u16string m_strPage; // the page an extraction step keeps for Analyze's title
};
