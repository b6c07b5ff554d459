// INI files: GetPrivateProfileString and friends over a file read whole on every call, as the
// callers here read a setting or two and do not expect another process's write to be cached.
#include "winbase.h"

#include "CodePage.h"
#include "HostPath.h"
#include "TextCase.h"
#include "Utf.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

// A file larger than this is not an INI file anyone here writes; it reads as missing.
constexpr std::streamoff MaxProfileFileSize = 16 * 1024 * 1024;

enum class Encoding { Ansi, Utf8, Utf16 };

struct ProfileFile {
    Encoding encoding = Encoding::Ansi;
    std::u16string newline = u"\r\n";
    std::vector<std::u16string> lines;
};

std::u16string_view Trim(std::u16string_view text)
{
    constexpr std::u16string_view blanks = u" \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::u16string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::optional<ProfileFile> Load(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    stream.seekg(0, std::ios::end);
    const std::streamoff size = stream.tellg();
    if (size < 0 || size > MaxProfileFileSize)
        return std::nullopt;
    stream.seekg(0);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!stream.read(bytes.data(), size))
        return std::nullopt;
    ProfileFile file;
    std::u16string text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        file.encoding = Encoding::Utf16;
        text.resize((bytes.size() - 2) / 2);
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<unsigned char>(bytes[2 + 2 * i]) | static_cast<unsigned char>(bytes[3 + 2 * i]) << 8;
    } else if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
        file.encoding = Encoding::Utf8;
        text = platform::FromUtf8(std::string_view(bytes).substr(3));
    } else {
        text = platform::AnsiToWide(bytes);
    }
    if (text.find(u"\r\n") == std::u16string::npos && text.find(u'\n') != std::u16string::npos)
        file.newline = u"\n";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        std::u16string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r')
            line.pop_back();
        file.lines.push_back(std::move(line));
        start = end + 1;
    }
    return file;
}

// 0, or the errno of what failed.
int Save(const std::string& path, const ProfileFile& file)
{
    std::u16string text;
    for (const std::u16string& line : file.lines)
        text += line + file.newline;
    std::string bytes;
    if (file.encoding == Encoding::Utf16) {
        bytes = "\xFF\xFE";
        for (char16_t c : text) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
    } else if (file.encoding == Encoding::Utf8) {
        bytes = "\xEF\xBB\xBF" + platform::ToUtf8(text);
    } else {
        bytes = platform::WideToAnsi(text);
    }
    // Written beside the file and renamed over it, so that readers see the old or the new file.
    static std::atomic<unsigned> writes;
    const std::string temporary = path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(++writes);
    std::FILE* stream = std::fopen(temporary.c_str(), "wb");
    if (!stream)
        return errno;
    int error = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size())
        error = errno ? errno : EIO;
    if (std::fclose(stream) != 0 && !error)
        error = errno;
    if (!error && std::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error)
        std::remove(temporary.c_str()); // the temporary file is ours alone; its removal cannot fail usefully
    return error;
}

// The name of a section header line ("[name]"), or nothing for any other line.
std::optional<std::u16string_view> SectionName(std::u16string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != u'[')
        return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(u']')));
}

struct Entry {
    std::u16string_view key;
    std::u16string_view value;
};

// A "key=value" line; comments (';') and lines without '=' are not entries.
std::optional<Entry> EntryOf(std::u16string_view line)
{
    const std::u16string_view trimmed = Trim(line);
    const size_t equals = trimmed.find(u'=');
    if (trimmed.empty() || trimmed.front() == u';' || equals == std::u16string_view::npos)
        return std::nullopt;
    return Entry { Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1)) };
}

// The lines of the first section of that name: its header's index and one past its last line.
struct SectionRange {
    size_t header;
    size_t end;
};

std::optional<SectionRange> FindSection(const ProfileFile& file, std::u16string_view name)
{
    for (size_t i = 0; i < file.lines.size(); ++i) {
        const auto section = SectionName(file.lines[i]);
        if (!section || !platform::EqualNoCase(*section, name))
            continue;
        size_t end = i + 1;
        while (end < file.lines.size() && !SectionName(file.lines[end]))
            ++end;
        return SectionRange { i, end };
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const ProfileFile& file, const SectionRange& section, std::u16string_view key)
{
    for (size_t i = section.header + 1; i < section.end; ++i) {
        const auto entry = EntryOf(file.lines[i]);
        if (entry && platform::EqualNoCase(entry->key, key))
            return i;
    }
    return std::nullopt;
}

std::u16string_view Unquote(std::u16string_view value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// What a read gives before the caller's buffer rules: a value, or a list of names each ending
// in a null character.
enum class Shape { Value, List };

struct Answer {
    std::u16string text;
    Shape shape;
};

Answer Query(const char16_t* app, const char16_t* key, const char16_t* defaultValue, const char16_t* fileName)
{
    std::u16string_view fallback = platform::WideView(defaultValue);
    fallback = fallback.substr(0, fallback.find_last_not_of(u' ') + 1);
    const Shape shape = !app || !key ? Shape::List : Shape::Value;
    Answer answer { shape == Shape::Value ? std::u16string(fallback) : std::u16string(), shape };
    const auto file = fileName ? Load(platform::ToHostPath(fileName)) : std::nullopt;
    if (!file) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return answer;
    }
    if (!app) {
        std::vector<std::u16string_view> names;
        for (const std::u16string& line : file->lines) {
            const auto name = SectionName(line);
            if (name && std::none_of(names.begin(), names.end(), [&](std::u16string_view known) {
                    return platform::EqualNoCase(known, *name);
                }))
                names.push_back(*name);
        }
        for (std::u16string_view name : names)
            (answer.text += name) += u'\0';
        return answer;
    }
    const auto section = FindSection(*file, app);
    if (!section)
        return answer;
    if (!key) {
        for (size_t i = section->header + 1; i < section->end; ++i) {
            if (const auto entry = EntryOf(file->lines[i]))
                (answer.text += entry->key) += u'\0';
        }
        return answer;
    }
    if (const auto line = FindKey(*file, *section, key))
        answer.text = Unquote(EntryOf(file->lines[*line])->value);
    return answer;
}

// Windows' buffer rules: a value is cut to nSize - 1 characters; a list that does not fit ends
// with its last name cut short and two nulls, and the count is nSize - 2.
template <typename Char> DWORD Deliver(const std::basic_string<Char>& text, Shape shape, Char* buffer, DWORD nSize)
{
    if (!buffer || nSize == 0)
        return 0;
    if (shape == Shape::Value || nSize < 2) {
        const size_t count = std::min<size_t>(text.size(), nSize - 1);
        std::copy_n(text.begin(), count, buffer);
        buffer[count] = 0;
        return static_cast<DWORD>(count);
    }
    if (text.size() + 1 <= nSize) {
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
        if (text.empty())
            buffer[1] = 0; // an empty list is still double-terminated
        return static_cast<DWORD>(text.size());
    }
    std::copy_n(text.begin(), nSize - 2, buffer);
    buffer[nSize - 2] = 0;
    buffer[nSize - 1] = 0;
    return nSize - 2;
}

// An integer setting: decimal, or hexadecimal after "0x"; a leading '-' negates. Parsing stops at
// the first character that is not a digit.
UINT ParseInteger(std::u16string_view text)
{
    bool negative = false;
    if (!text.empty() && text.front() == u'-') {
        negative = true;
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    UINT value = 0;
    for (char16_t c : text) {
        unsigned digit = c >= u'0' && c <= u'9'    ? c - u'0'
            : base == 16 && c >= u'a' && c <= u'f' ? c - u'a' + 10
            : base == 16 && c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                   : base;
        if (digit >= base)
            break;
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

std::optional<std::u16string> Widen(const char* text)
{
    return text ? std::optional<std::u16string>(platform::AnsiToWide(text)) : std::nullopt;
}

const char16_t* Pointer(const std::optional<std::u16string>& text)
{
    return text ? text->c_str() : nullptr;
}

}

extern "C" DWORD WINAPI GetPrivateProfileStringW(
    LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault, LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName)
{
    const Answer answer = Query(lpAppName, lpKeyName, lpDefault, lpFileName);
    return Deliver(answer.text, answer.shape, lpReturnedString, nSize);
}

extern "C" DWORD WINAPI GetPrivateProfileStringA(
    LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    const Answer answer = Query(
        Pointer(Widen(lpAppName)), Pointer(Widen(lpKeyName)), Pointer(Widen(lpDefault)), Pointer(Widen(lpFileName)));
    return Deliver(platform::WideToAnsi(answer.text), answer.shape, lpReturnedString, nSize);
}

extern "C" UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName)
{
    if (!lpAppName || !lpKeyName)
        return static_cast<UINT>(nDefault);
    const Answer answer = Query(lpAppName, lpKeyName, nullptr, lpFileName);
    return answer.text.empty() ? static_cast<UINT>(nDefault) : ParseInteger(answer.text);
}

extern "C" UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName)
{
    return GetPrivateProfileIntW(
        Pointer(Widen(lpAppName)), Pointer(Widen(lpKeyName)), nDefault, Pointer(Widen(lpFileName)));
}

extern "C" BOOL WINAPI WritePrivateProfileStringW(
    LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString, LPCWSTR lpFileName)
{
    // With no section there is nothing to write: Windows flushes its cache then and reports FALSE.
    if (!lpAppName || !lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string path = platform::ToHostPath(lpFileName);
    ProfileFile file = Load(path).value_or(ProfileFile {});
    const auto section = FindSection(file, lpAppName);
    auto& lines = file.lines;
    if (!lpKeyName) {
        if (section)
            lines.erase(lines.begin() + section->header, lines.begin() + section->end);
    } else if (!lpString) {
        if (const auto line = section ? FindKey(file, *section, lpKeyName) : std::nullopt)
            lines.erase(lines.begin() + *line);
    } else {
        const std::u16string entry = std::u16string(lpKeyName) + u"=" + lpString;
        if (!section) {
            if (!lines.empty() && !Trim(lines.back()).empty())
                lines.emplace_back();
            lines.push_back(u"[" + std::u16string(lpAppName) + u"]");
            lines.push_back(entry);
        } else if (const auto line = FindKey(file, *section, lpKeyName)) {
            lines[*line] = entry;
        } else {
            // After the section's last entry, before the blank lines that part it from the next.
            size_t end = section->end;
            while (end > section->header + 1 && Trim(lines[end - 1]).empty())
                --end;
            lines.insert(lines.begin() + end, entry);
        }
    }
    if (const int error = Save(path, file)) {
        SetLastError(error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI WritePrivateProfileStringA(
    LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    return WritePrivateProfileStringW(
        Pointer(Widen(lpAppName)), Pointer(Widen(lpKeyName)), Pointer(Widen(lpString)), Pointer(Widen(lpFileName)));
}
