#pragma once
// The package pin: 16 bytes inside the setup program that tie it to its package,
// so that a package swapped in beside a signed program, with a digest made again
// to match, is not taken for the program's own. The packer finds them right after
// the marker below and fills them with the MD5 digest of the finished file in
// front of its trailing digest, counting the pin and the two signature fields as
// zeros; a code signature comes after that. All zeros: never filled (a bare
// setup program, the uninstaller's copy). Portable.
#include <cstdint>

struct TPackagePinSlot {
    uint8_t Marker[16];
    uint8_t Digest[16];
};

// The running program's own pin. Volatile: read from the image each time,
// never folded into the code, and the marker's bytes appear nowhere else.
extern const volatile TPackagePinSlot PackagePin;
