// The registrar: parses a whole .rgs script into a tree first, so that a malformed script
// changes nothing, then writes or removes what the tree says.
#include "atlbase.h"

#include "Utf.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// The longest script the registrar reads, and the deepest nesting of keys it follows.
constexpr size_t kMaxScriptChars = 1 << 20;
constexpr int kMaxDepth = 64;

std::atomic<bool> g_perUser { false };

std::u16string Lower(std::u16string_view text)
{
    std::u16string lower(text);
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return lower;
}

struct Token {
    std::u16string text;
    bool quoted = false;
    bool Is(const char16_t* word) const
    {
        return !quoted && Lower(text) == Lower(word);
    }
};

struct RegValue {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct Node {
    enum class Kind { Key, NoRemove, ForceRemove, Delete, Value } kind = Node::Kind::Key;
    std::u16string name;
    std::optional<RegValue> value; // a key's default value, or the named value itself
    std::vector<Node> children;
};

struct Root {
    HKEY key;
    bool classes; // HKCR, which per-user registration maps to the user's classes
    std::vector<Node> children;
};

class Parser {
public:
    Parser(std::u16string_view script, const std::map<std::u16string, std::u16string>& replacements)
        : m_script(script)
        , m_replacements(replacements)
    {
    }

    bool Parse(std::vector<Root>& roots)
    {
        Token token;
        while (Next(token)) {
            Root root {};
            if (!RootKey(token, root) || !Expect(u"{") || !Body(root.children, 0, KeysOnly::Yes))
                return false;
            roots.push_back(std::move(root));
        }
        return m_ok;
    }

private:
    enum class KeysOnly { No, Yes };

    static bool RootKey(const Token& token, Root& root)
    {
        if (token.Is(u"HKCR") || token.Is(u"HKEY_CLASSES_ROOT")) {
            root = Root { HKEY_CLASSES_ROOT, true, {} };
        } else if (token.Is(u"HKCU") || token.Is(u"HKEY_CURRENT_USER")) {
            root = Root { HKEY_CURRENT_USER, false, {} };
        } else if (token.Is(u"HKLM") || token.Is(u"HKEY_LOCAL_MACHINE")) {
            root = Root { HKEY_LOCAL_MACHINE, false, {} };
        } else {
            return false;
        }
        return true;
    }

    // Entries up to the closing brace.
    bool Body(std::vector<Node>& nodes, int depth, KeysOnly keysOnly)
    {
        if (depth > kMaxDepth)
            return false;
        Token token;
        while (Next(token)) {
            if (token.Is(u"}"))
                return true;
            Node node;
            if (token.Is(u"val") && keysOnly == KeysOnly::No) {
                node.kind = Node::Kind::Value;
                if (!Name(node.name) || !Expect(u"="))
                    return false;
                node.value.emplace();
                if (!Value(*node.value))
                    return false;
                nodes.push_back(std::move(node));
                continue;
            }
            if (token.Is(u"NoRemove"))
                node.kind = Node::Kind::NoRemove;
            else if (token.Is(u"ForceRemove"))
                node.kind = Node::Kind::ForceRemove;
            else if (token.Is(u"Delete"))
                node.kind = Node::Kind::Delete;
            if (node.kind == Node::Kind::Key) {
                node.name = token.text;
            } else if (!Name(node.name)) {
                return false;
            }
            if (node.name.empty() || (!token.quoted && (node.name == u"{" || node.name == u"=")))
                return false;
            // A default value, a body, both or neither.
            size_t mark = m_at;
            Token after;
            bool more = Next(after);
            if (more && after.Is(u"=")) {
                node.value.emplace();
                if (!Value(*node.value))
                    return false;
                mark = m_at;
                more = Next(after);
            }
            if (more && after.Is(u"{")) {
                if (!Body(node.children, depth + 1, KeysOnly::No))
                    return false;
            } else {
                m_at = mark;
            }
            nodes.push_back(std::move(node));
        }
        return false; // the script ended inside a body
    }

    bool Name(std::u16string& name)
    {
        Token token;
        if (!Next(token) || (!token.quoted && (token.text == u"{" || token.text == u"}" || token.text == u"=")))
            return false;
        name = token.text;
        return true;
    }

    bool Value(RegValue& value)
    {
        Token type, text;
        if (!Next(type) || !Next(text))
            return false;
        if (type.Is(u"s")) {
            value.type = REG_SZ;
            const auto* bytes = reinterpret_cast<const BYTE*>(text.text.c_str());
            value.data.assign(bytes, bytes + (text.text.size() + 1) * sizeof(char16_t));
            return true;
        }
        if (type.Is(u"d")) {
            std::string digits = platform::ToUtf8(text.text);
            char* end = nullptr;
            unsigned long long number = std::strtoull(digits.c_str(), &end, 0);
            if (digits.empty() || *end || number > 0xFFFFFFFFull)
                return false;
            DWORD dword = static_cast<DWORD>(number);
            value.type = REG_DWORD;
            const auto* bytes = reinterpret_cast<const BYTE*>(&dword);
            value.data.assign(bytes, bytes + sizeof dword);
            return true;
        }
        if (type.Is(u"b")) {
            if (text.text.size() % 2)
                return false;
            value.type = REG_BINARY;
            for (size_t i = 0; i < text.text.size(); i += 2) {
                int high = HexDigit(text.text[i]), low = HexDigit(text.text[i + 1]);
                if (high < 0 || low < 0)
                    return false;
                value.data.push_back(static_cast<BYTE>(high << 4 | low));
            }
            return true;
        }
        return false;
    }

    static int HexDigit(char16_t c)
    {
        if (c >= u'0' && c <= u'9')
            return c - u'0';
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        return -1;
    }

    bool Expect(const char16_t* punctuation)
    {
        Token token;
        return Next(token) && token.Is(punctuation);
    }

    static bool IsBlank(char16_t c)
    {
        return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
    }

    // The next whitespace-separated token, or a quoted text ('' stands for a quote), with
    // %NAME% replaced. False at the end of the script or on an error (m_ok then says which).
    bool Next(Token& token)
    {
        while (m_at < m_script.size() && IsBlank(m_script[m_at]))
            ++m_at;
        if (m_at >= m_script.size())
            return false;
        std::u16string raw;
        token.quoted = m_script[m_at] == u'\'';
        if (token.quoted) {
            ++m_at;
            for (;;) {
                if (m_at >= m_script.size())
                    return Fail();
                char16_t c = m_script[m_at++];
                if (c == u'\'') {
                    if (m_at < m_script.size() && m_script[m_at] == u'\'') {
                        raw.push_back(u'\'');
                        ++m_at;
                        continue;
                    }
                    break;
                }
                raw.push_back(c);
            }
        } else {
            while (m_at < m_script.size() && !IsBlank(m_script[m_at]))
                raw.push_back(m_script[m_at++]);
        }
        return Replace(raw, token.text) || Fail();
    }

    bool Replace(const std::u16string& raw, std::u16string& out)
    {
        out.clear();
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != u'%') {
                out.push_back(raw[i]);
                continue;
            }
            size_t close = raw.find(u'%', i + 1);
            if (close == std::u16string::npos)
                return false;
            std::u16string name = raw.substr(i + 1, close - i - 1);
            if (name.empty()) {
                out.push_back(u'%');
            } else {
                auto found = m_replacements.find(Lower(name));
                if (found == m_replacements.end())
                    return false;
                out += found->second;
            }
            i = close;
        }
        return true;
    }

    bool Fail()
    {
        m_ok = false;
        return false;
    }

    std::u16string_view m_script;
    const std::map<std::u16string, std::u16string>& m_replacements;
    size_t m_at = 0;
    bool m_ok = true;
};

enum class Direction { Register, Unregister };

class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY* operator&()
    {
        return &m_key;
    }
    operator HKEY() const
    {
        return m_key;
    }

private:
    HKEY m_key = nullptr;
};

HRESULT FromStatus(LSTATUS status)
{
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<unsigned>(status));
}

bool IsMissing(LSTATUS status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

HRESULT SetValue(HKEY key, const std::u16string& name, const RegValue& value)
{
    return FromStatus(RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, value.type, value.data.data(),
        static_cast<DWORD>(value.data.size())));
}

HRESULT RegisterNodes(HKEY parent, const std::vector<Node>& nodes);
HRESULT UnregisterNodes(HKEY parent, const std::vector<Node>& nodes);

HRESULT RegisterNode(HKEY parent, const Node& node)
{
    if (node.kind == Node::Kind::Value)
        return SetValue(parent, node.name, *node.value);
    if (node.kind == Node::Kind::Delete || node.kind == Node::Kind::ForceRemove) {
        LSTATUS status = RegDeleteTreeW(parent, node.name.c_str());
        if (status == ERROR_SUCCESS)
            RegDeleteKeyW(parent, node.name.c_str());
        else if (!IsMissing(status))
            return FromStatus(status);
        if (node.kind == Node::Kind::Delete)
            return S_OK;
    }
    OpenKey key;
    HRESULT hr
        = FromStatus(RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    if (FAILED(hr))
        return hr;
    if (node.value && FAILED(hr = SetValue(key, u"", *node.value)))
        return hr;
    return RegisterNodes(key, node.children);
}

HRESULT UnregisterNode(HKEY parent, const Node& node)
{
    switch (node.kind) {
    case Node::Kind::Delete:
        return S_OK;
    case Node::Kind::Value: {
        LSTATUS status = RegDeleteValueW(parent, node.name.c_str());
        return IsMissing(status) ? S_OK : FromStatus(status);
    }
    case Node::Kind::ForceRemove: {
        LSTATUS status = RegDeleteTreeW(parent, node.name.c_str());
        if (status == ERROR_SUCCESS)
            status = RegDeleteKeyW(parent, node.name.c_str());
        return IsMissing(status) ? S_OK : FromStatus(status);
    }
    case Node::Kind::Key:
    case Node::Kind::NoRemove:
        break;
    }
    DWORD subKeys = 0;
    {
        OpenKey key;
        LSTATUS status = RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, &key);
        if (IsMissing(status))
            return S_OK;
        HRESULT hr = FromStatus(status);
        if (SUCCEEDED(hr))
            hr = UnregisterNodes(key, node.children);
        if (FAILED(hr) || node.kind == Node::Kind::NoRemove)
            return hr;
        if (FAILED(hr = FromStatus(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr))))
            return hr;
    }
    // A key that still has subkeys of its own keeps them and itself.
    if (subKeys != 0)
        return S_OK;
    LSTATUS status = RegDeleteKeyW(parent, node.name.c_str());
    return IsMissing(status) ? S_OK : FromStatus(status);
}

HRESULT RegisterNodes(HKEY parent, const std::vector<Node>& nodes)
{
    for (const Node& node : nodes) {
        HRESULT hr = RegisterNode(parent, node);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT UnregisterNodes(HKEY parent, const std::vector<Node>& nodes)
{
    for (const Node& node : nodes) {
        HRESULT hr = UnregisterNode(parent, node);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

}

namespace ATL {

struct CRegObject::Replacements {
    std::map<std::u16string, std::u16string> byName; // names in lower case
};

CRegObject::CRegObject()
    : m_replacements(new Replacements)
{
}

CRegObject::~CRegObject()
{
    delete m_replacements;
}

HRESULT CRegObject::AddReplacement(LPCOLESTR key, LPCOLESTR item)
{
    if (!key || !item)
        return E_INVALIDARG;
    m_replacements->byName[Lower(key)] = item;
    return S_OK;
}

HRESULT CRegObject::ClearReplacements()
{
    m_replacements->byName.clear();
    return S_OK;
}

namespace {

HRESULT Run(
    std::u16string_view script, const std::map<std::u16string, std::u16string>& replacements, Direction direction)
{
    if (script.size() > kMaxScriptChars)
        return E_INVALIDARG;
    std::vector<Root> roots;
    if (!Parser(script, replacements).Parse(roots))
        return DISP_E_EXCEPTION;
    bool perUser = g_perUser;
    for (const Root& root : roots) {
        OpenKey userClasses;
        HKEY key = root.key;
        if (root.classes && perUser) {
            HRESULT hr = FromStatus(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Classes", 0, nullptr, 0,
                KEY_ALL_ACCESS, nullptr, &userClasses, nullptr));
            if (FAILED(hr))
                return hr;
            key = userClasses;
        }
        HRESULT hr = direction == Direction::Register ? RegisterNodes(key, root.children)
                                                      : UnregisterNodes(key, root.children);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// The script text of a module's resource: UTF-16 after a byte-order mark, UTF-8 otherwise.
HRESULT ResourceScript(HINSTANCE module, UINT id, LPCOLESTR type, std::u16string& script)
{
    HMODULE handle = reinterpret_cast<HMODULE>(module);
    HRSRC resource = FindResourceW(handle, MAKEINTRESOURCEW(id), type);
    if (!resource)
        return HRESULT_FROM_WIN32(GetLastError());
    DWORD size = SizeofResource(handle, resource);
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(handle, resource)));
    if (!bytes)
        return HRESULT_FROM_WIN32(GetLastError());
    if (size > kMaxScriptChars * sizeof(char16_t))
        return E_INVALIDARG;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        script.resize((size - 2) / 2);
        std::memcpy(script.data(), bytes + 2, script.size() * 2);
    } else {
        script = platform::FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes), size));
    }
    // A resource may carry a terminating null.
    while (!script.empty() && script.back() == 0)
        script.pop_back();
    return S_OK;
}

}

HRESULT CRegObject::StringRegister(LPCOLESTR script)
{
    return script ? Run(script, m_replacements->byName, Direction::Register) : E_INVALIDARG;
}

HRESULT CRegObject::StringUnregister(LPCOLESTR script)
{
    return script ? Run(script, m_replacements->byName, Direction::Unregister) : E_INVALIDARG;
}

HRESULT CRegObject::ResourceRegister(HINSTANCE module, UINT id, LPCOLESTR type)
{
    std::u16string script;
    HRESULT hr = ResourceScript(module, id, type, script);
    return FAILED(hr) ? hr : Run(script, m_replacements->byName, Direction::Register);
}

HRESULT CRegObject::ResourceUnregister(HINSTANCE module, UINT id, LPCOLESTR type)
{
    std::u16string script;
    HRESULT hr = ResourceScript(module, id, type, script);
    return FAILED(hr) ? hr : Run(script, m_replacements->byName, Direction::Unregister);
}

}

extern "C" {

HRESULT WINAPI AtlSetPerUserRegistration(bool bEnable)
{
    g_perUser = bEnable;
    return S_OK;
}

HRESULT WINAPI AtlGetPerUserRegistration(bool* pbEnabled)
{
    if (!pbEnabled)
        return E_POINTER;
    *pbEnabled = g_perUser;
    return S_OK;
}
}
