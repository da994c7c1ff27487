#pragma once
// A record of the files and registry of the Wine prefix, and what differs
// between two records: for tests that must show an installation leaves
// nothing behind.
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace snapshot {

// What a snapshot covers.
struct TScope {
    // Folders walked whole, e.g. "C:\".
    std::vector<std::string> Folders;
    // Registry keys walked whole: a root and a path below it ("" for the root itself).
    std::vector<std::pair<HKEY, std::string>> Keys;
    // Items left out with everything below them, named as in a snapshot:
    // "C:\users\me\Temp", "HKLM\Software\Wine". Letter case does not matter.
    std::vector<std::string> Ignore;
};

// The whole drive C:\ of the prefix and the roots HKCU, HKLM and HKCR, less the
// few places that Wine and the test program change on their own.
TScope PrefixScope();

// Item names: a folder ends in "\" ("C:\Program Files\Orvand\"), a file is its
// path, a key is "HKLM\SOFTWARE\...", a value is its key, "|" and its name
// ("HKCU\...\Run|Orvand"; "|(default)" for the unnamed one).
class TSnapshot {
public:
    static TSnapshot Take(const TScope& Scope);
    size_t Size() const { return FItems.size(); }
    bool Has(const std::string& Item) const;

    // Case-folded name -> (name, description).
    std::map<std::string, std::pair<std::string, std::string>> FItems;
};

struct TChange {
    char Kind;  // '+' added, '-' removed, '~' changed
    std::string Item, Before, After;
};

std::vector<TChange> Compare(const TSnapshot& Before, const TSnapshot& After);
// One line a change: "+ C:\Orvand\install.exe  (file, 1024 bytes, ...)",
// "~ HKCU\...|Name  REG_SZ "a" -> REG_SZ "b"". Long data is cut short.
std::string Describe(const std::vector<TChange>& Changes);
// "+ item", "- item", "~ item" for each change, for exact comparisons.
std::vector<std::string> Lines(const std::vector<TChange>& Changes);

}  // namespace snapshot
