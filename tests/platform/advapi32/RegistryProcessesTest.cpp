#include "winreg.h"

#include "TestRoot.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A registry_writer child with its standard output on a pipe.
struct Writer {
    pid_t pid = 0;
    int output = -1;
};

Writer StartWriter(int id, int count)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    const std::string program = testing_support::BinaryDirectory() + "/registry_writer";
    const std::string idText = std::to_string(id);
    const std::string countText = std::to_string(count);
    char* argv[] = { const_cast<char*>(program.c_str()), const_cast<char*>(idText.c_str()),
        const_cast<char*>(countText.c_str()), nullptr };
    Writer writer;
    if (posix_spawn(&writer.pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
        writer.pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    writer.output = pipeEnds[0];
    return writer;
}

// Waits for the child and returns what it printed, or "exit N" when it failed.
std::string Finish(Writer& writer)
{
    std::string output;
    char buffer[64];
    ssize_t got;
    while ((got = read(writer.output, buffer, sizeof(buffer))) > 0)
        output.append(buffer, got);
    close(writer.output);
    int status = 0;
    if (waitpid(writer.pid, &status, 0) != writer.pid || !WIFEXITED(status))
        return "killed";
    if (WEXITSTATUS(status) != 0)
        return "exit " + std::to_string(WEXITSTATUS(status));
    return output;
}

TEST(RegistryProcesses, ConcurrentWritersLoseNothing)
{
    constexpr int Writers = 4;
    constexpr int Count = 400;
    std::vector<Writer> writers;
    for (int id = 0; id < Writers; ++id) {
        writers.push_back(StartWriter(id, Count));
        ASSERT_NE(writers.back().pid, 0) << "writer " << id;
    }
    int created = 0;
    for (int id = 0; id < Writers; ++id) {
        const std::string output = Finish(writers[id]);
        ASSERT_EQ(output.find_first_not_of("0123456789\n"), std::string::npos) << "writer " << id << ": " << output;
        created += std::stoi(output);
    }
    // Every shared key was created by exactly one of the writers.
    EXPECT_EQ(created, Count);

    HKEY shared = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Shared", 0, KEY_READ, &shared), ERROR_SUCCESS);
    DWORD subkeys = 0, values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(shared, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(subkeys, static_cast<DWORD>(Count));
    EXPECT_EQ(values, static_cast<DWORD>(Writers * Count));
    for (int id = 0; id < Writers; ++id) {
        for (int n = 0; n < Count; ++n) {
            const std::string name = "P" + std::to_string(id) + "_" + std::to_string(n);
            const std::u16string wide(name.begin(), name.end());
            DWORD value = 0, size = sizeof(value);
            ASSERT_EQ(RegQueryValueExW(shared, wide.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
                ERROR_SUCCESS)
                << name;
            EXPECT_EQ(value, static_cast<DWORD>(n)) << name;
        }
    }
    RegCloseKey(shared);

    sqlite3* db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2((testing_support::TestRoot() + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

TEST(RegistryProcesses, AnotherProcessSeesWhatOneWrote)
{
    // The parent opens the registry first, so that its connection is older than the child's writes.
    HKEY user = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &user), ERROR_SUCCESS);
    Writer writer = StartWriter(7, 3);
    ASSERT_NE(writer.pid, 0);
    EXPECT_EQ(Finish(writer), "3\n");
    DWORD value = 0, size = sizeof(value);
    EXPECT_EQ(RegGetValueW(user, u"Shared", u"P7_2", RRF_RT_REG_DWORD, nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 2u);
    RegCloseKey(user);
}

TEST(RegistryProcesses, AForkedChildWritesThroughAHandleItInherited)
{
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Forked", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // The handle opened before the fork still names the key.
        const DWORD value = 42;
        _exit(RegSetValueExW(key, u"child", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), ERROR_SUCCESS);
    DWORD value = 0, size = sizeof(value);
    EXPECT_EQ(RegQueryValueExW(key, u"child", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 42u);
    RegCloseKey(key);
}

}
