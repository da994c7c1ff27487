#pragma once
// Building packages in memory for the tests, and patching them into bad ones.
#include <cstring>
#include <string>
#include <vector>

#include "Components/PackagePin.h"
#include "Components/PackageWriter.h"
#include "tests/test_util.h"

namespace packtest {

using Bytes = std::vector<uint8_t>;

struct TFile {
    std::string Folder, Name;
    Bytes Data;
    bool Compress = true;
};

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes Noise(size_t Size, uint32_t Seed) { return Text(NoiseText(Size, Seed)); }

// Call's answer on a memory stream over Data.
template <class TCall>
auto OnStream(const Bytes& Data, TCall&& Call) {
    TMemoryStream stream(Data);
    return Call(stream);
}

inline TSignatureFields FieldsOf(const Bytes& File) { return OnStream(File, ReadSignatureFields); }

// A copy of Data with the byte at At changed by Mask.
inline Bytes Flipped(Bytes Data, size_t At, uint8_t Mask) {
    Data.at(At) ^= Mask;
    return Data;
}

inline Bytes Slice(const Bytes& Data, size_t At, size_t Length) {
    return Bytes(Data.begin() + static_cast<ptrdiff_t>(At), Data.begin() + static_cast<ptrdiff_t>(At + Length));
}

inline Bytes BareExe() { return Text("MZ bare setup program stand-in\r\n" + std::string(300, 'x')); }

// A bare program that carries a package pin, unfilled, as install.exe does.
inline Bytes PinnedExe() {
    Bytes exe = BareExe();
    for (volatile const uint8_t& b : PackagePin.Marker) exe.push_back(uint8_t(b));
    exe.insert(exe.end(), 16, 0);
    Bytes tail = Text(std::string(100, 'y'));
    exe.insert(exe.end(), tail.begin(), tail.end());
    return exe;
}

// The files of a package with a setup.xml in .\temp\ added at the end unless present.
inline Bytes Build(const Bytes& Exe, std::vector<TFile> Files) {
    bool hasSetup = false;
    for (const TFile& f : Files) hasSetup |= f.Name == "setup.xml";
    if (!hasSetup) Files.push_back({".\\temp\\", "setup.xml", Text("<?xml version=\"1.0\"?><setup/>"), true});
    TMemoryStream out;
    TPackageWriter writer(out);
    TMemoryStream exe(Exe);
    writer.AddExecutable(exe);
    for (const TFile& f : Files) {
        TMemoryStream source(f.Data);
        writer.AddFile(f.Folder, f.Name, source, f.Compress);
    }
    writer.Finish();
    return out.Data();
}

inline int32_t Count(const Bytes& Package) {
    int32_t n;
    std::memcpy(&n, Package.data() + Package.size() - 20, 4);
    return n;
}

inline size_t RecordPosition(const Bytes& Package, int Index) {
    return Package.size() - 20 - 137 * static_cast<size_t>(Count(Package) - Index);
}

inline TFileData Record(const Bytes& Package, int Index) {
    TFileData e;
    std::memcpy(&e, Package.data() + RecordPosition(Package, Index), sizeof(e));
    return e;
}

inline void SetRecord(Bytes& Package, int Index, const TFileData& Entry) {
    std::memcpy(Package.data() + RecordPosition(Package, Index), &Entry, sizeof(Entry));
}

inline void SetCount(Bytes& Package, int32_t N) { std::memcpy(Package.data() + Package.size() - 20, &N, 4); }

// The package with entry Index's record changed by Change.
template <class TChange>
Bytes WithRecord(Bytes Package, int Index, TChange&& Change) {
    TFileData e = Record(Package, Index);
    Change(e);
    SetRecord(Package, Index, e);
    return Package;
}

// Writes a raw length-prefixed field, so that invalid texts can be stored too.
inline void SetField(uint8_t (&Field)[64], const std::string& Text) {
    std::memset(Field, 0, 64);
    Field[0] = static_cast<uint8_t>(Text.size());
    std::memcpy(Field + 1, Text.data(), std::min<size_t>(Text.size(), 63));
}

// The package with entry Index's folder and name fields written raw, invalid texts too.
inline Bytes WithEntryTexts(const Bytes& Package, int Index, const std::string& Folder, const std::string& Name) {
    return WithRecord(Package, Index, [&](TFileData& e) {
        SetField(e.Folder, Folder);
        SetField(e.Name, Name);
    });
}

// Makes the digest match the contents again.
inline void Reseal(Bytes& Package) {
    TMemoryStream s(Package);
    TMD5Digest d = DigestStream(s, 0, static_cast<int64_t>(Package.size()) - 16);
    std::memcpy(Package.data() + Package.size() - 16, d.data(), 16);
}

}  // namespace packtest
