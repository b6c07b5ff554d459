// _wsplitpath_s and _wmakepath_s, the C runtime's secure path splitting and joining.
#include "wincrt.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace {

bool IsSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

// An output buffer: null with size 0 means the caller does not want that part.
struct Part {
    WCHAR* buffer;
    size_t size;

    bool Consistent() const
    {
        return (buffer == nullptr) == (size == 0);
    }

    void Clear() const
    {
        if (buffer)
            buffer[0] = 0;
    }

    bool Fits(std::u16string_view text) const
    {
        return !buffer || text.size() < size;
    }

    void Store(std::u16string_view text) const
    {
        if (!buffer)
            return;
        text.copy(buffer, text.size());
        buffer[text.size()] = 0;
    }
};

errno_t Fail(errno_t error)
{
    errno = error;
    return error;
}

}

extern "C" errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveNumberOfElements, WCHAR* dir,
    size_t dirNumberOfElements, WCHAR* fname, size_t nameNumberOfElements, WCHAR* ext, size_t extNumberOfElements)
{
    const Part parts[] = { { drive, driveNumberOfElements }, { dir, dirNumberOfElements },
        { fname, nameNumberOfElements }, { ext, extNumberOfElements } };
    const bool consistent
        = std::all_of(std::begin(parts), std::end(parts), [](const Part& p) { return p.Consistent(); });
    if (!path || !consistent) {
        for (const Part& part : parts)
            part.Clear();
        return Fail(EINVAL);
    }
    std::u16string_view rest(path);
    std::u16string_view texts[4];
    if (rest.size() >= 2 && rest[1] == u':') {
        texts[0] = rest.substr(0, 2);
        rest.remove_prefix(2);
    }
    size_t nameStart = 0;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (IsSeparator(rest[i]))
            nameStart = i + 1;
    }
    texts[1] = rest.substr(0, nameStart);
    rest.remove_prefix(nameStart);
    const size_t dot = rest.rfind(u'.');
    texts[2] = rest.substr(0, dot);
    texts[3] = dot == std::u16string_view::npos ? std::u16string_view() : rest.substr(dot);
    for (size_t i = 0; i < 4; ++i) {
        if (!parts[i].Fits(texts[i])) {
            for (const Part& part : parts)
                part.Clear();
            return Fail(ERANGE);
        }
    }
    for (size_t i = 0; i < 4; ++i)
        parts[i].Store(texts[i]);
    return 0;
}

extern "C" errno_t _wmakepath_s(
    WCHAR* path, size_t sizeInWords, const WCHAR* drive, const WCHAR* dir, const WCHAR* fname, const WCHAR* ext)
{
    if (!path || sizeInWords == 0)
        return Fail(EINVAL);
    std::u16string result;
    if (drive && *drive) {
        result += drive[0];
        result += u':';
    }
    if (dir && *dir) {
        const std::u16string_view directory(dir);
        result += directory;
        if (!IsSeparator(directory.back()))
            result += directory.find(u'/') != std::u16string_view::npos ? u'/' : u'\\';
    }
    if (fname)
        result += fname;
    if (ext && *ext) {
        if (ext[0] != u'.')
            result += u'.';
        result += ext;
    }
    if (result.size() >= sizeInWords) {
        path[0] = 0;
        return Fail(ERANGE);
    }
    Part { path, sizeInWords }.Store(result);
    return 0;
}
