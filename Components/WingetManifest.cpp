#include "Components/WingetManifest.h"

#include <algorithm>
#include <functional>

#include "Components/PackageFormat.h"
#include "config/sha256.h"
#include "support/Exceptions.h"
#include "support/VersionText.h"

namespace {

const char* const PackageIdentifier = "Orvand.Orvand";
const char* const ManifestVersion = "1.6.0";
// The uninstall entry setup writes: its key name and display name.
const char* const UninstallKeyName = "Orvand";
const char* const DisplayName = "Orvand";

// A version resource of more is no version resource.
const uint32_t MaxVersionBlock = 1 << 20;
const uint32_t MaxResourceDirectory = 16 << 20;

// Count bytes at Position, or fewer where the file ends.
std::vector<uint8_t> ReadAt(TStream& File, int64_t Position, size_t Count) {
    std::vector<uint8_t> bytes;
    int64_t length = File.Size();
    if (Position < 0 || Position >= length) return bytes;
    bytes.resize(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(Count), length - Position)));
    File.SetPosition(Position);
    File.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

[[noreturn]] void NoVersion(const std::string& Why) {
    throw EPackageError("The program has no version resource to describe it by: " + Why);
}

// The file position of Count bytes at Rva, which one section must hold whole.
int64_t RvaToOffset(const TPeImage& Image, uint32_t Rva, uint32_t Count) {
    for (size_t i = 0; i < Image.SectionCount; ++i) {
        size_t at = Image.Sections + 40 * i;
        if (at + 40 > Image.Head.size()) break;
        uint64_t address = Le32(Image.Head, at + 12), raw = Le32(Image.Head, at + 16),
                 pointer = Le32(Image.Head, at + 20);
        if (Rva >= address && uint64_t(Rva) + Count <= address + raw)
            return static_cast<int64_t>(pointer + Rva - address);
    }
    return -1;
}

// The first entry of the resource directory at Offset (with Id, when not negative): where
// it points, subdirectory bit included; 0 when there is none.
uint32_t FindResourceEntry(const std::vector<uint8_t>& Resources, uint32_t Offset, int64_t Id) {
    const size_t count = Le16(Resources, Offset + 12) + Le16(Resources, Offset + 14);
    for (size_t i = 0; i < count; ++i) {
        size_t at = Offset + 16 + 8 * i;
        if (at + 8 > Resources.size()) break;
        uint32_t name = Le32(Resources, at);
        if (Id < 0 || (!(name & 0x80000000u) && name == Id)) return Le32(Resources, at + 4);
    }
    return 0;
}

std::string Utf8(const std::vector<uint8_t>& Bytes, size_t At, size_t Units) {
    std::string text;
    for (size_t i = 0; i < Units; ++i) {
        uint32_t c = Le16(Bytes, At + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < Units) {
            uint32_t low = Le16(Bytes, At + 2 * i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone half
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | c >> 12);
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | c >> 18);
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// One node of a version block: length, value length, type, key, value, children.
struct TVersionNode {
    size_t End = 0, Value = 0, Children = 0;
    uint32_t ValueLength = 0, Type = 0;
    std::string Key;
};

// The node at At, which must end by End; false when it does not.
bool ReadVersionNode(const std::vector<uint8_t>& Block, size_t At, size_t End, TVersionNode& Node) {
    uint32_t length = Le16(Block, At);
    if (length < 6 || At + length > End) return false;
    Node.End = At + length;
    Node.ValueLength = Le16(Block, At + 2);
    Node.Type = Le16(Block, At + 4);
    size_t key = At + 6, units = 0;
    while (key + 2 * units + 2 <= Node.End && Le16(Block, key + 2 * units) != 0) ++units;
    Node.Key = Utf8(Block, key, units);
    Node.Value = std::min((key + 2 * units + 2 + 3) & ~size_t(3), Node.End);
    size_t valueBytes = Node.Type == 1 ? 2 * size_t(Node.ValueLength) : Node.ValueLength;
    Node.Children = std::min((Node.Value + valueBytes + 3) & ~size_t(3), Node.End);
    return true;
}

// Calls Visit for each child of Parent, in order.
void ForEachChild(const std::vector<uint8_t>& Block, const TVersionNode& Parent,
                  const std::function<void(const TVersionNode&)>& Visit) {
    TVersionNode child;
    for (size_t at = Parent.Children; at < Parent.End && ReadVersionNode(Block, at, Parent.End, child);
         at = (child.End + 3) & ~size_t(3))
        Visit(child);
}

// A YAML scalar in double quotes: the text whole, whatever it holds.
std::string Quoted(const std::string& Text) {
    std::string yaml = "\"";
    for (unsigned char c : Text) {
        if (c == '"' || c == '\\') {
            yaml += '\\';
            yaml += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            yaml += Format("\\x%02X", c);
        } else {
            yaml += static_cast<char>(c);
        }
    }
    return yaml + "\"";
}

bool IsWebAddress(const std::string& Text) {
    std::string scheme;
    for (char c : Text.substr(0, Text.find(':'))) scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    size_t rest = scheme.size() + 3;
    return (scheme == "http" || scheme == "https") && Text.compare(scheme.size(), 3, "://") == 0 &&
           Text.size() > rest && Text.size() <= 2048 &&
           std::none_of(Text.begin(), Text.end(), [](unsigned char c) { return c <= ' ' || c == 0x7F; });
}

}  // namespace

std::map<std::string, std::string> ReadVersionStrings(TStream& Program) {
    TPeImage image = ReadPeImage(Program);
    if (image.Header < 0) NoVersion("it is no PE program.");
    const size_t entry = image.Directories + 2 * 8;  // the resource table
    if (Le32(image.Head, image.Directories - 4) < 3 || entry + 8 > image.Sections) NoVersion("it has no resources.");
    const uint32_t rva = Le32(image.Head, entry), size = std::min(Le32(image.Head, entry + 4), MaxResourceDirectory);
    const int64_t at = RvaToOffset(image, rva, size);
    if (size == 0 || at < 0) NoVersion("it has no resources.");
    const std::vector<uint8_t> resources = ReadAt(Program, at, size);
    // Type 16 (version), its first name, its first language.
    uint32_t offset = FindResourceEntry(resources, 0, 16);
    for (int level = 0; level < 2 && (offset & 0x80000000u); ++level)
        offset = FindResourceEntry(resources, offset & 0x7FFFFFFFu, -1);
    if (offset == 0 || (offset & 0x80000000u) || offset + 8 > resources.size()) NoVersion("it has no version.");
    const uint32_t dataRva = Le32(resources, offset), dataSize = std::min(Le32(resources, offset + 4), MaxVersionBlock);
    const int64_t dataAt = RvaToOffset(image, dataRva, dataSize);
    if (dataAt < 0) NoVersion("its version lies outside the file.");
    const std::vector<uint8_t> block = ReadAt(Program, dataAt, dataSize);

    TVersionNode root;
    if (!ReadVersionNode(block, 0, block.size(), root) || root.Key != "VS_VERSION_INFO")
        NoVersion("its version block is damaged.");
    std::map<std::string, std::string> strings;
    bool tableRead = false;
    ForEachChild(block, root, [&](const TVersionNode& info) {
        if (info.Key != "StringFileInfo") return;
        ForEachChild(block, info, [&](const TVersionNode& table) {
            if (tableRead) return;
            tableRead = true;
            ForEachChild(block, table, [&](const TVersionNode& value) {
                size_t units = std::min<size_t>(value.ValueLength, (value.End - value.Value) / 2);
                std::string text = Utf8(block, value.Value, units);
                strings[value.Key] = text.substr(0, text.find('\0'));
            });
        });
    });
    if (strings.empty()) NoVersion("its version holds no strings.");
    return strings;
}

std::string ProgramArchitecture(TStream& Program) {
    switch (ReadPeImage(Program).Machine) {
        case 0x14C:
            return "x86";
        case 0x8664:
            return "x64";
        case 0x1C4:
            return "arm";
        case 0xAA64:
            return "arm64";
        default:
            return "";
    }
}

std::vector<TManifestFile> WingetManifest(TStream& Setup, const std::string& Url) {
    if (!IsWebAddress(Url))
        throw EPackageError("The download address must begin with http:// or https:// and hold no blanks, not \"" +
                            Url + "\".");
    if (!VerifyPackageDigest(Setup))
        throw EPackageError("It is no setup program whose package is whole: its digest does not match.");
    std::map<std::string, std::string> strings = ReadVersionStrings(Setup);
    const std::string architecture = ProgramArchitecture(Setup);
    if (architecture.empty())
        throw EPackageError("The program is built for a machine the package manager does not know.");
    auto value = [&](const char* Name, size_t Least) {
        const std::string& text = strings[Name];
        if (text.size() < Least || text.size() > 256)
            throw EPackageError(Format("The version resource's %s \"%s\" is not %lu to 256 characters long.", Name,
                                       text.c_str(), static_cast<unsigned long>(Least)));
        return text;
    };
    // As setup writes DisplayVersion in its uninstall entry.
    const std::string version = value("ProductVersion", 1) + "." + RevisionFromText(strings["ProductRevision"]);
    if (version.find_first_of("\\/:*?\"<>|") != std::string::npos || version.back() == '.' || version.size() > 128 ||
        std::any_of(version.begin(), version.end(), [](unsigned char c) { return c < 0x20; }))
        throw EPackageError("The version \"" + version + "\" is no package version.");
    const std::string publisher = value("CompanyName", 2), name = value("ProductName", 2);
    const std::string homepage = strings["ProductHomepage"], copyright = strings["LegalCopyright"];
    const std::string sha256 = Sha256ToText(Sha256Stream(Setup));

    auto add = [](std::string& File, const std::string& Key, const std::string& Value) {
        File += Key + ": " + Value + "\n";
    };
    // Each file: the schema's address for editors, then the package and its version.
    auto begin = [&](const char* Type) {
        std::string file = Format("# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n",
                                  Type, ManifestVersion);
        add(file, "PackageIdentifier", PackageIdentifier);
        add(file, "PackageVersion", Quoted(version));
        return file;
    };
    auto end = [&](std::string& File, const char* Type) {
        add(File, "ManifestType", Type);
        add(File, "ManifestVersion", ManifestVersion);
    };

    std::string versionFile = begin("version");
    add(versionFile, "DefaultLocale", "en-US");
    end(versionFile, "version");

    std::string installer = begin("installer");
    add(installer, "InstallerType", "exe");
    add(installer, "Scope", "machine");
    installer += "InstallModes:\n  - interactive\n  - silent\n  - silentWithProgress\nInstallerSwitches:\n";
    // winget passes Custom after the mode's switch: a silent install runs "-silent -allusers",
    // an interactive one "-allusers", both for every user, as the machine scope says.
    add(installer, "  Silent", Quoted("-silent"));
    add(installer, "  SilentWithProgress", Quoted("-silent"));
    add(installer, "  Custom", Quoted("-allusers"));
    add(installer, "  InstallLocation", Quoted("\"-dir=<INSTALLPATH>\""));
    add(installer, "  Log", Quoted("\"-log=<LOGPATH>\""));
    installer += "ExpectedReturnCodes:\n";
    const std::pair<int, const char*> codes[] = {
        {3010, "rebootRequiredToFinish"}, {32, "packageInUse"}, {1639, "invalidParameter"}, {1603, "contactSupport"}};
    for (const auto& [code, response] : codes) {
        add(installer, "  - InstallerReturnCode", std::to_string(code));
        add(installer, "    ReturnResponse", response);
    }
    add(installer, "ElevationRequirement", "elevatesSelf");
    add(installer, "ProductCode", Quoted(UninstallKeyName));
    installer += "AppsAndFeaturesEntries:\n";
    add(installer, "  - DisplayName", Quoted(DisplayName));
    add(installer, "    Publisher", Quoted(publisher));
    add(installer, "    DisplayVersion", Quoted(version));
    add(installer, "    ProductCode", Quoted(UninstallKeyName));
    installer += "Installers:\n";
    add(installer, "  - Architecture", architecture);
    add(installer, "    InstallerUrl", Quoted(Url));
    add(installer, "    InstallerSha256", Quoted(sha256));  // all digits would read as a number
    end(installer, "installer");

    std::string locale = begin("defaultLocale");
    add(locale, "PackageLocale", "en-US");
    add(locale, "Publisher", Quoted(publisher));
    if (IsWebAddress(homepage)) add(locale, "PublisherUrl", Quoted(homepage));
    add(locale, "PackageName", Quoted(name));
    if (IsWebAddress(homepage)) add(locale, "PackageUrl", Quoted(homepage));
    add(locale, "License", Quoted("Proprietary"));
    if (copyright.size() >= 3 && copyright.size() <= 512) add(locale, "Copyright", Quoted(copyright));
    add(locale, "ShortDescription", Quoted("A desktop companion that speaks through animated characters."));
    end(locale, "defaultLocale");

    const std::string stem = PackageIdentifier;
    return {
        {stem + ".yaml", versionFile}, {stem + ".installer.yaml", installer}, {stem + ".locale.en-US.yaml", locale}};
}
