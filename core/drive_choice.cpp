#include "core/drive_choice.h"

long ChooseDriveIndex(const unsigned* driveTypes, size_t count) {
    if (count == 0)
        return -1;
    int fixedSeen = 0;
    for (size_t i = 0; i < count; ++i) {
        if (driveTypes[i] == kDriveTypeFixed && ++fixedSeen == 2)
            return static_cast<long>(i);
    }
    return static_cast<long>(count - 1);
}
