// A setup program's package is untrusted: reading its directory and decoding
// any entry must end in a result or an EInstallException, for any bytes.
#include <cstdint>
#include <memory>
#include <vector>

#include "Components/PackageFormat.h"
#include "support/TextUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TPackageReader reader(std::make_unique<TMemoryStream>(std::vector<uint8_t>(Data, Data + Size)));
    TStream& package = reader.Stream();
    // A certificate entry is trusted only for a table that ends the file behind the header.
    const TSignatureFields fields = ReadSignatureFields(package);
    const int64_t end = PackageEnd(package);
    if (end < 0 || end > static_cast<int64_t>(Size)) __builtin_trap();
    if (end != static_cast<int64_t>(Size) &&
        (end != fields.TableStart || fields.TableSize <= 0 || end + fields.TableSize != static_cast<int64_t>(Size) ||
         fields.TableEntryAt + 8 > end || fields.CheckSumAt + 4 > fields.TableEntryAt || fields.CheckSumAt < 0))
        __builtin_trap();
    try {
        reader.Verify();
    } catch (const Exception&) {
    }
    TFileDataDynArray entries;
    try {
        entries = reader.Directory();
    } catch (const EInstallException&) {
        return 0;
    }
    if (entries.size() > static_cast<size_t>(MaxPackageEntries)) __builtin_trap();
    int64_t dataEnd = PackageDataEnd(package, entries.size());
    for (const TFileData& entry : entries) {
        // The reader let it through: its texts are safe and its bytes in front of the directory.
        if (!IsSafeEntryName(EntryName(entry)) || !IsSafeEntryFolder(EntryFolder(entry))) __builtin_trap();
        if (entry.Offset < 0 || entry.Size < 0 || entry.Offset > dataEnd) __builtin_trap();
        const TFileData* found = reader.Find(EntryName(entry));
        if (!found || !SameTextAscii(EntryName(*found), EntryName(entry))) __builtin_trap();
        if (entry.Size > (1 << 22)) continue;  // keep runs short; the copy loop is the same
        TMemoryStream out;
        try {
            reader.Decode(entry, out);
            if (out.Data().size() != static_cast<size_t>(entry.Size)) __builtin_trap();
        } catch (const EInstallException&) {
        }
    }
    return 0;
}
