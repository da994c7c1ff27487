#include "snapshot.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <functional>

#include "support/UniqueResource.h"

namespace snapshot {

namespace {

std::string Utf8(const std::wstring& Text) {
    if (Text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Item names are given in the code page, and kept in UTF-8.
std::wstring Wide(const std::string& Text, UINT CodePage = CP_ACP) {
    if (Text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CodePage, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CodePage, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n);
    return out;
}

std::wstring Folded(std::wstring Text) {
    if (!Text.empty()) CharLowerBuffW(Text.data(), static_cast<DWORD>(Text.size()));
    return Text;
}

std::string Flags(DWORD Attributes) {
    std::string flags;
    if (Attributes & FILE_ATTRIBUTE_READONLY) flags += ", read-only";
    if (Attributes & FILE_ATTRIBUTE_HIDDEN) flags += ", hidden";
    if (Attributes & FILE_ATTRIBUTE_SYSTEM) flags += ", system";
    return flags;
}

std::string FileDescription(const WIN32_FIND_DATAW& Data) {
    SYSTEMTIME t{};
    FileTimeToSystemTime(&Data.ftLastWriteTime, &t);
    unsigned long long size = (static_cast<unsigned long long>(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
    char text[160];
    std::snprintf(text, sizeof(text), "file, %llu bytes, written %04u-%02u-%02u %02u:%02u:%02u.%03u", size, t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text + Flags(Data.dwFileAttributes);
}

std::string ValueDescription(DWORD Type, const BYTE* Data, DWORD Size) {
    const std::map<DWORD, const char*> names = {
        {REG_SZ, "REG_SZ"},         {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
        {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"},         {REG_QWORD, "REG_QWORD"},
        {REG_NONE, "REG_NONE"}};
    auto name = names.find(Type);
    std::string text = name != names.end() ? name->second : "REG_TYPE(" + std::to_string(Type) + ")";
    if ((Type == REG_SZ || Type == REG_EXPAND_SZ || Type == REG_MULTI_SZ) && Size % 2 == 0) {
        std::wstring s(reinterpret_cast<const wchar_t*>(Data), Size / 2);
        std::string shown;
        for (char c : Utf8(s)) shown += c ? std::string(1, c) : std::string("\\0");
        return text + " \"" + shown + "\"";
    }
    if (Type == REG_DWORD && Size == 4) {
        char hex[16];
        std::snprintf(hex, sizeof(hex), " 0x%08lx", *reinterpret_cast<const unsigned long*>(Data));
        return text + hex;
    }
    text += " [" + std::to_string(Size) + "]";
    char byte[4];
    for (DWORD i = 0; i < Size; ++i) {
        std::snprintf(byte, sizeof(byte), " %02x", Data[i]);
        text += byte;
    }
    return text;
}

class TWalker {
public:
    TWalker(const TScope& Scope, TSnapshot& Into) : FInto(Into) {
        for (const std::string& item : Scope.Ignore) FIgnore.push_back(Folded(Wide(item)));
    }

    void Folder(const std::wstring& Path) {
        WIN32_FIND_DATAW data;
        TFindHandle find(FindFirstFileW((Path + L"*").c_str(), &data));
        for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.Get(), &data)) {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring item = Path + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                item += L"\\";
                if (Ignored(item)) continue;
                Add(item, "folder" + Flags(data.dwFileAttributes));
                // A link leads elsewhere, possibly back in.
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Folder(item);
            } else if (!Ignored(item)) {
                Add(item, FileDescription(data));
            }
        }
    }

    struct TSubtree {
        HKEY Root;
        std::wstring RootName, Path;
        int Depth;
    };

    // Keys at this depth are not walked but listed in Deferred, to be walked apart.
    void DeferAt(int Depth) { FDeferAt = Depth; }
    std::vector<TSubtree> Deferred;

    void Key(HKEY Root, const std::wstring& RootName, const std::wstring& Path, int Depth) {
        if (Depth == FDeferAt) {
            Deferred.push_back({Root, RootName, Path, Depth});
            return;
        }
        std::wstring item = Path.empty() ? RootName : RootName + L"\\" + Path;
        if (Depth > 64 || Ignored(item)) return;
        TRegKey key;
        if (RegOpenKeyExW(Root, Path.empty() ? nullptr : Path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return;
        if (!Path.empty()) Add(item, "key");
        DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxData = 0;
        RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values, &maxName,
                         &maxData, nullptr, nullptr);
        std::vector<wchar_t> name(maxName + 2);
        std::vector<BYTE> data(maxData + 2);
        for (DWORD i = 0;; ++i) {
            DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
            LONG r = RegEnumValueW(key.Get(), i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
            if (r == ERROR_MORE_DATA) {  // grew meanwhile
                name.resize(name.size() * 2 + 256);
                data.resize(data.size() * 2 + 256);
                --i;
                continue;
            }
            if (r != ERROR_SUCCESS) break;
            std::wstring valueName(name.data(), nameSize);
            std::wstring valueItem = item + L"|" + (valueName.empty() ? L"(default)" : valueName);
            if (!Ignored(valueItem)) Add(valueItem, ValueDescription(type, data.data(), dataSize));
        }
        std::vector<std::wstring> children;
        std::vector<wchar_t> child(maxSubKey + 2 > 256 ? maxSubKey + 2 : 256);
        for (DWORD i = 0;; ++i) {
            DWORD size = static_cast<DWORD>(child.size());
            LONG r = RegEnumKeyExW(key.Get(), i, child.data(), &size, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_MORE_DATA) {
                child.resize(child.size() * 2);
                --i;
                continue;
            }
            if (r != ERROR_SUCCESS) break;
            children.emplace_back(child.data(), size);
        }
        key.Reset();
        for (const std::wstring& c : children) Key(Root, RootName, Path.empty() ? c : Path + L"\\" + c, Depth + 1);
    }

    bool Ignored(const std::wstring& Item) const {
        std::wstring folded = Folded(Item);
        for (const std::wstring& prefix : FIgnore) {
            if (folded.compare(0, prefix.size(), prefix) != 0) continue;
            // Whole names only: "...\Temp" leaves out "...\Temp\x" but not "...\Temporary".
            if (folded.size() == prefix.size() || prefix.back() == L'\\' || folded[prefix.size()] == L'\\' ||
                folded[prefix.size()] == L'|')
                return true;
        }
        return false;
    }

private:
    void Add(const std::wstring& Item, std::string Description) {
        FInto.FItems[Utf8(Folded(Item))] = {Utf8(Item), std::move(Description)};
    }

    TSnapshot& FInto;
    std::vector<std::wstring> FIgnore;
    int FDeferAt = -1;
};

std::wstring RootName(HKEY Root) {
    if (Root == HKEY_CURRENT_USER) return L"HKCU";
    if (Root == HKEY_LOCAL_MACHINE) return L"HKLM";
    if (Root == HKEY_CLASSES_ROOT) return L"HKCR";
    if (Root == HKEY_USERS) return L"HKU";
    throw std::invalid_argument("snapshot: unknown registry root");
}

std::string WithoutSeparator(std::string Path) {
    while (!Path.empty() && Path.back() == '\\') Path.pop_back();
    return Path;
}

std::string Cut(const std::string& Text) { return Text.size() > 160 ? Text.substr(0, 157) + "..." : Text; }

// Copies "HKLM\Software\Classes\X" to "HKCR\X".
void DeriveClassesRoot(TSnapshot& Snapshot, const TWalker& Walker) {
    std::map<std::string, std::pair<std::string, std::string>> view;
    const std::string prefix = "hklm\\software\\classes";
    for (auto it = Snapshot.FItems.lower_bound(prefix); it != Snapshot.FItems.end(); ++it) {
        const std::string& folded = it->first;
        if (folded.compare(0, prefix.size(), prefix) != 0) break;
        if (folded.size() == prefix.size()) continue;  // the key itself is the root
        char next = folded[prefix.size()];
        if (next != '\\' && next != '|') continue;
        std::string item = "HKCR" + it->second.first.substr(prefix.size());
        if (Walker.Ignored(Wide(item, CP_UTF8))) continue;
        view["hkcr" + folded.substr(prefix.size())] = {item, it->second.second};
    }
    Snapshot.FItems.merge(view);
}

// A thread's start: the i686 system calls it as stdcall, which no lambda is.
DWORD WINAPI RunJob(void* Job) {
    (*static_cast<std::function<void()>*>(Job))();
    return 0;
}

}  // namespace

TScope PrefixScope() {
    TScope scope;
    scope.Folders = {"C:\\"};
    scope.Keys = {{HKEY_CURRENT_USER, ""}, {HKEY_LOCAL_MACHINE, ""}, {HKEY_CLASSES_ROOT, ""}};
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    scope.Ignore = {
        // The test program's own scratch folders.
        WithoutSeparator(temp),
        // Wine's display driver records each display device it starts on, which
        // is whenever a program first opens a window on a new X display.
        "HKLM\\System\\CurrentControlSet\\Control\\Video",
        "HKLM\\System\\ControlSet001\\Control\\Video",
        "HKLM\\HARDWARE\\DEVICEMAP\\VIDEO",
        // Wine's settings of the running session, a volatile key.
        "HKCU\\Software\\Wine\\Temporary System Parameters",
        // Wine's fonts for the code page of the program that started last: setup
        // speaks UTF-8, the tests the system's code page, and each start rewrites them.
        "HKCU\\Software\\Wine\\Fonts|Codepages",
        // ... and the bitmap fonts of that code page, which Wine writes again under
        // the old Windows key when a 32-bit program starts after one of another code page.
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts",
        "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Fonts",
        // The user's certificate stores, which Wine makes the first time a program
        // checks a certificate (an HTTPS download); setup stores no certificate.
        "HKCU\\Software\\Microsoft\\SystemCertificates",
        "HKLM\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts",
        "HKLM\\System\\ControlSet001\\Hardware Profiles\\Current\\Software\\Fonts",
    };
    return scope;
}

TSnapshot TSnapshot::Take(const TScope& Scope) {
    TSnapshot snapshot;
    TWalker walker(Scope, snapshot);
    for (const std::string& folder : Scope.Folders) {
        std::wstring path = Wide(folder);
        if (!path.empty() && path.back() != L'\\') path += L'\\';
        walker.Folder(path);
    }
    // Wine's HKCR is HKLM\Software\Classes under another name. Walking it again
    // would double the slowest part of a snapshot, so it is copied when HKLM is
    // walked whole (Snapshot.DerivedClassesRootMatchesTheWalkedOne keeps this honest).
    bool machine = false;
    for (const auto& [root, path] : Scope.Keys) machine = machine || (root == HKEY_LOCAL_MACHINE && path.empty());
    bool derive = false;
    // Each registry call is a round trip to the Wine server; a few walkers at
    // once keep it busy. The first levels are walked here, the rest apart.
    walker.DeferAt(3);
    for (const auto& [root, path] : Scope.Keys) {
        if (root == HKEY_CLASSES_ROOT && path.empty() && machine)
            derive = true;
        else
            walker.Key(root, RootName(root), Wide(path), 0);
    }
    const std::vector<TWalker::TSubtree>& subtrees = walker.Deferred;
    std::vector<TSnapshot> parts(4);
    std::atomic<size_t> next{0};
    std::vector<std::function<void()>> jobs;
    for (TSnapshot& part : parts)
        jobs.push_back([&] {
            TWalker own(Scope, part);
            for (size_t i; (i = next++) < subtrees.size();)
                own.Key(subtrees[i].Root, subtrees[i].RootName, subtrees[i].Path, subtrees[i].Depth);
        });
    // The system's threads: under Wine a winpthreads thread starting while another
    // is joined has been seen to wait for it forever.
    std::vector<TKernelHandle> threads;
    std::vector<HANDLE> handles;
    for (std::function<void()>& job : jobs) {
        if (HANDLE thread = CreateThread(nullptr, 0, RunJob, &job, 0, nullptr))
            handles.push_back(threads.emplace_back(thread).Get());
        else
            job();
    }
    if (!handles.empty()) WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    for (TSnapshot& part : parts) snapshot.FItems.merge(part.FItems);
    if (derive) DeriveClassesRoot(snapshot, walker);
    return snapshot;
}

bool TSnapshot::Has(const std::string& Item) const { return FItems.count(Utf8(Folded(Wide(Item)))) != 0; }

std::vector<TChange> Compare(const TSnapshot& Before, const TSnapshot& After) {
    std::vector<TChange> changes;
    auto b = Before.FItems.begin(), a = After.FItems.begin();
    while (b != Before.FItems.end() || a != After.FItems.end()) {
        if (a == After.FItems.end() || (b != Before.FItems.end() && b->first < a->first)) {
            changes.push_back({'-', b->second.first, b->second.second, ""});
            ++b;
        } else if (b == Before.FItems.end() || a->first < b->first) {
            changes.push_back({'+', a->second.first, "", a->second.second});
            ++a;
        } else {
            if (b->second.second != a->second.second)
                changes.push_back({'~', a->second.first, b->second.second, a->second.second});
            ++a;
            ++b;
        }
    }
    return changes;
}

std::string Describe(const std::vector<TChange>& Changes) {
    if (Changes.empty()) return "(no differences)\n";
    std::string text;
    for (const TChange& c : Changes) {
        text += std::string(1, c.Kind) + " " + c.Item + "  ";
        text +=
            c.Kind == '~' ? Cut(c.Before) + " -> " + Cut(c.After) : "(" + Cut(c.Kind == '+' ? c.After : c.Before) + ")";
        text += "\n";
    }
    return text;
}

std::vector<std::string> Lines(const std::vector<TChange>& Changes) {
    std::vector<std::string> lines;
    for (const TChange& c : Changes) lines.push_back(std::string(1, c.Kind) + " " + c.Item);
    return lines;
}

}  // namespace snapshot
