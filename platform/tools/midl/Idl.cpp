#include "Idl.h"

#include "oaidl.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <set>

namespace midl {

namespace {

// The largest IDL file read; larger ones are refused rather than read whole.
constexpr std::streamoff MaxIdlFileSize = 16 * 1024 * 1024;

struct Token {
    enum class Kind { Identifier, Number, String, Punctuation, End } kind = Kind::End;
    std::string text;
    int line = 0;
};

class Lexer {
public:
    Lexer(const std::string& path, std::string text)
        : m_path(path)
        , m_text(std::move(text))
    {
    }

    Token Next()
    {
        SkipSpace();
        Token token;
        token.line = m_line;
        if (m_offset >= m_text.size())
            return token;
        const char c = m_text[m_offset];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            token.kind = Token::Kind::Identifier;
            while (m_offset < m_text.size() && (std::isalnum(Byte()) || m_text[m_offset] == '_'))
                token.text += m_text[m_offset++];
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            token.kind = Token::Kind::Number;
            while (m_offset < m_text.size() && (std::isalnum(Byte()) || m_text[m_offset] == '.'))
                token.text += m_text[m_offset++];
        } else if (c == '"') {
            token.kind = Token::Kind::String;
            token.text = ReadString();
        } else {
            token.kind = Token::Kind::Punctuation;
            token.text = std::string(1, c);
            ++m_offset;
        }
        return token;
    }

    // The text up to the next ')', for uuid(...), whose digits are no tokens of their own.
    std::string RawUntilParen()
    {
        std::string raw;
        while (m_offset < m_text.size() && m_text[m_offset] != ')') {
            if (m_text[m_offset] == '\n')
                Fail("a ')' is missing");
            raw += m_text[m_offset++];
        }
        return raw;
    }

    int Line() const
    {
        return m_line;
    }
    [[noreturn]] void Fail(const std::string& message) const
    {
        throw IdlError(m_path, m_line, message);
    }

private:
    unsigned char Byte() const
    {
        return static_cast<unsigned char>(m_text[m_offset]);
    }

    void SkipSpace()
    {
        while (m_offset < m_text.size()) {
            const char c = m_text[m_offset];
            if (c == '\n') {
                ++m_line;
                ++m_offset;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_offset;
            } else if (m_text.compare(m_offset, 2, "//") == 0 || (c == '#' && AtLineStart())) {
                // Comments, and preprocessor lines: the platform's IDL files use no macros.
                while (m_offset < m_text.size() && m_text[m_offset] != '\n')
                    ++m_offset;
            } else if (m_text.compare(m_offset, 2, "/*") == 0) {
                const size_t end = m_text.find("*/", m_offset + 2);
                if (end == std::string::npos)
                    Fail("a comment is not closed");
                for (size_t i = m_offset; i < end; ++i)
                    m_line += m_text[i] == '\n';
                m_offset = end + 2;
            } else {
                return;
            }
        }
    }

    bool AtLineStart() const
    {
        for (size_t i = m_offset; i > 0; --i) {
            if (m_text[i - 1] == '\n')
                return true;
            if (!std::isspace(static_cast<unsigned char>(m_text[i - 1])))
                return false;
        }
        return true;
    }

    std::string ReadString()
    {
        std::string text;
        for (++m_offset;; ++m_offset) {
            if (m_offset >= m_text.size() || m_text[m_offset] == '\n')
                Fail("a string is not closed");
            char c = m_text[m_offset];
            if (c == '"')
                break;
            if (c == '\\' && m_offset + 1 < m_text.size()) {
                c = m_text[++m_offset];
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c;
            }
            text += c;
        }
        ++m_offset;
        return text;
    }

    std::string m_path;
    std::string m_text;
    size_t m_offset = 0;
    int m_line = 1;
};

struct Attribute {
    std::string name;
    std::vector<Token> arguments; // for uuid, one string token holding the raw text
    int line = 0;
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in the GUID's memory order.
std::optional<platform::TlbGuid> ParseGuid(std::string text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.erase(0, 1);
    if (text.size() == 38 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    text.erase(23, 1);
    text.erase(18, 1);
    text.erase(13, 1);
    text.erase(8, 1);
    uint8_t bytes[16];
    for (size_t b = 0; b < 16; ++b) {
        const int high = HexDigit(text[2 * b]), low = HexDigit(text[2 * b + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[b] = static_cast<uint8_t>(high << 4 | low);
    }
    // The first three groups are numbers, stored little-endian.
    return platform::TlbGuid { bytes[3], bytes[2], bytes[1], bytes[0], bytes[5], bytes[4], bytes[7], bytes[6], bytes[8],
        bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15] };
}

class Parser {
public:
    Parser(const std::string& path, std::string text)
        : m_path(path)
        , m_lexer(path, std::move(text))
    {
        Advance();
    }

    File Parse()
    {
        File file;
        file.path = m_path;
        while (m_token.kind != Token::Kind::End)
            ParseItem(file, false);
        return file;
    }

private:
    void ParseItem(File& file, bool inLibrary)
    {
        if (Accept(";"))
            return;
        if (IsWord("import")) {
            Advance();
            do
                file.imports.push_back(Expect(Token::Kind::String, "a file name").text);
            while (Accept(","));
            ExpectPunct(";");
            return;
        }
        if (IsWord("cpp_quote")) {
            Advance();
            ExpectPunct("(");
            Expect(Token::Kind::String, "a string");
            ExpectPunct(")");
            return;
        }
        if (IsWord("importlib")) {
            if (!inLibrary)
                Fail("importlib belongs inside a library");
            Advance();
            ExpectPunct("(");
            file.library->importLibs.push_back(Expect(Token::Kind::String, "a file name").text);
            ExpectPunct(")");
            ExpectPunct(";");
            return;
        }
        const std::vector<Attribute> attributes = ParseAttributes();
        const int line = m_token.line;
        const std::string keyword = Expect(Token::Kind::Identifier, "a definition").text;
        if (keyword == "library") {
            if (inLibrary || file.library)
                Fail("only one library may be defined, at the outer level");
            ParseLibrary(file, attributes, line);
            return;
        }
        Definition definition;
        definition.line = line;
        definition.insideLibrary = inLibrary;
        if (keyword == "interface")
            definition.kind = Kind::Interface;
        else if (keyword == "dispinterface")
            definition.kind = Kind::DispInterface;
        else if (keyword == "coclass")
            definition.kind = Kind::CoClass;
        else
            Fail("'" + keyword + "' is not a definition this compiler knows");
        definition.name = Expect(Token::Kind::Identifier, "a name").text;
        if (Accept(";")) {
            // A forward declaration, or inside a library, a reference that puts the type there.
            if (!attributes.empty())
                Fail("a forward declaration takes no attributes");
            if (inLibrary)
                file.library->members.push_back(definition.name);
            return;
        }
        ApplyTypeAttributes(definition, attributes);
        for (const Definition& other : file.definitions) {
            if (other.name == definition.name)
                Fail("'" + definition.name + "' is defined twice");
        }
        if (definition.kind == Kind::Interface)
            ParseInterfaceBody(definition);
        else if (definition.kind == Kind::DispInterface)
            ParseDispInterfaceBody(definition);
        else
            ParseCoClassBody(definition);
        Accept(";");
        if (inLibrary)
            file.library->members.push_back(definition.name);
        file.definitions.push_back(std::move(definition));
    }

    void ParseLibrary(File& file, const std::vector<Attribute>& attributes, int line)
    {
        Library library;
        library.line = line;
        library.name = Expect(Token::Kind::Identifier, "a library name").text;
        bool hasGuid = false;
        for (const Attribute& attribute : attributes) {
            if (attribute.name == "uuid") {
                library.guid = GuidArgument(attribute);
                hasGuid = true;
            } else if (attribute.name == "version")
                VersionArgument(attribute, library.major, library.minor);
            else if (attribute.name == "helpstring")
                library.helpString = StringArgument(attribute);
            else if (attribute.name == "lcid")
                library.lcid = static_cast<uint32_t>(NumberArgument(attribute));
            else if (attribute.name == "restricted")
                library.flags |= LIBFLAG_FRESTRICTED;
            else if (attribute.name == "control")
                library.flags |= LIBFLAG_FCONTROL;
            else if (attribute.name == "hidden")
                library.flags |= LIBFLAG_FHIDDEN;
            else
                FailAt(attribute.line, "a library takes no attribute '" + attribute.name + "'");
        }
        if (!hasGuid)
            FailAt(line, "library '" + library.name + "' needs a uuid");
        file.library = std::move(library);
        ExpectPunct("{");
        while (!Accept("}")) {
            if (m_token.kind == Token::Kind::End)
                Fail("the library is not closed");
            ParseItem(file, true);
        }
        Accept(";");
    }

    void ApplyTypeAttributes(Definition& definition, const std::vector<Attribute>& attributes)
    {
        static const std::set<std::string> InterfaceOnly
            = { "object", "dual", "oleautomation", "nonextensible", "pointer_default", "local" };
        bool creatable = definition.kind == Kind::CoClass;
        for (const Attribute& attribute : attributes) {
            if (InterfaceOnly.count(attribute.name) && definition.kind != Kind::Interface)
                FailAt(attribute.line, "'" + attribute.name + "' applies to interfaces only");
            if (attribute.name == "uuid") {
                definition.guid = GuidArgument(attribute);
                definition.hasGuid = true;
            } else if (attribute.name == "helpstring")
                definition.helpString = StringArgument(attribute);
            else if (attribute.name == "version")
                VersionArgument(attribute, definition.major, definition.minor);
            else if (attribute.name == "object")
                definition.object = true;
            else if (attribute.name == "dual")
                definition.typeFlags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
            else if (attribute.name == "oleautomation")
                definition.typeFlags |= TYPEFLAG_FOLEAUTOMATION;
            else if (attribute.name == "nonextensible")
                definition.typeFlags |= TYPEFLAG_FNONEXTENSIBLE;
            else if (attribute.name == "hidden")
                definition.typeFlags |= TYPEFLAG_FHIDDEN;
            else if (attribute.name == "restricted")
                definition.typeFlags |= TYPEFLAG_FRESTRICTED;
            else if (attribute.name == "noncreatable" && definition.kind == Kind::CoClass)
                creatable = false;
            else if (attribute.name == "pointer_default" || attribute.name == "local")
                continue;
            else
                FailAt(attribute.line, "'" + attribute.name + "' is not an attribute of " + definition.name);
        }
        if (creatable)
            definition.typeFlags |= TYPEFLAG_FCANCREATE;
        if (!definition.hasGuid)
            FailAt(definition.line, "'" + definition.name + "' needs a uuid");
        if (definition.kind == Kind::Interface && !definition.object)
            FailAt(definition.line, "interface '" + definition.name + "' must be an object interface");
    }

    void ParseInterfaceBody(Definition& definition)
    {
        if (Accept(":"))
            definition.base = Expect(Token::Kind::Identifier, "a base interface").text;
        else if (definition.name != "IUnknown")
            Fail("interface '" + definition.name + "' needs a base interface");
        ExpectPunct("{");
        while (!Accept("}"))
            definition.methods.push_back(ParseMethod());
    }

    void ParseDispInterfaceBody(Definition& definition)
    {
        ExpectPunct("{");
        if (!IsWord("properties"))
            Fail("a dispinterface begins with 'properties:'");
        Advance();
        ExpectPunct(":");
        while (!IsWord("methods")) {
            if (m_token.kind == Token::Kind::End || IsPunct("}"))
                Fail("a dispinterface needs 'methods:'");
            const std::vector<Attribute> attributes = ParseAttributes();
            Property property;
            property.line = m_token.line;
            bool hasId = false;
            for (const Attribute& attribute : attributes) {
                if (attribute.name == "id") {
                    property.id = static_cast<int32_t>(NumberArgument(attribute));
                    hasId = true;
                } else if (attribute.name == "helpstring")
                    property.helpString = StringArgument(attribute);
                else
                    FailAt(attribute.line, "a property takes no attribute '" + attribute.name + "'");
            }
            property.type = ParseType();
            property.name = Expect(Token::Kind::Identifier, "a property name").text;
            ExpectPunct(";");
            if (!hasId)
                FailAt(property.line, "property '" + property.name + "' needs an id");
            definition.properties.push_back(std::move(property));
        }
        Advance();
        ExpectPunct(":");
        while (!Accept("}")) {
            Method method = ParseMethod();
            if (!method.id)
                FailAt(method.line, "dispinterface method '" + method.name + "' needs an id");
            definition.methods.push_back(std::move(method));
        }
    }

    void ParseCoClassBody(Definition& definition)
    {
        ExpectPunct("{");
        while (!Accept("}")) {
            const std::vector<Attribute> attributes = ParseAttributes();
            CoClassMember member;
            member.line = m_token.line;
            for (const Attribute& attribute : attributes) {
                if (attribute.name == "default")
                    member.implFlags |= IMPLTYPEFLAG_FDEFAULT;
                else if (attribute.name == "source")
                    member.implFlags |= IMPLTYPEFLAG_FSOURCE;
                else if (attribute.name == "restricted")
                    member.implFlags |= IMPLTYPEFLAG_FRESTRICTED;
                else
                    FailAt(attribute.line, "a coclass member takes no attribute '" + attribute.name + "'");
            }
            if (!IsWord("interface") && !IsWord("dispinterface"))
                Fail("a coclass lists interfaces and dispinterfaces");
            Advance();
            member.name = Expect(Token::Kind::Identifier, "an interface name").text;
            ExpectPunct(";");
            definition.members.push_back(std::move(member));
        }
    }

    Method ParseMethod()
    {
        const std::vector<Attribute> attributes = ParseAttributes();
        Method method;
        method.line = m_token.line;
        for (const Attribute& attribute : attributes) {
            if (attribute.name == "id")
                method.id = static_cast<int32_t>(NumberArgument(attribute));
            else if (attribute.name == "helpstring")
                method.helpString = StringArgument(attribute);
            else if (attribute.name == "propget")
                method.invokeKind = INVOKE_PROPERTYGET;
            else if (attribute.name == "propput")
                method.invokeKind = INVOKE_PROPERTYPUT;
            else if (attribute.name == "propputref")
                method.invokeKind = INVOKE_PROPERTYPUTREF;
            else if (attribute.name == "restricted")
                method.funcFlags |= FUNCFLAG_FRESTRICTED;
            else if (attribute.name == "hidden")
                method.funcFlags |= FUNCFLAG_FHIDDEN;
            else
                FailAt(attribute.line, "a method takes no attribute '" + attribute.name + "'");
        }
        method.result = ParseType();
        method.name = Expect(Token::Kind::Identifier, "a method name").text;
        ExpectPunct("(");
        if (IsWord("void")) {
            Advance();
            if (!IsPunct(")"))
                Fail("'void' stands alone in an empty parameter list");
        }
        while (!Accept(")")) {
            if (!method.params.empty())
                ExpectPunct(",");
            method.params.push_back(ParseParam());
        }
        ExpectPunct(";");
        CheckParams(method);
        return method;
    }

    Param ParseParam()
    {
        const std::vector<Attribute> attributes = ParseAttributes();
        Param param;
        for (const Attribute& attribute : attributes) {
            if (attribute.name == "in")
                param.flags |= PARAMFLAG_FIN;
            else if (attribute.name == "out")
                param.flags |= PARAMFLAG_FOUT;
            else if (attribute.name == "retval")
                param.flags |= PARAMFLAG_FRETVAL;
            else
                FailAt(attribute.line, "a parameter takes no attribute '" + attribute.name + "'");
        }
        if (param.flags == 0)
            param.flags = PARAMFLAG_FIN;
        param.type = ParseType();
        param.name = Expect(Token::Kind::Identifier, "a parameter name").text;
        if ((param.flags & PARAMFLAG_FOUT) && param.type.pointers == 0)
            FailAt(param.type.line, "[out] parameter '" + param.name + "' must be a pointer");
        return param;
    }

    void CheckParams(const Method& method)
    {
        for (size_t i = 0; i < method.params.size(); ++i) {
            const Param& param = method.params[i];
            if ((param.flags & PARAMFLAG_FRETVAL)
                && (i + 1 != method.params.size() || !(param.flags & PARAMFLAG_FOUT) || (param.flags & PARAMFLAG_FIN)))
                FailAt(method.line, "[retval] parameter '" + param.name + "' must be the last and [out] only");
        }
    }

    Type ParseType()
    {
        Type type;
        type.line = m_token.line;
        Accept("const");
        if (IsWord("unsigned") || IsWord("signed")) {
            type.base = m_token.text;
            Advance();
            if (IsWord("long") || IsWord("int") || IsWord("short") || IsWord("char")) {
                type.base += " " + m_token.text;
                Advance();
            }
        } else {
            type.base = Expect(Token::Kind::Identifier, "a type").text;
        }
        while (Accept("*"))
            ++type.pointers;
        return type;
    }

    std::vector<Attribute> ParseAttributes()
    {
        std::vector<Attribute> attributes;
        if (!Accept("["))
            return attributes;
        do {
            Attribute attribute;
            attribute.line = m_token.line;
            attribute.name = Expect(Token::Kind::Identifier, "an attribute").text;
            if (attribute.name == "uuid" && IsPunct("(")) {
                // The lexer is one token ahead: the raw text starts right after '('.
                attribute.arguments.push_back({ Token::Kind::String, m_lexer.RawUntilParen(), m_lexer.Line() });
                Advance();
                ExpectPunct(")");
            } else if (Accept("(")) {
                while (!Accept(")")) {
                    if (m_token.kind == Token::Kind::End)
                        Fail("a ')' is missing");
                    if (!Accept(",")) {
                        attribute.arguments.push_back(m_token);
                        Advance();
                    }
                }
            }
            attributes.push_back(std::move(attribute));
        } while (Accept(","));
        ExpectPunct("]");
        return attributes;
    }

    platform::TlbGuid GuidArgument(const Attribute& attribute)
    {
        if (attribute.arguments.size() == 1) {
            if (const auto guid = ParseGuid(attribute.arguments[0].text))
                return *guid;
        }
        FailAt(attribute.line, "uuid needs a GUID of the form xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx");
    }

    std::string StringArgument(const Attribute& attribute)
    {
        if (attribute.arguments.size() != 1 || attribute.arguments[0].kind != Token::Kind::String)
            FailAt(attribute.line, attribute.name + " needs one string");
        return attribute.arguments[0].text;
    }

    int64_t NumberArgument(const Attribute& attribute)
    {
        if (attribute.arguments.size() == 1 && attribute.arguments[0].kind == Token::Kind::Number) {
            const std::string& text = attribute.arguments[0].text;
            try {
                size_t used = 0;
                const int64_t value = std::stoll(text, &used, 0);
                if (used == text.size() && value >= INT32_MIN && value <= UINT32_MAX)
                    return value;
            } catch (const std::logic_error&) {
            }
        }
        FailAt(attribute.line, attribute.name + " needs one 32-bit number");
    }

    void VersionArgument(const Attribute& attribute, uint16_t& major, uint16_t& minor)
    {
        if (attribute.arguments.size() == 1 && attribute.arguments[0].kind == Token::Kind::Number) {
            const std::string& text = attribute.arguments[0].text;
            const size_t dot = text.find('.');
            try {
                const unsigned long high = std::stoul(text.substr(0, dot));
                const unsigned long low = dot == std::string::npos ? 0 : std::stoul(text.substr(dot + 1));
                if (high <= 0xFFFF && low <= 0xFFFF && text.find_first_not_of("0123456789.") == std::string::npos) {
                    major = static_cast<uint16_t>(high);
                    minor = static_cast<uint16_t>(low);
                    return;
                }
            } catch (const std::logic_error&) {
            }
        }
        FailAt(attribute.line, "version needs the form major.minor");
    }

    void Advance()
    {
        m_token = m_lexer.Next();
    }
    bool IsWord(const char* word) const
    {
        return m_token.kind == Token::Kind::Identifier && m_token.text == word;
    }
    bool IsPunct(const char* punct) const
    {
        return m_token.kind == Token::Kind::Punctuation && m_token.text == punct;
    }
    bool Accept(const char* text)
    {
        if ((m_token.kind == Token::Kind::Punctuation || m_token.kind == Token::Kind::Identifier)
            && m_token.text == text) {
            Advance();
            return true;
        }
        return false;
    }
    void ExpectPunct(const char* punct)
    {
        if (!Accept(punct))
            Fail(std::string("'") + punct + "' expected" + Found());
    }
    Token Expect(Token::Kind kind, const char* what)
    {
        if (m_token.kind != kind)
            Fail(std::string(what) + " expected" + Found());
        Token token = m_token;
        Advance();
        return token;
    }
    std::string Found() const
    {
        return m_token.kind == Token::Kind::End ? " at the end of the file" : ", not '" + m_token.text + "'";
    }
    [[noreturn]] void Fail(const std::string& message) const
    {
        throw IdlError(m_path, m_token.line, message);
    }
    [[noreturn]] void FailAt(int line, const std::string& message) const
    {
        throw IdlError(m_path, line, message);
    }

    std::string m_path;
    Lexer m_lexer;
    Token m_token;
};

}

File ReadIdl(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary | std::ios::ate);
    if (!stream)
        throw IdlError(path, 0, "cannot open the file");
    if (stream.tellg() > MaxIdlFileSize)
        throw IdlError(path, 0, "the file is larger than an IDL file may be");
    stream.seekg(0);
    std::string text(std::istreambuf_iterator<char>(stream), {});
    return Parser(path, std::move(text)).Parse();
}

}
