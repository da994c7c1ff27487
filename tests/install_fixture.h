#pragma once
// What tests of whole installations share: a target folder, a copy of the
// packed sample product, and the removal of whatever a run left behind.
#include <optional>
#include <string>

#include "wintest_util.h"

namespace wintest {

inline constexpr const char* MenuContainer = "Software\\Microsoft\\Internet Explorer\\MenuExt";
inline constexpr const char* MenuText = "&Copy to Orvand";

// A target folder with a blank in its path, in the Program Files folder.
std::string TargetFolder(const std::string& Name);

// A copy of the packed sample product beside the test program, outside the snapshot.
class PackageCopy {
public:
    PackageCopy();
    ~PackageCopy();
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Takes away whatever an installation into Target may have left, before the
// test (a run that was killed) and after it (a test that failed half-way).
class Leftovers {
public:
    explicit Leftovers(const std::string& Target);
    ~Leftovers();
    void Remove();

private:
    std::string FTarget;
    // Also the menu-extension container, when the installation had to make it.
    std::optional<KeyGuard> FMenuContainer;
};

}  // namespace wintest
