#include "Components/PackagePin.h"

const volatile TPackagePinSlot PackagePin = {
    {0x9A, 'O', 'r', 'v', 'a', 'n', 'd', ' ', 'p', 'i', 'n', 0x00, 0xC3, 0x5E, 0x17, 0xE2}, {}};
