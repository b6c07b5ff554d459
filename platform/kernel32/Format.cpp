// wsprintfW and wvsprintfW: the formatting of Windows' user32, which has no floating point and
// writes at most 1024 characters, terminator included.
#include "winuser.h"

#include "CodePage.h"

#include <algorithm>
#include <optional>
#include <string>

namespace {

constexpr size_t MaxOutput = 1024;

enum class Width { Default, Narrow, Wide, Long64 };

struct Spec {
    bool left = false;
    bool zero = false;
    bool prefix = false;
    size_t width = 0;
    std::optional<size_t> precision;
    Width size = Width::Default;
};

// Output bounded to the buffer's limit; what does not fit is dropped.
class Output {
public:
    explicit Output(LPWSTR buffer)
        : m_buffer(buffer)
    {
    }

    void Put(char16_t c)
    {
        if (m_length + 1 < MaxOutput)
            m_buffer[m_length++] = c;
    }

    void Put(std::u16string_view text)
    {
        for (char16_t c : text)
            Put(c);
    }

    // A field: padding on the side the flags say; zero padding goes after a sign or prefix.
    void Field(const Spec& spec, std::u16string_view lead, std::u16string_view body, bool zeroPadding)
    {
        const size_t length = lead.size() + body.size();
        const size_t padding = spec.width > length ? spec.width - length : 0;
        if (!spec.left && !zeroPadding)
            Pad(u' ', padding);
        Put(lead);
        if (!spec.left && zeroPadding)
            Pad(u'0', padding);
        Put(body);
        if (spec.left)
            Pad(u' ', padding);
    }

    int Finish()
    {
        m_buffer[m_length] = 0;
        return static_cast<int>(m_length);
    }

private:
    void Pad(char16_t c, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            Put(c);
    }

    LPWSTR m_buffer;
    size_t m_length = 0;
};

std::u16string Digits(unsigned long long value, unsigned base, bool upper, std::optional<size_t> precision)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string text;
    while (value) {
        text.insert(text.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    }
    const size_t minimum = precision.value_or(1);
    if (text.size() < minimum)
        text.insert(0, minimum - text.size(), u'0');
    return text;
}

}

extern "C" int WINAPI wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist)
{
    if (!lpOut || !lpFmt)
        return -1;
    Output out(lpOut);
    va_list args;
    va_copy(args, arglist);
    for (const char16_t* p = lpFmt; *p; ++p) {
        if (*p != u'%') {
            out.Put(*p);
            continue;
        }
        ++p;
        Spec spec;
        for (;; ++p) {
            if (*p == u'-')
                spec.left = true;
            else if (*p == u'0')
                spec.zero = true;
            else if (*p == u'#')
                spec.prefix = true;
            else
                break;
        }
        for (; *p >= u'0' && *p <= u'9'; ++p)
            spec.width = std::min<size_t>(spec.width * 10 + (*p - u'0'), MaxOutput);
        if (*p == u'.') {
            spec.precision = 0;
            for (++p; *p >= u'0' && *p <= u'9'; ++p)
                spec.precision = std::min<size_t>(*spec.precision * 10 + (*p - u'0'), MaxOutput);
        }
        if (*p == u'l' || *p == u'L' || *p == u'w') {
            spec.size = Width::Wide;
            ++p;
        } else if (*p == u'h') {
            spec.size = Width::Narrow;
            ++p;
        } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            spec.size = Width::Long64;
            p += 3;
        }
        const bool long64 = spec.size == Width::Long64;
        switch (*p) {
        case u'd':
        case u'i': {
            const long long value = long64 ? va_arg(args, long long) : va_arg(args, int);
            const unsigned long long magnitude
                = value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
            out.Field(spec, value < 0 ? u"-" : u"", Digits(magnitude, 10, false, spec.precision),
                spec.zero && !spec.precision);
            break;
        }
        case u'u':
        case u'x':
        case u'X': {
            const unsigned long long value = long64 ? va_arg(args, unsigned long long) : va_arg(args, unsigned int);
            const bool hex = *p != u'u';
            const std::u16string_view lead = hex && spec.prefix && value ? (*p == u'x' ? u"0x" : u"0X") : u"";
            out.Field(
                spec, lead, Digits(value, hex ? 16 : 10, *p == u'X', spec.precision), spec.zero && !spec.precision);
            break;
        }
        case u'p':
            spec.precision = sizeof(void*) * 2;
            out.Field(
                spec, u"", Digits(reinterpret_cast<UINT_PTR>(va_arg(args, void*)), 16, true, spec.precision), false);
            break;
        case u'c':
        case u'C': {
            const bool narrow = spec.size == Width::Narrow || (*p == u'C' && spec.size != Width::Wide);
            const int value = va_arg(args, int);
            const char byte = static_cast<char>(value);
            const std::u16string text
                = narrow ? platform::AnsiToWide(std::string_view(&byte, 1)) : std::u16string(1, char16_t(value));
            out.Field(spec, u"", text, false);
            break;
        }
        case u's':
        case u'S': {
            const bool narrow = spec.size == Width::Narrow || (*p == u'S' && spec.size != Width::Wide);
            std::u16string text;
            if (narrow) {
                const char* value = va_arg(args, const char*);
                text = value ? platform::AnsiToWide(value) : u"(null)";
            } else {
                const char16_t* value = va_arg(args, const char16_t*);
                text = value ? std::u16string(value) : u"(null)";
            }
            if (spec.precision && text.size() > *spec.precision)
                text.resize(*spec.precision);
            out.Field(spec, u"", text, false);
            break;
        }
        case 0:
            --p; // a lone '%' at the end writes nothing
            break;
        default:
            out.Put(*p); // "%%" and unknown types write the character itself
            break;
        }
    }
    va_end(args);
    return out.Finish();
}

extern "C" int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list args;
    va_start(args, lpFmt);
    const int result = wvsprintfW(lpOut, lpFmt, args);
    va_end(args);
    return result;
}
