// The snapshot helper must see every kind of change, or a clean diff proves nothing.
#include "snapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "wintest_util.h"

using namespace wintest;
using namespace snapshot;
using ::testing::HasSubstr;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> Lines) {
    std::sort(Lines.begin(), Lines.end());
    return Lines;
}

}  // namespace

TEST(Snapshot, SeesFilesFoldersKeysAndValuesComeGoAndChange) {
    TempFolder folder;
    const std::string f = folder.Path();
    const std::string key = "Software\\OrvandTest-snapshot-" + std::to_string(GetCurrentProcessId());
    const std::string k = "HKCU\\" + key;
    KeyGuard guard(HKEY_CURRENT_USER, key);
    TScope scope;
    scope.Folders = {f};
    scope.Keys = {{HKEY_CURRENT_USER, key}};
    scope.Ignore = {f + "Ignored", k + "\\ignored"};

    MakeTree(f, {{"size.txt", "abc"},
                 {"gone.txt", "x"},
                 {"flags.txt", "x"},
                 {"Gone\\", ""},
                 {"Sub\\same.txt", "same"},
                 {"Ignored\\", ""}});
    SetValue(HKEY_CURRENT_USER, key, "same", std::string("same", 5));
    SetValue(HKEY_CURRENT_USER, key, "data", std::string("old", 4));
    SetValue(HKEY_CURRENT_USER, key, "type", std::string("1234", 4));
    SetValue(HKEY_CURRENT_USER, key, "gone", std::string("\1\0\0\0", 4), REG_DWORD);
    SetValue(HKEY_CURRENT_USER, key, nullptr, std::string("default", 8));
    SetValue(HKEY_CURRENT_USER, key + "\\Gone\\Deeper", "x", std::string("x", 2));

    const TSnapshot before = TSnapshot::Take(scope);
    EXPECT_TRUE(Compare(before, TSnapshot::Take(scope)).empty()) << "an unchanged scope differs from itself";
    EXPECT_TRUE(before.Has(f + "SUB\\SAME.TXT"));
    EXPECT_TRUE(before.Has(k + "|(default)"));

    WriteFileText(f + "size.txt", "abcd");
    WriteFileText(f + "new.txt", "n");
    DeleteFileA((f + "gone.txt").c_str());
    SetFileAttributesA((f + "flags.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    RemoveDirectoryA((f + "Gone").c_str());
    ASSERT_TRUE(CreateDirectoryA((f + "New").c_str(), nullptr));
    WriteFileText(f + "Ignored\\noise.txt", "n");
    SetValue(HKEY_CURRENT_USER, key, "data", std::string("new", 4));
    SetValue(HKEY_CURRENT_USER, key, "type", std::string("1234", 4), REG_BINARY);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "gone");
    SetValue(HKEY_CURRENT_USER, key, "new", std::string("n", 2));
    RegDeleteTreeA(HKEY_CURRENT_USER, (key + "\\Gone").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (key + "\\Gone").c_str());
    SetValue(HKEY_CURRENT_USER, key + "\\New", nullptr, std::string("n", 2));
    SetValue(HKEY_CURRENT_USER, key + "\\Ignored", nullptr, std::string("n", 2));

    const TSnapshot after = TSnapshot::Take(scope);
    std::vector<TChange> changes = Compare(before, after);
    SetFileAttributesA((f + "flags.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Sorted(Lines(changes)),
              Sorted({"~ " + f + "size.txt", "+ " + f + "new.txt", "- " + f + "gone.txt", "~ " + f + "flags.txt",
                      "- " + f + "Gone\\", "+ " + f + "New\\", "~ " + k + "|data", "~ " + k + "|type",
                      "- " + k + "|gone", "+ " + k + "|new", "- " + k + "\\Gone", "- " + k + "\\Gone\\Deeper",
                      "- " + k + "\\Gone\\Deeper|x", "+ " + k + "\\New", "+ " + k + "\\New|(default)"}))
        << Describe(changes);
    const std::string text = Describe(changes);
    EXPECT_THAT(text, HasSubstr("~ " + k + "|data  REG_SZ \"old\\0\" -> REG_SZ \"new\\0\"\n"));
    EXPECT_THAT(text, HasSubstr("|type  REG_SZ \"1234"));
    EXPECT_THAT(text, HasSubstr("-> REG_BINARY [4] 31 32 33 34\n"));
    EXPECT_THAT(text, HasSubstr("- " + k + "|gone  (REG_DWORD 0x00000001)"));
    EXPECT_NE(text.find("+ " + f + "new.txt  (file, 1 bytes, written "), std::string::npos) << text;
    EXPECT_THAT(text, HasSubstr(", read-only\n"));
    EXPECT_EQ(Describe({}), "(no differences)\n");
}

// The prefix scope derives HKCR from the classes of HKLM instead of walking it;
// the derived view must be exactly what walking HKCR sees, also after a write
// through HKCR and one to the user's own classes.
TEST(Snapshot, DerivedClassesRootMatchesTheWalkedOne) {
    const std::string id = std::to_string(GetCurrentProcessId());
    const std::string viaRoot = "OrvandTest.ViaRoot." + id, viaUser = "Software\\Classes\\OrvandTest.ViaUser." + id;
    KeyGuard rootGuard(HKEY_CLASSES_ROOT, viaRoot);
    KeyGuard userGuard(HKEY_CURRENT_USER, viaUser);
    SetValue(HKEY_CLASSES_ROOT, viaRoot + "\\Sub", "v", std::string("r", 2));
    SetValue(HKEY_CURRENT_USER, viaUser, nullptr, std::string("u", 2));

    const TScope derivedScope = PrefixScope();
    TScope walkedScope = derivedScope;
    walkedScope.Folders.clear();
    walkedScope.Keys = {{HKEY_CLASSES_ROOT, ""}};
    const TSnapshot derived = TSnapshot::Take(derivedScope), walked = TSnapshot::Take(walkedScope);
    TSnapshot derivedClasses;
    for (const auto& [folded, item] : derived.FItems)
        if (folded.compare(0, 5, "hkcr\\") == 0 || folded.compare(0, 5, "hkcr|") == 0)
            derivedClasses.FItems[folded] = item;
    ASSERT_GT(walked.Size(), 1000u);
    std::vector<TChange> changes = Compare(walked, derivedClasses);
    EXPECT_TRUE(changes.empty()) << Describe(changes);
    EXPECT_TRUE(derived.Has("HKCR\\" + viaRoot + "\\Sub|v"));
}
