#include "Script.h"

#include "Utf.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

namespace rc {

namespace {

// The largest file a resource may be read from, and the deepest nesting of includes and macros.
constexpr std::uintmax_t MaxResourceFileSize = 64 * 1024 * 1024;
constexpr int MaxNesting = 32;

constexpr uint16_t StringType = 6;
constexpr uint16_t BitmapType = 2;
constexpr uint16_t IconType = 3;
constexpr uint16_t GroupIconType = 14;

// The SDK's names that scripts use without including the SDK's headers, which are not read here.
const std::map<std::string, std::string> Predefined = {
    { "RT_CURSOR", "1" },
    { "RT_BITMAP", "2" },
    { "RT_ICON", "3" },
    { "RT_MENU", "4" },
    { "RT_DIALOG", "5" },
    { "RT_STRING", "6" },
    { "RT_FONTDIR", "7" },
    { "RT_FONT", "8" },
    { "RT_ACCELERATOR", "9" },
    { "RT_RCDATA", "10" },
    { "RT_MESSAGETABLE", "11" },
    { "RT_GROUP_CURSOR", "12" },
    { "RT_GROUP_ICON", "14" },
    { "RT_VERSION", "16" },
    { "RT_HTML", "23" },
    { "RT_MANIFEST", "24" },
    { "CREATEPROCESS_MANIFEST_RESOURCE_ID", "1" },
    { "ISOLATIONAWARE_MANIFEST_RESOURCE_ID", "2" },
    { "LANG_NEUTRAL", "0x00" },
    { "LANG_CHINESE", "0x04" },
    { "LANG_GERMAN", "0x07" },
    { "LANG_ENGLISH", "0x09" },
    { "LANG_FRENCH", "0x0c" },
    { "LANG_JAPANESE", "0x11" },
    { "SUBLANG_NEUTRAL", "0x00" },
    { "SUBLANG_DEFAULT", "0x01" },
    { "SUBLANG_SYS_DEFAULT", "0x02" },
    { "SUBLANG_ENGLISH_US", "0x01" },
    { "SUBLANG_ENGLISH_UK", "0x02" },
};

// Types whose keyword names a number; BITMAP and ICON also change what is stored.
const std::map<std::string, uint16_t> TypeKeywords = {
    { "BITMAP", BitmapType },
    { "ICON", IconType },
    { "RCDATA", 10 },
    { "MESSAGETABLE", 11 },
    { "FONT", 8 },
    { "HTML", 23 },
};

const std::set<std::string> UnsupportedStatements = { "ACCELERATORS", "CURSOR", "DIALOG", "DIALOGEX", "MENU", "MENUEX",
    "VERSIONINFO", "TEXTINCLUDE", "DESIGNINFO", "TOOLBAR", "DLGINIT" };

// The SDK's resource headers; the names that scripts take from them are predefined above.
const std::set<std::string> SdkHeaders
    = { "windows.h", "winres.h", "winresrc.h", "afxres.h", "winuser.h", "winver.h", "commctrl.h", "richedit.h" };

const std::set<std::string> MemoryOptions
    = { "PRELOAD", "LOADONCALL", "FIXED", "MOVEABLE", "DISCARDABLE", "PURE", "IMPURE", "SHARED", "NONSHARED" };

struct Token {
    enum class Kind { Identifier, Number, String, Punctuation, End } kind = Kind::End;
    std::string text; // identifier, punctuation, or the number as written
    std::u16string string; // a string's value
    uint32_t number = 0;
    std::string file;
    int line = 0;
};

std::string Upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 0x20);
    }
    return text;
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    }
    return text;
}

std::u16string Upper(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 0x20);
    }
    return text;
}

bool IsIdentifierStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsIdentifierChar(char c)
{
    return IsIdentifierStart(c) || (c >= '0' && c <= '9');
}

// Turns the lines of every file, after the preprocessor, into one stream of tokens.
class Lexer {
public:
    explicit Lexer(const std::vector<std::string>& includeDirectories)
        : m_includeDirectories(includeDirectories)
        , m_macros(Predefined.begin(), Predefined.end())
    {
    }

    enum class Mode { Script, DirectivesOnly };

    void ReadFile(const std::string& path, Mode mode, const std::string& fromFile, int fromLine, int depth)
    {
        if (depth > MaxNesting)
            throw ScriptError(fromFile, fromLine, "includes nest too deeply");
        std::ifstream stream(path, std::ios::binary);
        if (!stream)
            throw ScriptError(fromFile, fromLine, "cannot open '" + path + "': " + std::strerror(errno));
        m_inputs.push_back(path);
        std::string line;
        int number = 0;
        bool inComment = false;
        const size_t conditionals = m_active.size();
        while (std::getline(stream, line)) {
            ++number;
            if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
                line.erase(0, 3);
            // A line that ends in a backslash continues on the next.
            while (!line.empty() && line.back() == '\\') {
                std::string next;
                line.pop_back();
                if (!std::getline(stream, next))
                    break;
                ++number;
                line += next;
            }
            line = StripComments(line, inComment);
            const size_t first = line.find_first_not_of(" \t\r");
            if (first != std::string::npos && line[first] == '#') {
                Directive(line.substr(first + 1), path, number, depth);
                continue;
            }
            if (mode == Mode::Script && Active())
                Tokenize(line, path, number, m_tokens, 0);
        }
        if (m_active.size() != conditionals)
            throw ScriptError(path, number, "#if without #endif");
    }

    // A file named by a script: beside the including file, then in the include directories.
    std::string Resolve(const std::string& name, const std::string& fromFile) const
    {
        std::vector<std::filesystem::path> candidates;
        if (std::filesystem::path(name).is_absolute())
            candidates.emplace_back(name);
        else {
            candidates.push_back(std::filesystem::path(fromFile).parent_path() / name);
            for (const std::string& directory : m_includeDirectories)
                candidates.push_back(std::filesystem::path(directory) / name);
        }
        for (const auto& candidate : candidates) {
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error))
                return candidate.lexically_normal().string();
        }
        return {};
    }

    std::vector<Token>& Tokens()
    {
        return m_tokens;
    }

    std::vector<std::string>& Inputs()
    {
        return m_inputs;
    }

private:
    static std::string StripComments(const std::string& line, bool& inComment)
    {
        std::string out;
        bool inString = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (inComment) {
                if (line.compare(i, 2, "*/") == 0) {
                    inComment = false;
                    ++i;
                }
                continue;
            }
            if (!inString && line.compare(i, 2, "//") == 0)
                break;
            if (!inString && line.compare(i, 2, "/*") == 0) {
                inComment = true;
                out += ' ';
                ++i;
                continue;
            }
            if (line[i] == '"')
                inString = !inString;
            out += line[i];
        }
        return out;
    }

    bool Active() const
    {
        return m_active.empty() || m_active.back();
    }

    bool Defined(const std::string& name) const
    {
        return m_macros.count(name) != 0;
    }

    void Directive(const std::string& text, const std::string& file, int line, int depth)
    {
        size_t position = text.find_first_not_of(" \t");
        size_t end = position;
        while (end < text.size() && IsIdentifierChar(text[end]))
            ++end;
        const std::string name = position == std::string::npos ? "" : text.substr(position, end - position);
        std::string rest = end < text.size() ? text.substr(end) : "";
        const size_t restStart = rest.find_first_not_of(" \t");
        rest = restStart == std::string::npos ? "" : rest.substr(restStart);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r'))
            rest.pop_back();

        if (name == "ifdef" || name == "ifndef") {
            m_active.push_back(Active() && (Defined(rest) == (name == "ifdef")));
            m_taken.push_back(m_active.back());
        } else if (name == "if") {
            const bool value = Active() && Condition(rest, file, line);
            m_active.push_back(value);
            m_taken.push_back(value);
        } else if (name == "else") {
            if (m_active.empty())
                throw ScriptError(file, line, "#else without #if");
            const bool outer = m_active.size() < 2 || m_active[m_active.size() - 2];
            m_active.back() = outer && !m_taken.back();
        } else if (name == "endif") {
            if (m_active.empty())
                throw ScriptError(file, line, "#endif without #if");
            m_active.pop_back();
            m_taken.pop_back();
        } else if (!Active()) {
            return;
        } else if (name == "define") {
            size_t nameEnd = 0;
            while (nameEnd < rest.size() && IsIdentifierChar(rest[nameEnd]))
                ++nameEnd;
            if (nameEnd == 0)
                throw ScriptError(file, line, "#define without a name");
            // Function-like macros are C's business, not a script's.
            if (nameEnd < rest.size() && rest[nameEnd] == '(')
                return;
            m_macros[rest.substr(0, nameEnd)] = rest.substr(nameEnd);
        } else if (name == "undef") {
            m_macros.erase(rest);
        } else if (name == "include") {
            Include(rest, file, line, depth);
        } else if (name == "pragma" || name == "error" || name == "line") {
            if (name == "error")
                throw ScriptError(file, line, "#error " + rest);
        } else {
            throw ScriptError(file, line, "unknown directive #" + name);
        }
    }

    bool Condition(const std::string& text, const std::string& file, int line)
    {
        std::string expression = text;
        bool negate = false;
        if (!expression.empty() && expression[0] == '!') {
            negate = true;
            expression = expression.substr(expression.find_first_not_of(" \t", 1));
        }
        if (expression.rfind("defined", 0) == 0) {
            std::string name = expression.substr(7);
            std::erase_if(name, [](char c) { return c == '(' || c == ')' || c == ' ' || c == '\t'; });
            return Defined(name) != negate;
        }
        std::vector<Token> tokens;
        Tokenize(expression, file, line, tokens, 0);
        if (tokens.size() != 1 || tokens[0].kind != Token::Kind::Number)
            throw ScriptError(file, line, "#if needs a number, a macro or defined(NAME)");
        return (tokens[0].number != 0) != negate;
    }

    void Include(const std::string& text, const std::string& file, int line, int depth)
    {
        if (text.size() >= 2 && text.front() == '<')
            return; // the SDK's headers; their names that scripts use are predefined
        if (text.size() < 2 || text.front() != '"' || text.back() != '"')
            throw ScriptError(file, line, "#include needs a \"file\"");
        const std::string name = text.substr(1, text.size() - 2);
        const std::string found = Resolve(name, file);
        if (found.empty() && SdkHeaders.count(Lower(name)))
            return; // scripts written for Windows often include the SDK's headers in quotes
        if (found.empty())
            throw ScriptError(file, line, "cannot find include file '" + name + "'");
        const std::string extension = std::filesystem::path(found).extension().string();
        const Mode mode
            = extension == ".h" || extension == ".hpp" || extension == ".hh" ? Mode::DirectivesOnly : Mode::Script;
        ReadFile(found, mode, file, line, depth + 1);
    }

    void Tokenize(const std::string& line, const std::string& file, int number, std::vector<Token>& out, int depth)
    {
        if (depth > MaxNesting)
            throw ScriptError(file, number, "macros nest too deeply");
        size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
                continue;
            }
            Token token;
            token.file = file;
            token.line = number;
            if (c == '"' || (c == 'L' && i + 1 < line.size() && line[i + 1] == '"')) {
                i = ReadString(line, c == 'L' ? i + 1 : i, token);
            } else if (IsIdentifierStart(c)) {
                size_t end = i;
                while (end < line.size() && IsIdentifierChar(line[end]))
                    ++end;
                token.kind = Token::Kind::Identifier;
                token.text = line.substr(i, end - i);
                i = end;
                if (auto macro = m_macros.find(token.text); macro != m_macros.end()) {
                    Tokenize(macro->second, file, number, out, depth + 1);
                    continue;
                }
            } else if (c >= '0' && c <= '9') {
                size_t end = i;
                while (end < line.size() && IsIdentifierChar(line[end]))
                    ++end;
                token.kind = Token::Kind::Number;
                token.text = line.substr(i, end - i);
                token.number = ParseNumber(token.text, file, number);
                i = end;
            } else if (std::strchr(",{}()|+-~", c)) {
                token.kind = Token::Kind::Punctuation;
                token.text = std::string(1, c);
                ++i;
            } else {
                throw ScriptError(file, number, std::string("unexpected character '") + c + "'");
            }
            out.push_back(std::move(token));
        }
    }

    static uint32_t ParseNumber(const std::string& text, const std::string& file, int line)
    {
        std::string digits = text;
        while (!digits.empty()
            && (digits.back() == 'L' || digits.back() == 'l' || digits.back() == 'U' || digits.back() == 'u'))
            digits.pop_back();
        const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
        size_t used = 0;
        unsigned long value = 0;
        try {
            value = std::stoul(hex ? digits.substr(2) : digits, &used, hex ? 16 : 10);
        } catch (const std::exception&) {
            used = std::string::npos;
        }
        if (used != (hex ? digits.size() - 2 : digits.size()) || value > 0xFFFFFFFFul)
            throw ScriptError(file, line, "bad number '" + text + "'");
        return static_cast<uint32_t>(value);
    }

    // A quoted string from its opening quote; returns the index after the closing one. A quote
    // is written "" inside; the C escapes \n \t \r \a \\ \" \0 \ooo and \xhhhh are understood.
    static size_t ReadString(const std::string& line, size_t open, Token& token)
    {
        token.kind = Token::Kind::String;
        std::string bytes;
        size_t i = open + 1;
        while (true) {
            if (i >= line.size())
                throw ScriptError(token.file, token.line, "string without its closing quote");
            const char c = line[i];
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    bytes += '"';
                    i += 2;
                    continue;
                }
                break;
            }
            if (c != '\\' || i + 1 >= line.size()) {
                bytes += c;
                ++i;
                continue;
            }
            const char e = line[++i];
            ++i;
            switch (e) {
            case 'n':
                bytes += '\n';
                break;
            case 't':
                bytes += '\t';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 'a':
                bytes += '\a';
                break;
            case 'x':
            case 'X': {
                unsigned value = 0;
                size_t count = 0;
                while (count < 4 && i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i]))) {
                    value = value * 16 + std::stoul(std::string(1, line[i]), nullptr, 16);
                    ++i;
                    ++count;
                }
                Flush(bytes, token.string);
                token.string += static_cast<char16_t>(value);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned value = e - '0';
                    for (size_t count = 1; count < 3 && i < line.size() && line[i] >= '0' && line[i] <= '7'; ++count)
                        value = value * 8 + (line[i++] - '0');
                    Flush(bytes, token.string);
                    token.string += static_cast<char16_t>(value);
                } else {
                    bytes += e; // \\ and \" and any other escaped character stand for themselves
                }
                break;
            }
        }
        Flush(bytes, token.string);
        return i + 1;
    }

    static void Flush(std::string& bytes, std::u16string& string)
    {
        string += platform::FromUtf8(bytes);
        bytes.clear();
    }

    std::vector<std::string> m_includeDirectories;
    std::map<std::string, std::string> m_macros;
    std::vector<bool> m_active;
    std::vector<bool> m_taken;
    std::vector<Token> m_tokens;
    std::vector<std::string> m_inputs;
};

uint16_t Word(const std::vector<unsigned char>& bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t Dword(const std::vector<unsigned char>& bytes, size_t at)
{
    return Word(bytes, at) | static_cast<uint32_t>(Word(bytes, at + 2)) << 16;
}

void PutWord(std::vector<unsigned char>& bytes, uint16_t value)
{
    bytes.push_back(static_cast<unsigned char>(value & 0xFF));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
}

// Reads the statements of a script from its tokens.
class Parser {
public:
    Parser(Lexer& lexer, Script& script)
        : m_lexer(lexer)
        , m_tokens(lexer.Tokens())
        , m_script(script)
    {
    }

    void Run()
    {
        while (Peek().kind != Token::Kind::End) {
            const Token& token = Peek();
            const std::string keyword = token.kind == Token::Kind::Identifier ? Upper(token.text) : "";
            if (keyword == "LANGUAGE") {
                Next();
                m_language = ReadLanguage();
            } else if (keyword == "STRINGTABLE") {
                Next();
                ReadStringTable();
            } else {
                ReadFileResource();
            }
        }
        EmitStrings();
    }

private:
    const Token& Peek() const
    {
        static const Token end;
        if (m_position < m_tokens.size())
            return m_tokens[m_position];
        return end;
    }

    const Token& Next()
    {
        const Token& token = Peek();
        if (token.kind == Token::Kind::End)
            Fail("unexpected end of the script");
        ++m_position;
        return token;
    }

    [[noreturn]] void Fail(const std::string& message) const
    {
        const Token& at = m_position < m_tokens.size() ? m_tokens[m_position]
            : m_tokens.empty()                         ? Peek()
                                                       : m_tokens.back();
        throw ScriptError(at.file.empty() ? ScriptPath() : at.file, at.line, message);
    }

    std::string ScriptPath() const
    {
        return m_lexer.Inputs().empty() ? std::string() : m_lexer.Inputs().front();
    }

    bool IsPunctuation(const Token& token, char c) const
    {
        return token.kind == Token::Kind::Punctuation && token.text[0] == c;
    }

    bool IsBegin(const Token& token) const
    {
        return IsPunctuation(token, '{') || (token.kind == Token::Kind::Identifier && Upper(token.text) == "BEGIN");
    }

    bool IsEnd(const Token& token) const
    {
        return IsPunctuation(token, '}') || (token.kind == Token::Kind::Identifier && Upper(token.text) == "END");
    }

    // A number, or a sum, difference or union of numbers, with parentheses and ~.
    uint32_t ReadExpression()
    {
        uint32_t value = ReadTerm();
        while (IsPunctuation(Peek(), '+') || IsPunctuation(Peek(), '-') || IsPunctuation(Peek(), '|')) {
            const char op = Next().text[0];
            const uint32_t right = ReadTerm();
            value = op == '+' ? value + right : op == '-' ? value - right : value | right;
        }
        return value;
    }

    uint32_t ReadTerm()
    {
        const Token& token = Next();
        if (token.kind == Token::Kind::Number)
            return token.number;
        if (IsPunctuation(token, '-'))
            return 0u - ReadTerm();
        if (IsPunctuation(token, '~'))
            return ~ReadTerm();
        if (IsPunctuation(token, '(')) {
            const uint32_t value = ReadExpression();
            if (!IsPunctuation(Next(), ')'))
                Fail("')' expected");
            return value;
        }
        --m_position;
        Fail(token.kind == Token::Kind::Identifier ? "'" + token.text + "' is not defined" : "number expected");
    }

    uint16_t ReadWord(const char* what)
    {
        const uint32_t value = ReadExpression();
        if (value > 0xFFFF)
            Fail(std::string(what) + " out of range");
        return static_cast<uint16_t>(value);
    }

    uint16_t ReadLanguage()
    {
        const uint16_t primary = ReadWord("language");
        if (!IsPunctuation(Next(), ','))
            Fail("',' expected between language and sublanguage");
        const uint16_t sub = ReadWord("sublanguage");
        if (primary > 0x3FF || sub > 0x3F)
            Fail("language out of range");
        return static_cast<uint16_t>(sub << 10 | primary);
    }

    // A name or type: a number, a quoted name, or a word that no macro defines.
    Id ReadId(const char* what)
    {
        const Token& token = Peek();
        Id id;
        if (token.kind == Token::Kind::String) {
            Next();
            id.name = Upper(token.string);
            if (id.name.empty())
                Fail(std::string("empty ") + what);
        } else if (token.kind == Token::Kind::Identifier) {
            Next();
            id.name = platform::FromUtf8(Upper(token.text));
        } else {
            id.number = ReadWord(what);
        }
        return id;
    }

    void SkipMemoryOptions()
    {
        while (Peek().kind == Token::Kind::Identifier && MemoryOptions.count(Upper(Peek().text)))
            Next();
    }

    void ReadStringTable()
    {
        uint16_t language = m_language;
        while (!IsBegin(Peek())) {
            const Token& option = Next();
            const std::string keyword = option.kind == Token::Kind::Identifier ? Upper(option.text) : "";
            if (keyword == "LANGUAGE") {
                language = ReadLanguage();
            } else if (keyword == "CHARACTERISTICS" || keyword == "VERSION") {
                ReadExpression();
            } else if (!MemoryOptions.count(keyword)) {
                --m_position;
                Fail("BEGIN expected after STRINGTABLE");
            }
        }
        Next();
        while (!IsEnd(Peek())) {
            const Token& at = Peek();
            const uint16_t id = ReadWord("string id");
            if (IsPunctuation(Peek(), ','))
                Next();
            if (Peek().kind != Token::Kind::String)
                Fail("string expected after the id");
            std::u16string text;
            while (Peek().kind == Token::Kind::String)
                text += Next().string;
            auto& block = m_strings[{ language, static_cast<uint16_t>(id / 16 + 1) }];
            if (block[id % 16])
                throw ScriptError(at.file, at.line, "string " + std::to_string(id) + " is defined twice");
            block[id % 16] = text;
        }
        Next();
    }

    // Strings are stored as Windows stores them: in blocks of 16 under the name id / 16 + 1, each
    // string as its length in a WORD and its UTF-16 characters, missing strings as length 0.
    void EmitStrings()
    {
        for (const auto& [key, block] : m_strings) {
            Resource resource { Id { {}, StringType }, Id { {}, key.second }, key.first, {} };
            for (const auto& text : block) {
                const std::u16string value = text.value_or(u"");
                PutWord(resource.data, static_cast<uint16_t>(value.size()));
                for (char16_t c : value)
                    PutWord(resource.data, c);
            }
            Add(std::move(resource));
        }
    }

    void ReadFileResource()
    {
        const Token& first = Peek();
        if (first.kind == Token::Kind::Identifier && UnsupportedStatements.count(Upper(first.text)))
            Fail("'" + first.text + "' resources are not supported");
        const Id name = ReadId("resource name");
        const Token& typeToken = Peek();
        if (typeToken.kind == Token::Kind::Identifier && UnsupportedStatements.count(Upper(typeToken.text)))
            Fail("'" + typeToken.text + "' resources are not supported");
        if (typeToken.kind == Token::Kind::End)
            Fail("resource type expected");
        Id type = ReadId("resource type");
        const std::string typeName = platform::ToUtf8(type.name);
        const auto keyword = TypeKeywords.find(typeName);
        if (keyword != TypeKeywords.end())
            type = Id { {}, keyword->second };
        uint16_t language = m_language;
        SkipMemoryOptions();
        if (Peek().kind == Token::Kind::Identifier && Upper(Peek().text) == "LANGUAGE") {
            Next();
            language = ReadLanguage();
        }
        if (IsBegin(Peek()))
            Fail("inline resource data is not supported; name a file");
        if (Peek().kind != Token::Kind::String)
            Fail("file name expected");
        const Token& fileToken = Next();
        const std::string fileName = platform::ToUtf8(fileToken.string);
        std::vector<unsigned char> data = ReadResourceFile(fileName, fileToken);
        if (keyword != TypeKeywords.end() && keyword->second == BitmapType)
            data = BitmapData(data, fileToken);
        if (keyword != TypeKeywords.end() && keyword->second == IconType) {
            AddIconGroup(name, language, data, fileToken);
            return;
        }
        Add(Resource { type, name, language, std::move(data) });
    }

    std::vector<unsigned char> ReadResourceFile(const std::string& name, const Token& at)
    {
        const std::string path = m_lexer.Resolve(name, at.file);
        if (path.empty())
            throw ScriptError(at.file, at.line, "cannot find resource file '" + name + "'");
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        if (error || size > MaxResourceFileSize)
            throw ScriptError(at.file, at.line, "cannot read resource file '" + path + "'");
        std::ifstream stream(path, std::ios::binary);
        std::vector<unsigned char> data(static_cast<size_t>(size));
        if (!stream || !stream.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size)))
            throw ScriptError(at.file, at.line, "cannot read resource file '" + path + "': " + std::strerror(errno));
        m_lexer.Inputs().push_back(path);
        return data;
    }

    // A bitmap resource is the file without its 14-byte file header.
    static std::vector<unsigned char> BitmapData(const std::vector<unsigned char>& file, const Token& at)
    {
        constexpr size_t FileHeaderSize = 14;
        if (file.size() <= FileHeaderSize || file[0] != 'B' || file[1] != 'M')
            throw ScriptError(at.file, at.line, "not a bitmap file");
        return std::vector<unsigned char>(file.begin() + FileHeaderSize, file.end());
    }

    // An icon file becomes one RT_ICON per image, numbered through the module, and an
    // RT_GROUP_ICON under the given name that lists them.
    void AddIconGroup(const Id& name, uint16_t language, const std::vector<unsigned char>& file, const Token& at)
    {
        constexpr size_t HeaderSize = 6;
        constexpr size_t EntrySize = 16;
        if (file.size() < HeaderSize || Word(file, 0) != 0 || Word(file, 2) != 1)
            throw ScriptError(at.file, at.line, "not an icon file");
        const size_t count = Word(file, 4);
        if (count == 0 || file.size() < HeaderSize + count * EntrySize)
            throw ScriptError(at.file, at.line, "icon file is truncated");
        Resource group { Id { {}, GroupIconType }, name, language, {} };
        PutWord(group.data, 0);
        PutWord(group.data, 1);
        PutWord(group.data, static_cast<uint16_t>(count));
        for (size_t i = 0; i < count; ++i) {
            const size_t entry = HeaderSize + i * EntrySize;
            const uint32_t size = Dword(file, entry + 8);
            const uint32_t offset = Dword(file, entry + 12);
            if (offset > file.size() || size > file.size() - offset)
                throw ScriptError(at.file, at.line, "icon file is truncated");
            if (m_nextIconId == 0xFFFF)
                throw ScriptError(at.file, at.line, "too many icon images");
            const uint16_t id = m_nextIconId++;
            group.data.insert(group.data.end(), file.begin() + entry, file.begin() + entry + 12);
            PutWord(group.data, id);
            Add(Resource { Id { {}, IconType }, Id { {}, id }, language,
                std::vector<unsigned char>(file.begin() + offset, file.begin() + offset + size) });
        }
        Add(std::move(group));
    }

    void Add(Resource resource)
    {
        for (const Resource& existing : m_script.resources) {
            if (existing.type == resource.type && existing.name == resource.name
                && existing.language == resource.language)
                Fail("resource '" + Describe(resource.name) + "' of type '" + Describe(resource.type)
                    + "' is defined twice");
        }
        m_script.resources.push_back(std::move(resource));
    }

    static std::string Describe(const Id& id)
    {
        return id.name.empty() ? std::to_string(id.number) : platform::ToUtf8(id.name);
    }

    Lexer& m_lexer;
    std::vector<Token>& m_tokens;
    Script& m_script;
    size_t m_position = 0;
    uint16_t m_language = 0;
    uint16_t m_nextIconId = 1;
    std::map<std::pair<uint16_t, uint16_t>, std::array<std::optional<std::u16string>, 16>> m_strings;
};

}

Script ReadScript(const std::string& path, const std::vector<std::string>& includeDirectories)
{
    Script script;
    Lexer lexer(includeDirectories);
    lexer.ReadFile(path, Lexer::Mode::Script, path, 0, 0);
    Parser(lexer, script).Run();
    script.inputs = lexer.Inputs();
    return script;
}

}
