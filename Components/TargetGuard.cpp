#include "Components/TargetGuard.h"

#include <aclapi.h>
#include <sddl.h>

#include "Components/SetupStructs.h"
#include "support/CodePages.h"
#include "support/Exceptions.h"
#include "support/FileStreams.h"
#include "support/FileSystem.h"
#include "support/PathUtils.h"

const char* const TargetFolderAcl =
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;S-1-15-2-1)";

namespace {

std::string SidText(PSID Sid) {
    TLocalMemory<char> text;
    return Sid && ConvertSidToStringSidA(Sid, text.Out()) ? std::string(text.Get()) : std::string();
}

// "NT AUTHORITY\Authenticated Users", or the SID where the system knows no name.
std::string AccountName(const std::string& Sid) {
    TLocalMemory<void> sid;
    if (Sid.empty() || !ConvertStringSidToSidA(Sid.c_str(), sid.Out())) return Sid;
    char name[256], domain[256];
    DWORD nameSize = sizeof(name), domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid.Get(), name, &nameSize, domain, &domainSize, &use)) return Sid;
    return (domainSize ? std::string(domain) + "\\" : std::string()) + name;
}

std::string WithoutSeparator(std::string Path) {
    while (Path.size() > 3 && (Path.back() == '\\' || Path.back() == '/')) Path.pop_back();
    return Path;
}

// The path as the file system spells it: long names, "\" only.
std::string LongPath(const std::string& Path) {
    std::string path = WithoutSeparator(Path);
    for (char& c : path)
        if (c == '/') c = '\\';
    char buffer[MAX_PATH * 4];
    DWORD n = GetLongPathNameA(path.c_str(), buffer, sizeof(buffer));
    return n && n < sizeof(buffer) ? WithoutSeparator(std::string(buffer, n)) : path;
}

std::string FinalPath(HANDLE Folder) {
    char buffer[MAX_PATH * 4];
    DWORD n = GetFinalPathNameByHandleA(Folder, buffer, sizeof(buffer), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (!n || n >= sizeof(buffer)) return std::string();
    std::string path(buffer, n);
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) return WithoutSeparator("\\\\" + path.substr(8));
    if (path.compare(0, 4, "\\\\?\\") == 0) return WithoutSeparator(path.substr(4));
    return WithoutSeparator(path);
}

bool SamePathText(const std::string& A, const std::string& B) {
    std::wstring a = AnsiToWide(A), b = AnsiToWide(B);
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Everything below Folder: the Administrators own it and it takes only what it inherits.
bool InheritOnlyBelow(const std::string& Folder, PSID Owner, PACL Empty, int Depth) {
    if (Depth > 64) return false;
    WIN32_FIND_DATAA data;
    TFindHandle find(FindFirstFileA((Folder + "*").c_str(), &data));
    if (!find) return true;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = Folder + name;
        if (IsLinkAt(path)) return false;
        if (SetNamedSecurityInfoA(
                const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, Owner,
                nullptr, Empty, nullptr) != ERROR_SUCCESS)
            return false;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !InheritOnlyBelow(path + "\\", Owner, Empty, Depth + 1))
            return false;
    } while (FindNextFileA(find.Get(), &data));
    return true;
}

}  // namespace

TFolderSecurity ReadFolderSecurityFromSystem(HANDLE Folder) {
    TFolderSecurity security;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    TLocalMemory<void> descriptor;
    if (GetSecurityInfo(Folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, descriptor.Out()) != ERROR_SUCCESS)
        return security;
    security.Read = true;
    security.Owner = SidText(owner);
    security.HasDacl = dacl != nullptr;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) continue;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        TAceEntry read{ace->Header.AceType, ace->Header.AceFlags, ace->Mask, {}};
        // The plain and callback forms hold the SID right after the mask; the object forms hold GUIDs first.
        if (read.Type == ACCESS_ALLOWED_ACE_TYPE || read.Type == ACCESS_DENIED_ACE_TYPE ||
            read.Type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE || read.Type == ACCESS_DENIED_CALLBACK_ACE_TYPE)
            read.Sid = SidText(const_cast<DWORD*>(&ace->SidStart));
        security.Aces.push_back(read);
    }
    return security;
}

bool ProtectFolderInSystem(const std::string& Folder) {
    TLocalMemory<void> descriptor, admins;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(TargetFolderAcl, SDDL_REVISION_1, descriptor.Out(),
                                                              nullptr) ||
        !ConvertStringSidToSidA(AdministratorsSid, admins.Out()))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted);
    const std::string path = NormalizeFolderPathWith(Folder, AnsiCharSet());
    if (SetNamedSecurityInfoA(
            const_cast<char*>(WithoutSeparator(path).c_str()), SE_FILE_OBJECT,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, admins.Get(),
            nullptr, dacl, nullptr) != ERROR_SUCCESS)
        return false;
    ACL empty;
    return InitializeAcl(&empty, sizeof(empty), ACL_REVISION) && InheritOnlyBelow(path, admins.Get(), &empty, 0);
}

TFolderSecurity (*ReadFolderSecurity)(HANDLE Folder) = ReadFolderSecurityFromSystem;
bool (*ProtectFolder)(const std::string& Folder) = ProtectFolderInSystem;

std::string LinkRefusal(const std::string& Folder, const std::string& Link) {
    return Format(
        "Setup does not install into \"%s\": \"%s\" is a link, so the folder may be another than the one "
        "named. Choose a folder that no link leads to.",
        Folder.c_str(), Link.c_str());
}

namespace {

std::string LeadsElsewhere(const std::string& Folder, const std::string& Final) {
    return Format(
        "Setup does not install into \"%s\": a link on its way leads to \"%s\", so the folder may be "
        "another than the one named. Choose a folder that no link leads to.",
        Folder.c_str(), Final.c_str());
}

}  // namespace

TFileHandle HoldFolder(const std::string& Folder) {
    const std::string path = WithoutSeparator(Folder);
    // No delete sharing: while it is held the folder can be neither renamed nor deleted.
    TFileHandle held(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
    if (!held)
        throw ETargetRefused(
            Format("Setup cannot open the folder \"%s\". %s", Folder.c_str(), SysErrorMessage(GetLastError()).c_str()));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(held.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw ETargetRefused(Format("Setup does not install into \"%s\": it is no folder.", Folder.c_str()));
    if (RedirectsElsewhere(tag.FileAttributes, tag.ReparseTag) || IsLinkAt(path))
        throw ETargetRefused(LinkRefusal(Folder, path));
    // A link among its parents takes the name elsewhere: the folder held is not the one named.
    const std::string final = FinalPath(held.Get());
    if (!SamePathText(final, LongPath(path))) throw ETargetRefused(LeadsElsewhere(Folder, final));
    return held;
}

std::string WhyOthersCanChange(HANDLE Folder) {
    std::optional<TOtherWriter> other = OtherWriterOf(ReadFolderSecurity(Folder));
    if (!other) return std::string();
    if (other->Sid.empty()) return "its permissions cannot be read";
    const std::string name = AccountName(other->Sid);
    return other->IsOwner ? "it belongs to " + name : name + " may change it";
}
