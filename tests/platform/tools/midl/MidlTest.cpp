#include "ProgramRun.h"
#include "TestRoot.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace {

class Midl : public testing::Test {
protected:
    void SetUp() override
    {
        m_directory = testing_support::TestRoot() + "/midl";
        std::filesystem::create_directories(m_directory);
    }

    // Runs midl on an IDL text, making a header and a type library, with its messages.
    testing_support::ProgramRun Compile(const std::string& idl) const
    {
        std::ofstream(m_directory + "/test.idl", std::ios::binary) << idl;
        return testing_support::RunProgram(testing_support::BinaryDirectory() + "/midl -h " + m_directory
            + "/test.h -t " + m_directory + "/test.tlb " + m_directory + "/test.idl");
    }

    std::string Read(const std::string& name) const
    {
        std::ifstream stream(m_directory + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream), {});
    }

    std::string m_directory;
};

constexpr const char* Interface = R"([object, uuid(11111111-2222-3333-4444-555555555555), dual]
interface IThing : IDispatch
{
    [id(2)] HRESULT Second([in] BSTR text);
    [id(1)] HRESULT First([out, retval] LONG* value);
    [propget, id(3)] HRESULT Size([out, retval] ULONG* size);
};
)";

std::string InLibrary(const std::string& body)
{
    return "[uuid(11111111-2222-3333-4444-000000000000), version(1.0)]\nlibrary ThingLib\n{\n"
           "    importlib(\"stdole2.tlb\");\n"
        + body + "};\n";
}

TEST_F(Midl, HeaderKeepsTheTableOrderAndTheGuids)
{
    const testing_support::ProgramRun run = Compile(std::string(Interface)
        + InLibrary(
            "    [uuid(11111111-2222-3333-4444-666666666666)] coclass Thing { [default] interface IThing; };\n"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string header = Read("test.h");
    const size_t second = header.find("Second(BSTR text)");
    const size_t first = header.find("First(LONG* value)");
    const size_t size = header.find("get_Size(ULONG* size)");
    ASSERT_NE(second, std::string::npos) << header;
    EXPECT_LT(second, first) << "functions stay in the order written, whatever their ids";
    EXPECT_LT(first, size);
    EXPECT_NE(header.find("struct IThing : public IDispatch {"), std::string::npos);
    EXPECT_NE(header.find("DEFINE_GUID(IID_IThing, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, "
                          "0x55, 0x55);"),
        std::string::npos)
        << header;
    EXPECT_NE(header.find("DEFINE_GUID(CLSID_Thing,"), std::string::npos);
    EXPECT_NE(header.find("DEFINE_GUID(LIBID_ThingLib,"), std::string::npos);
    EXPECT_EQ(Read("test.tlb").substr(0, 4), "RSTL");
}

TEST_F(Midl, FaultsNameTheFileAndLine)
{
    const std::string coclass
        = "    [uuid(11111111-2222-3333-4444-666666666666)] coclass Thing { [default] interface IThing; };\n";
    const struct {
        const char* name;
        std::string idl;
        std::string message;
    } cases[] = {
        { "interface without uuid", "[object]\ninterface IA : IUnknown { HRESULT F(); };\n",
            "test.idl:2: error: 'IA' needs a uuid" },
        { "malformed uuid", "[object, uuid(1234)]\ninterface IA : IUnknown { HRESULT F(); };\n",
            "test.idl:1: error: uuid needs a GUID" },
        { "unknown attribute",
            "[object, uuid(11111111-2222-3333-4444-555555555555), shiny]\ninterface IA : IUnknown {};\n",
            "test.idl:1: error: 'shiny' is not an attribute of IA" },
        { "not an object interface", "[uuid(11111111-2222-3333-4444-555555555555)]\ninterface IA : IUnknown {};\n",
            "test.idl:2: error: interface 'IA' must be an object interface" },
        { "missing semicolon",
            "[object, uuid(11111111-2222-3333-4444-555555555555)]\ninterface IA : IUnknown\n{\n    HRESULT F()\n};\n",
            "test.idl:5: error: ';' expected, not '}'" },
        { "unclosed string", "[object, uuid(11111111-2222-3333-4444-555555555555), helpstring(\"open)]\n",
            "test.idl:1: error: a string is not closed" },
        { "retval not last",
            "[object, uuid(11111111-2222-3333-4444-555555555555)]\ninterface IA : IUnknown\n{\n"
            "    HRESULT F([out, retval] LONG* a, [in] LONG b);\n};\n",
            "test.idl:4: error: [retval] parameter 'a' must be the last and [out] only" },
        { "out by value",
            "[object, uuid(11111111-2222-3333-4444-555555555555)]\ninterface IA : IUnknown\n{\n"
            "    HRESULT F([out] LONG a);\n};\n",
            "test.idl:4: error: [out] parameter 'a' must be a pointer" },
        { "dispinterface method without id",
            InLibrary("    [uuid(11111111-2222-3333-4444-777777777777)]\n    dispinterface DA\n    {\n"
                      "    properties:\n    methods:\n        HRESULT F();\n    };\n"),
            "test.idl:10: error: dispinterface method 'F' needs an id" },
        { "unknown type",
            std::string(Interface).replace(std::string(Interface).find("BSTR"), 4, "STRING") + InLibrary(coclass),
            "test.idl:4: error: 'STRING' is not defined" },
        { "dual not from IDispatch",
            "[object, uuid(11111111-2222-3333-4444-555555555555), dual]\ninterface IA : IUnknown { HRESULT F(); };\n"
                + InLibrary("    interface IA;\n"),
            "test.idl:2: error: dual interface 'IA' must derive from IDispatch" },
        { "automation method without HRESULT",
            "[object, uuid(11111111-2222-3333-4444-555555555555), oleautomation]\ninterface IA : IUnknown\n{\n"
            "    LONG F();\n};\n"
                + InLibrary("    interface IA;\n"),
            "test.idl:4: error: method 'F' of an automation interface must return HRESULT" },
        { "undefined coclass member", InLibrary(coclass), "test.idl:5: error: 'IThing' is not defined" },
        { "missing import",
            "[uuid(11111111-2222-3333-4444-000000000000)]\nlibrary L\n{\n    importlib(\"nothere.tlb\");\n};\n",
            "test.idl:2: error: cannot find the type library 'nothere.tlb' to import" },
        { "no library for the type library", Interface, "error: there is no library to make a type library of" },
    };
    for (const auto& row : cases) {
        const testing_support::ProgramRun run = Compile(row.idl);
        EXPECT_EQ(run.exitCode, 1) << row.name;
        EXPECT_NE(run.output.find(row.message), std::string::npos) << row.name << ": " << run.output;
    }
}

}
