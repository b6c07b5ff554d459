#include <atlbase.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Every key and value below a key, as "path" and "path:name=type:bytes" lines.
void Snapshot(HKEY parent, const std::u16string& path, std::map<std::u16string, std::u16string>& out)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    out[path] = u"key";
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[1024];
        DWORD size = sizeof data;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::u16string value(reinterpret_cast<char16_t*>(data), size / 2);
        out[path + u":" + name] = std::u16string(1, static_cast<char16_t>(u'0' + type)) + u":" + value;
    }
    std::vector<std::u16string> children;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::u16string& child : children)
        Snapshot(parent, path + u"\\" + child, out);
}

std::map<std::u16string, std::u16string> Registry()
{
    std::map<std::u16string, std::u16string> all;
    std::map<std::u16string, std::u16string> part;
    Snapshot(HKEY_LOCAL_MACHINE, u"Software", part);
    for (auto& [path, value] : part)
        all[u"HKLM\\" + path] = value;
    part.clear();
    Snapshot(HKEY_CURRENT_USER, u"Software", part);
    for (auto& [path, value] : part)
        all[u"HKCU\\" + path] = value;
    return all;
}

std::u16string ReadText(HKEY root, const char16_t* key, const char16_t* name = nullptr)
{
    WCHAR buffer[512];
    DWORD size = sizeof buffer;
    if (RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return u"<missing>";
    return buffer;
}

bool KeyExists(HKEY root, const char16_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

constexpr const char16_t* kScript = uR"(
HKCR
{
    NoRemove CLSID
    {
        ForceRemove {11112222-3333-4444-5555-666677778888} = s 'Sample Class'
        {
            ProgID = s 'Sample.Thing.1'
            LocalServer32 = s '%MODULE%'
            'Quoted Name' = s 'it''s 100%% done'
            Programmable
            val Count = d '42'
            val Mask = d 0x10
            val Bytes = b '00ff10'
        }
    }
    Sample.Thing.1 = s 'Sample Class'
    {
        CLSID = s '{11112222-3333-4444-5555-666677778888}'
    }
    Delete Sample.Stale
}
HKCU
{
    Software
    {
        NoRemove 'Registrar Test'
        {
            val Installed = s '%Module%'
        }
    }
}
)";

class Registrar : public testing::Test {
protected:
    void SetUp() override
    {
        AtlSetPerUserRegistration(false);
        ASSERT_EQ(m_registrar.AddReplacement(u"MODULE", u"C:\\Program Files\\Sample\\sample.exe"), S_OK);
    }
    CRegObject m_registrar;
};

}

TEST_F(Registrar, RegisterWritesTheScript)
{
    // A stale key that the script deletes, and a NoRemove key that exists already.
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Sample.Stale\\Sub", nullptr, REG_SZ, u"x", 4),
        ERROR_SUCCESS);
    ASSERT_EQ(m_registrar.StringRegister(kScript), S_OK);

    const char16_t* classKey = u"CLSID\\{11112222-3333-4444-5555-666677778888}";
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, classKey), u"Sample Class");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, (std::u16string(classKey) + u"\\LocalServer32").c_str()),
        u"C:\\Program Files\\Sample\\sample.exe");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, (std::u16string(classKey) + u"\\Quoted Name").c_str()), u"it's 100% done");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, (std::u16string(classKey) + u"\\Programmable").c_str()));
    DWORD number = 0, size = sizeof number;
    ASSERT_EQ(
        RegGetValueW(HKEY_CLASSES_ROOT, classKey, u"Count", RRF_RT_REG_DWORD, nullptr, &number, &size), ERROR_SUCCESS);
    EXPECT_EQ(number, 42u);
    ASSERT_EQ(
        RegGetValueW(HKEY_CLASSES_ROOT, classKey, u"Mask", RRF_RT_REG_DWORD, nullptr, &number, &size), ERROR_SUCCESS);
    EXPECT_EQ(number, 16u);
    BYTE bytes[8] = {};
    size = sizeof bytes;
    ASSERT_EQ(
        RegGetValueW(HKEY_CLASSES_ROOT, classKey, u"Bytes", RRF_RT_REG_BINARY, nullptr, bytes, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(bytes[1], 0xff);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Sample.Thing.1\\CLSID"), u"{11112222-3333-4444-5555-666677778888}");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Sample.Stale"));
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Software\\Registrar Test", u"Installed"),
        u"C:\\Program Files\\Sample\\sample.exe");
    // The machine's classes took the class: per-user registration is off.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, (std::u16string(u"Software\\Classes\\") + classKey).c_str()));

    // ForceRemove rewrites the class key whole.
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, classKey, u"Extra", REG_SZ, u"x", 4), ERROR_SUCCESS);
    ASSERT_EQ(m_registrar.StringRegister(kScript), S_OK);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, classKey, u"Extra"), u"<missing>");
}

TEST_F(Registrar, UnregisterLeavesTheRegistryAsItWasButNoRemoveKeys)
{
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}",
                  nullptr, REG_SZ, u"other", 12),
        ERROR_SUCCESS);
    auto before = Registry();
    ASSERT_EQ(m_registrar.StringRegister(kScript), S_OK);
    ASSERT_NE(Registry(), before);
    ASSERT_EQ(m_registrar.StringUnregister(kScript), S_OK);
    auto after = Registry();
    // The NoRemove key the script created stays (with its parent), empty of what the script wrote.
    EXPECT_EQ(after.erase(u"HKCU\\Software\\Registrar Test"), 1u);
    if (!before.count(u"HKCU\\Software"))
        after.erase(u"HKCU\\Software");
    EXPECT_EQ(after, before);
    // Unregistering what is not there is no error.
    EXPECT_EQ(m_registrar.StringUnregister(kScript), S_OK);
}

TEST_F(Registrar, PerUserRegistrationWritesTheUsersClasses)
{
    AtlSetPerUserRegistration(true);
    bool perUser = false;
    ASSERT_EQ(AtlGetPerUserRegistration(&perUser), S_OK);
    EXPECT_TRUE(perUser);
    ASSERT_EQ(m_registrar.StringRegister(kScript), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Software\\Classes\\Sample.Thing.1"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Sample.Thing.1"));
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Sample.Thing.1\\CLSID"), u"{11112222-3333-4444-5555-666677778888}");
    ASSERT_EQ(m_registrar.StringUnregister(kScript), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Software\\Classes\\Sample.Thing.1"));
    AtlSetPerUserRegistration(false);
}

TEST_F(Registrar, MalformedScriptsChangeNothing)
{
    const char16_t* scripts[] = {
        u"HKCR { Good = s 'x' } HKXX { }",
        u"HKCR { Good = s 'x' ",
        u"HKCR { Good = s 'unterminated }",
        u"HKCR { Good = s '%UNKNOWN%' }",
        u"HKCR { Good = q 'x' }",
        u"HKCR { Good { val Number = d 'ten' } }",
        u"HKCR { Good { val Bytes = b '0' } }",
        u"HKCR { Good = s 'x' } }",
    };
    auto before = Registry();
    for (const char16_t* script : scripts) {
        std::string name(script, script + std::char_traits<char16_t>::length(script));
        EXPECT_EQ(m_registrar.StringRegister(script), DISP_E_EXCEPTION) << name;
        EXPECT_EQ(Registry(), before) << name;
    }
}

TEST_F(Registrar, ScriptsComeFromTheModulesResources)
{
    ASSERT_EQ(m_registrar.ResourceRegister(_AtlBaseModule.GetResourceInstance(), 201, u"REGISTRY"), S_OK);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Resource.Script"), u"from a resource");
    ASSERT_EQ(m_registrar.ResourceUnregister(_AtlBaseModule.GetResourceInstance(), 201, u"REGISTRY"), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Resource.Script"));
    EXPECT_TRUE(FAILED(m_registrar.ResourceRegister(_AtlBaseModule.GetResourceInstance(), 999, u"REGISTRY")));
}
