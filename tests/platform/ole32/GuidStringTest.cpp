#include <gtest/gtest.h>
#include <objbase.h>
#include <winreg.h>

#include <string>

namespace {

DEFINE_GUID(kSample, 0x00112233, 0x4455, 0x6677, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff);
constexpr const char16_t* kSampleText = u"{00112233-4455-6677-8899-AABBCCDDEEFF}";

void SetClassesText(const std::u16string& key, const std::u16string& value)
{
    std::u16string path = u"Software\\Classes\\" + key;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), nullptr, REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(char16_t))),
        ERROR_SUCCESS);
}

}

TEST(GuidStrings, FormatInUpperCaseWithBraces)
{
    OLECHAR text[CHARS_IN_GUID];
    EXPECT_EQ(StringFromGUID2(kSample, text, CHARS_IN_GUID), CHARS_IN_GUID);
    EXPECT_EQ(std::u16string(text), kSampleText);
    EXPECT_EQ(StringFromGUID2(kSample, text, CHARS_IN_GUID - 1), 0);

    LPOLESTR allocated = nullptr;
    ASSERT_EQ(StringFromCLSID(IID_IUnknown, &allocated), S_OK);
    EXPECT_EQ(std::u16string(allocated), u"{00000000-0000-0000-C000-000000000046}");
    CoTaskMemFree(allocated);
}

TEST(GuidStrings, ParseOnlyTheBracedForm)
{
    struct Case {
        const char16_t* text;
        HRESULT clsidResult;
        HRESULT iidResult;
    };
    const Case cases[] = {
        { kSampleText, S_OK, S_OK },
        { u"{00112233-4455-6677-8899-aabbccddeeff}", S_OK, S_OK },
        { u"00112233-4455-6677-8899-AABBCCDDEEFF", CO_E_CLASSSTRING, E_INVALIDARG },
        { u"{00112233-4455-6677-8899-AABBCCDDEEF}", CO_E_CLASSSTRING, E_INVALIDARG },
        { u"{00112233-4455-6677-8899-AABBCCDDEEFF}x", CO_E_CLASSSTRING, E_INVALIDARG },
        { u"{0011223G-4455-6677-8899-AABBCCDDEEFF}", CO_E_CLASSSTRING, E_INVALIDARG },
        { u"{00112233+4455-6677-8899-AABBCCDDEEFF}", CO_E_CLASSSTRING, E_INVALIDARG },
        { u"", CO_E_CLASSSTRING, E_INVALIDARG },
    };
    for (const Case& c : cases) {
        std::string name(c.text, c.text + std::char_traits<char16_t>::length(c.text));
        CLSID clsid;
        EXPECT_EQ(CLSIDFromString(c.text, &clsid), c.clsidResult) << name;
        EXPECT_TRUE(c.clsidResult != S_OK || clsid == kSample) << name;
        IID iid;
        EXPECT_EQ(IIDFromString(c.text, &iid), c.iidResult) << name;
        EXPECT_TRUE(c.iidResult != S_OK || iid == kSample) << name;
    }
    CLSID clsid = kSample;
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_NULL);
}

TEST(GuidStrings, ProgIdsResolveThroughTheClassesRoot)
{
    SetClassesText(u"Sample.Thing\\CLSID", kSampleText);
    SetClassesText(u"Sample.Current\\CurVer", u"Sample.Thing");
    SetClassesText(u"Sample.Broken\\CLSID", u"not a guid");
    SetClassesText(std::u16string(u"CLSID\\") + kSampleText + u"\\ProgID", u"Sample.Thing");

    CLSID clsid {};
    EXPECT_EQ(CLSIDFromProgID(u"sample.thing", &clsid), S_OK);
    EXPECT_EQ(clsid, kSample);
    clsid = {};
    EXPECT_EQ(CLSIDFromProgID(u"Sample.Current", &clsid), S_OK);
    EXPECT_EQ(clsid, kSample);
    clsid = {};
    EXPECT_EQ(CLSIDFromString(u"Sample.Thing", &clsid), S_OK);
    EXPECT_EQ(clsid, kSample);
    EXPECT_EQ(CLSIDFromProgID(u"Sample.Broken", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"Sample.Missing", &clsid), CO_E_CLASSSTRING);

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(kSample, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Sample.Thing");
    CoTaskMemFree(progId);
    EXPECT_EQ(ProgIDFromCLSID(IID_IUnknown, &progId), REGDB_E_CLASSNOTREG);
}

TEST(GuidStrings, NewGuidsAreRandomVersionFour)
{
    GUID first {}, second {};
    ASSERT_EQ(CoCreateGuid(&first), S_OK);
    ASSERT_EQ(CoCreateGuid(&second), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.Data3 >> 12, 4);
    EXPECT_EQ(first.Data4[0] >> 6, 2);
}
