// reg: reads and changes the registry from the command line, in the manner of Windows' reg.exe.
//
//   reg query KEY [/v NAME | /ve] [/s]
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//
// KEY starts with a root: HKLM, HKCU, HKCR, HKU or their long names. Results go to standard
// output in UTF-8; failures print "ERROR: ..." on standard error and exit with 1. Overwriting a
// value or deleting asks for confirmation on a terminal; elsewhere it needs /f.
#include "winreg.h"

#include "Utf.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* NotFound = "The system was unable to find the specified registry key or value.";
constexpr const char* Usage = R"(REG QUERY KEY [/v NAME | /ve] [/s]
REG ADD KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
REG DELETE KEY [/v NAME | /ve | /va] [/f]

  KEY   ROOT\SubKey, ROOT one of HKLM, HKCU, HKCR, HKU
  TYPE  REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE
)";
// How deep /s descends: deeper than any registry path can be.
constexpr int MaxDepth = 512;
// The registry's limits: the largest value data and the longest value name.
constexpr DWORD MaxValueBytes = 1 << 20;
constexpr DWORD MaxValueNameChars = 16383;

// A failure to report: the message after "ERROR: ".
struct Failure {
    std::string message;
};

struct Root {
    const char* shortName;
    const char* longName;
    HKEY key;
};

const Root Roots[] = {
    { "HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE },
    { "HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER },
    { "HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT },
    { "HKU", "HKEY_USERS", HKEY_USERS },
};

struct TypeName {
    const char* name;
    DWORD type;
};

constexpr TypeName Types[] = {
    { "REG_NONE", REG_NONE },
    { "REG_SZ", REG_SZ },
    { "REG_EXPAND_SZ", REG_EXPAND_SZ },
    { "REG_BINARY", REG_BINARY },
    { "REG_DWORD", REG_DWORD },
    { "REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN },
    { "REG_MULTI_SZ", REG_MULTI_SZ },
    { "REG_QWORD", REG_QWORD },
};

std::string Upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string TypeText(DWORD type)
{
    for (const TypeName& known : Types) {
        if (known.type == type)
            return known.name;
    }
    char text[16];
    std::snprintf(text, sizeof(text), "0x%x", type);
    return text;
}

std::string ErrorText(LSTATUS status)
{
    switch (status) {
    case ERROR_FILE_NOT_FOUND:
        return NotFound;
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    default:
        return "The registry call failed with error " + std::to_string(status) + ".";
    }
}

void Check(LSTATUS status)
{
    if (status != ERROR_SUCCESS)
        throw Failure { ErrorText(status) };
}

// A key named on the command line: its root, the path below it and the path as printed.
struct KeyName {
    HKEY root = nullptr;
    std::u16string subKey;
    std::string display;
};

KeyName ParseKey(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\\')
        trimmed.pop_back();
    const size_t slash = trimmed.find('\\');
    const std::string rootName = Upper(trimmed.substr(0, slash));
    for (const Root& root : Roots) {
        if (rootName == root.shortName || rootName == root.longName) {
            KeyName key;
            key.root = root.key;
            key.display = root.longName;
            if (slash != std::string::npos) {
                key.subKey = platform::FromUtf8(trimmed.substr(slash + 1));
                key.display += trimmed.substr(slash);
            }
            return key;
        }
    }
    throw Failure { "Invalid key name." };
}

class OpenedKey {
public:
    OpenedKey(HKEY root, const std::u16string& subKey, REGSAM access)
    {
        Check(RegOpenKeyExW(root, subKey.c_str(), 0, access, &m_key));
    }
    explicit OpenedKey(HKEY key)
        : m_key(key)
    {
    }
    ~OpenedKey()
    {
        RegCloseKey(m_key);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    operator HKEY() const
    {
        return m_key;
    }

private:
    HKEY m_key = nullptr;
};

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::string data;
};

std::optional<Value> ReadValue(HKEY key, const std::u16string& name)
{
    Value value { name, REG_NONE, {} };
    // The size first; another process may change the value between the calls, so ask again
    // when it has grown.
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size);
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        if (size > MaxValueBytes)
            throw Failure { "The value " + platform::ToUtf8(name) + " is larger than the registry allows." };
        value.data.resize(size);
        status = RegQueryValueExW(
            key, name.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()), &size);
        if (status == ERROR_SUCCESS) {
            value.data.resize(size);
            return value;
        }
    }
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    Check(status);
    return std::nullopt;
}

std::vector<Value> ReadValues(HKEY key)
{
    std::vector<Value> values;
    std::u16string name(MaxValueNameChars + 1, u'\0');
    for (DWORD index = 0;; ++index) {
        DWORD chars = static_cast<DWORD>(name.size());
        const LSTATUS status = RegEnumValueW(key, index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return values;
        Check(status);
        if (std::optional<Value> value = ReadValue(key, name.substr(0, chars)))
            values.push_back(std::move(*value));
    }
}

std::vector<std::u16string> ReadSubkeys(HKEY key)
{
    std::vector<std::u16string> names;
    char16_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 256;
        const LSTATUS status = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return names;
        Check(status);
        names.emplace_back(name, chars);
    }
}

std::string Hex(std::string_view bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : bytes) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0xF];
    }
    return text;
}

std::u16string Wide(std::string_view bytes)
{
    return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
}

std::string DataText(const Value& value)
{
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const std::u16string text = Wide(value.data);
        return platform::ToUtf8(text.substr(0, text.find(u'\0')));
    }
    case REG_MULTI_SZ: {
        std::u16string text = Wide(value.data);
        while (!text.empty() && text.back() == u'\0')
            text.pop_back();
        std::string joined;
        for (char16_t c : text)
            joined += c == u'\0' ? std::string("\\0") : platform::ToUtf8(std::u16string_view(&c, 1));
        return joined;
    }
    case REG_DWORD:
    case REG_QWORD:
        if (value.data.size() == 4 || value.data.size() == 8) {
            unsigned long long number = 0;
            for (size_t i = value.data.size(); i-- > 0;)
                number = (number << 8) | static_cast<unsigned char>(value.data[i]);
            char text[24];
            std::snprintf(text, sizeof(text), "0x%llx", number);
            return text;
        }
        return Hex(value.data);
    default:
        return Hex(value.data);
    }
}

std::string ValueLine(const Value& value)
{
    const std::string name = value.name.empty() ? "(Default)" : platform::ToUtf8(value.name);
    return "    " + name + "    " + TypeText(value.type) + "    " + DataText(value);
}

// Asks on a terminal; without one, the caller must have said /f.
bool Confirm(const std::string& question)
{
    if (!isatty(STDIN_FILENO))
        return false;
    for (;;) {
        std::cout << question << " (Yes/No)? " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer))
            return false;
        answer = Upper(answer);
        if (answer == "Y" || answer == "YES")
            return true;
        if (answer == "N" || answer == "NO")
            return false;
    }
}

struct Options {
    std::optional<std::string> valueName; // /v NAME, or "" for /ve
    bool allValues = false; // /va
    bool recursive = false; // /s in query
    bool force = false; // /f
    std::optional<std::string> type; // /t
    std::optional<std::string> data; // /d
    std::string separator = "\\0"; // /s in add
};

enum class Command { Query, Add, Delete };

Options ParseOptions(Command command, const std::vector<std::string>& arguments)
{
    Options options;
    const auto next = [&](size_t& i) -> const std::string& {
        if (i + 1 >= arguments.size())
            throw Failure { "Invalid syntax: " + arguments[i] + " needs a value." };
        return arguments[++i];
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string option = Upper(arguments[i]);
        if (!option.empty() && option[0] == '-')
            option[0] = '/';
        if (option == "/V" && !options.valueName)
            options.valueName = next(i);
        else if (option == "/VE" && !options.valueName)
            options.valueName = "";
        else if (option == "/VA" && command == Command::Delete)
            options.allValues = true;
        else if (option == "/F" && command != Command::Query)
            options.force = true;
        else if (option == "/S" && command == Command::Query)
            options.recursive = true;
        else if (option == "/S" && command == Command::Add)
            options.separator = next(i);
        else if (option == "/T" && command == Command::Add)
            options.type = Upper(next(i));
        else if (option == "/D" && command == Command::Add)
            options.data = next(i);
        else
            throw Failure { "Invalid syntax: unexpected " + arguments[i] + "." };
    }
    if (options.allValues && options.valueName)
        throw Failure { "Invalid syntax: /va excludes /v and /ve." };
    return options;
}

// Prints the key's block; with recursive set, then those of all keys below it.
int PrintKey(HKEY key, const std::string& display, const std::optional<std::u16string>& only, bool recursive, int depth)
{
    int matches = 0;
    std::vector<std::string> lines;
    if (only) {
        if (std::optional<Value> value = ReadValue(key, *only))
            lines.push_back(ValueLine(*value));
        else if (only->empty() && !recursive)
            lines.push_back("    (Default)    REG_SZ    (value not set)");
    } else {
        for (const Value& value : ReadValues(key))
            lines.push_back(ValueLine(value));
    }
    if (!only || !lines.empty()) {
        std::cout << "\n" << display << "\n";
        for (const std::string& line : lines)
            std::cout << line << "\n";
        matches += static_cast<int>(lines.size());
    }
    const std::vector<std::u16string> subkeys = ReadSubkeys(key);
    if (!recursive) {
        if (!only && !subkeys.empty()) {
            std::cout << "\n";
            for (const std::u16string& name : subkeys)
                std::cout << display << "\\" << platform::ToUtf8(name) << "\n";
        }
        return matches;
    }
    if (depth >= MaxDepth)
        return matches;
    for (const std::u16string& name : subkeys) {
        OpenedKey sub(key, name, KEY_READ);
        matches += PrintKey(sub, display + "\\" + platform::ToUtf8(name), only, recursive, depth + 1);
    }
    return matches;
}

int Query(const KeyName& name, const Options& options)
{
    OpenedKey key(name.root, name.subKey, KEY_READ);
    std::optional<std::u16string> only;
    if (options.valueName)
        only = platform::FromUtf8(*options.valueName);
    const int matches = PrintKey(key, name.display, only, options.recursive, 0);
    if (only && options.recursive) {
        std::cout << "End of search: " << matches << " match(es) found.\n";
    } else if (only && matches == 0 && !only->empty()) {
        throw Failure { NotFound };
    }
    if (!options.recursive || !only)
        std::cout << "\n";
    return 0;
}

DWORD ParseType(const std::optional<std::string>& text)
{
    if (!text)
        return REG_SZ;
    for (const TypeName& known : Types) {
        if (*text == known.name && known.type != REG_DWORD_BIG_ENDIAN)
            return known.type;
    }
    throw Failure { "Invalid type " + *text + "." };
}

std::string Bytes(std::u16string_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

std::string EncodeData(DWORD type, const std::string& text, const std::string& separator)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return Bytes(platform::FromUtf8(text)) + std::string(2, '\0');
    case REG_MULTI_SZ: {
        std::string data;
        size_t at = 0;
        while (!text.empty() && at <= text.size()) {
            const size_t end = separator.empty() ? std::string::npos : text.find(separator, at);
            data += Bytes(platform::FromUtf8(text.substr(at, end == std::string::npos ? end : end - at)));
            data += std::string(2, '\0');
            if (end == std::string::npos)
                break;
            at = end + separator.size();
        }
        return data + std::string(2, '\0');
    }
    case REG_DWORD:
    case REG_QWORD: {
        const std::string digits = text.empty() ? "0" : text;
        size_t used = 0;
        unsigned long long number = 0;
        try {
            number = std::stoull(digits, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        const unsigned long long limit = type == REG_DWORD ? 0xFFFFFFFFull : ~0ull;
        if (used != digits.size() || digits[0] == '-' || number > limit)
            throw Failure { "Invalid number " + text + " for " + TypeText(type) + "." };
        std::string data(reinterpret_cast<const char*>(&number), type == REG_DWORD ? 4 : 8);
        return data;
    }
    default: {
        if (text.size() % 2)
            throw Failure { "Invalid hexadecimal data " + text + "." };
        std::string data;
        for (size_t i = 0; i < text.size(); i += 2) {
            const std::string pair = text.substr(i, 2);
            if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                throw Failure { "Invalid hexadecimal data " + text + "." };
            data += static_cast<char>(std::stoi(pair, nullptr, 16));
        }
        return data;
    }
    }
}

int Add(const KeyName& name, const Options& options)
{
    const DWORD type = ParseType(options.type);
    const std::string data = EncodeData(type, options.data.value_or(""), options.separator);
    HKEY created = nullptr;
    Check(RegCreateKeyExW(name.root, name.subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
        &created, nullptr));
    OpenedKey key(created);
    if (options.valueName) {
        const std::u16string valueName = platform::FromUtf8(*options.valueName);
        if (ReadValue(key, valueName) && !options.force) {
            const std::string shown = valueName.empty() ? "(Default)" : *options.valueName;
            if (!Confirm("Value " + shown + " exists, overwrite"))
                throw Failure { "Value " + shown + " exists; give /f to overwrite it without asking." };
        }
        Check(RegSetValueExW(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
            static_cast<DWORD>(data.size())));
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
}

int Delete(const KeyName& name, const Options& options)
{
    if (!options.valueName && !options.allValues) {
        if (name.subKey.empty())
            throw Failure { "Invalid key name: a root cannot be deleted." };
        OpenedKey exists(name.root, name.subKey, KEY_READ);
        if (!options.force && !Confirm("Permanently delete the registry key " + name.display))
            throw Failure { "Deleting " + name.display + " needs confirmation; give /f to delete without asking." };
        Check(RegDeleteTreeW(name.root, name.subKey.c_str()));
    } else {
        OpenedKey key(name.root, name.subKey, KEY_ALL_ACCESS);
        std::vector<std::u16string> names;
        if (options.allValues) {
            for (const Value& value : ReadValues(key))
                names.push_back(value.name);
        } else {
            names.push_back(platform::FromUtf8(*options.valueName));
            if (!ReadValue(key, names[0]))
                throw Failure { NotFound };
        }
        const std::string what = options.allValues ? std::string("all values under ") + name.display
            : names[0].empty()                     ? std::string("the default value")
                                                   : "the registry value " + *options.valueName;
        if (!options.force && !Confirm("Delete " + what))
            throw Failure { "Deleting " + what + " needs confirmation; give /f to delete without asking." };
        for (const std::u16string& valueName : names)
            Check(RegDeleteValueW(key, valueName.c_str()));
    }
    std::cout << "The operation completed successfully.\n";
    return 0;
}

int Run(const std::vector<std::string>& arguments)
{
    if (arguments.size() == 1 && (arguments[0] == "/?" || arguments[0] == "-?")) {
        std::cout << Usage;
        return 0;
    }
    if (arguments.size() < 2)
        throw Failure { "Invalid syntax.\nType \"REG /?\" for usage." };
    const std::string verb = Upper(arguments[0]);
    const Command command = verb == "QUERY" ? Command::Query
        : verb == "ADD"                     ? Command::Add
        : verb == "DELETE"                  ? Command::Delete
                                            : throw Failure { "Invalid operation " + arguments[0] + "." };
    const KeyName key = ParseKey(arguments[1]);
    const Options options = ParseOptions(command, { arguments.begin() + 2, arguments.end() });
    switch (command) {
    case Command::Query:
        return Query(key, options);
    case Command::Add:
        return Add(key, options);
    case Command::Delete:
        return Delete(key, options);
    }
    return 1;
}

}

int main(int argc, char** argv)
{
    try {
        return Run({ argv + 1, argv + argc });
    } catch (const Failure& failure) {
        std::cout.flush();
        std::cerr << "ERROR: " << failure.message << "\n";
        return 1;
    }
}
