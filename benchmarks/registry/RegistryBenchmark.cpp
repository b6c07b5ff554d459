// The cost of reading the registry, against the floor of a bare SQLite point query of the same
// row. COM reads the registry on every activation, so an open-query-close cycle should stay
// within 3x that floor. After the runs it prints each benchmark's median time per call and its
// ratio to the floor, in CPU time (which a busy machine disturbs less than wall-clock time).
//
// It works in a fresh machine root of its own (removed at the end), and reads a key as deep as a
// class registration: SOFTWARE\Classes\CLSID\{...}\LocalServer32.
#include "winreg.h"

#include "MedianReporter.h"
#include <algorithm>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

constexpr const char16_t* ClassKey = u"SOFTWARE\\Classes\\CLSID\\{6A1F3C2E-93B4-4C57-8E0D-2B7F5A9C4D11}\\LocalServer32";
constexpr const char16_t* ServerPath = u"/opt/reelscan/bin/ReelscanModule.exe";
// The same key as the store folds it, with the hive, for the bare query.
constexpr const char* FoldedClassKey
    = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\CLSID\\{6A1F3C2E-93B4-4C57-8E0D-2B7F5A9C4D11}\\LOCALSERVER32";

std::string g_root;

BYTE g_buffer[512];

void Fail(benchmark::State& state, const char* what, long status)
{
    state.SkipWithError((std::string(what) + " failed: " + std::to_string(status)).c_str());
}

void QueryOnOpenKey(benchmark::State& state)
{
    HKEY key = nullptr;
    if (const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ClassKey, 0, KEY_READ, &key); status != ERROR_SUCCESS)
        return Fail(state, "RegOpenKeyExW", status);
    for (auto _ : state) {
        DWORD size = sizeof(g_buffer);
        if (const LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, nullptr, g_buffer, &size);
            status != ERROR_SUCCESS)
            return Fail(state, "RegQueryValueExW", status);
        benchmark::DoNotOptimize(g_buffer);
    }
    RegCloseKey(key);
}

void OpenQueryClose(benchmark::State& state, HKEY root, const char16_t* path)
{
    for (auto _ : state) {
        HKEY key = nullptr;
        if (const LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_READ, &key); status != ERROR_SUCCESS)
            return Fail(state, "RegOpenKeyExW", status);
        DWORD size = sizeof(g_buffer);
        if (const LSTATUS status = RegQueryValueExW(key, nullptr, nullptr, nullptr, g_buffer, &size);
            status != ERROR_SUCCESS)
            return Fail(state, "RegQueryValueExW", status);
        benchmark::DoNotOptimize(g_buffer);
        RegCloseKey(key);
    }
}

void OpenQueryCloseMachine(benchmark::State& state)
{
    OpenQueryClose(state, HKEY_LOCAL_MACHINE, ClassKey);
}

// Through HKEY_CLASSES_ROOT, as COM reads it: the user's tree first, then the machine's.
void OpenQueryCloseClassesRoot(benchmark::State& state)
{
    OpenQueryClose(state, HKEY_CLASSES_ROOT, ClassKey + std::char_traits<char16_t>::length(u"SOFTWARE\\Classes\\"));
}

// The floor: one prepared SELECT of the value's row, by key id and folded name, from a
// connection of its own.
void BareSqlitePointQuery(benchmark::State& state)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;
    sqlite3_stmt* keyId = nullptr;
    if (sqlite3_open_v2((g_root + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK
        || sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE path = ?", -1, &keyId, nullptr) != SQLITE_OK
        || sqlite3_prepare_v2(db, "SELECT type, data FROM vals WHERE key = ? AND folded = ?", -1, &select, nullptr)
            != SQLITE_OK) {
        sqlite3_close(db);
        return Fail(state, "sqlite3_prepare_v2", 0);
    }
    sqlite3_bind_text(keyId, 1, FoldedClassKey, -1, SQLITE_STATIC);
    const int found = sqlite3_step(keyId);
    const sqlite3_int64 id = sqlite3_column_int64(keyId, 0);
    sqlite3_finalize(keyId);
    if (found != SQLITE_ROW) {
        sqlite3_close(db);
        return Fail(state, "finding the key's row", found);
    }
    for (auto _ : state) {
        sqlite3_bind_int64(select, 1, id);
        sqlite3_bind_text(select, 2, "", 0, SQLITE_STATIC);
        if (sqlite3_step(select) != SQLITE_ROW)
            return Fail(state, "sqlite3_step", 0);
        const int bytes = std::min<int>(sqlite3_column_bytes(select, 1), sizeof(g_buffer));
        benchmark::DoNotOptimize(sqlite3_column_int(select, 0));
        std::copy_n(static_cast<const BYTE*>(sqlite3_column_blob(select, 1)), bytes, g_buffer);
        benchmark::DoNotOptimize(g_buffer);
        sqlite3_reset(select);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
}

BENCHMARK(BareSqlitePointQuery);
BENCHMARK(QueryOnOpenKey);
BENCHMARK(OpenQueryCloseMachine);
BENCHMARK(OpenQueryCloseClassesRoot);

void PrintSummary(const benchmark_support::MedianReporter& reporter)
{
    std::printf("\nmedian CPU time per call, and its ratio to the bare SQLite point query:\n");
    const double floor = reporter.Median("BareSqlitePointQuery");
    for (const std::string& name : reporter.Names()) {
        const double median = reporter.Median(name);
        std::printf("  %-28s %10.0f ns  %5.2fx\n", name.c_str(), median, floor > 0 ? median / floor : 0.0);
    }
}

bool Prepare()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "registry-benchmark-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return false;
    g_root = pattern;
    setenv("WINROOT", g_root.c_str(), 1);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ClassKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    const DWORD bytes = static_cast<DWORD>((std::char_traits<char16_t>::length(ServerPath) + 1) * sizeof(char16_t));
    const LSTATUS status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(ServerPath), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const bool prepared = Prepare();
    benchmark_support::MedianReporter reporter(benchmark_support::Clock::Cpu);
    if (prepared) {
        benchmark::RunSpecifiedBenchmarks(&reporter);
        PrintSummary(reporter);
    }
    benchmark::Shutdown();
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    if (!g_root.empty())
        std::filesystem::remove_all(g_root, ignored);
    if (!prepared)
        std::fprintf(stderr, "cannot set up the benchmark's registry\n");
    return prepared ? 0 : 1;
}
