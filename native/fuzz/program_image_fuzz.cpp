// A program file as untrusted bytes: its layout, a resource found through
// the resource directory, and the header checksum over it.
#include "package/program_image.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ProgramLayout layout;
    if (ReadProgramLayout(data, size, &layout)) {
        if (layout.CheckSumOffset + 4 > size)
            abort(); // the field must lie inside the file
        ComputePeChecksum(data, size, layout.CheckSumOffset);
    }
    FileResource found;
    for (uint32_t id : {101u, 122u, 131u}) {
        if (FindFileResource(data, size, "BIN", 0, id, &found) &&
            (found.Offset > size || size - found.Offset < found.Size))
            abort(); // the data must lie inside the file
    }
    if (FindFileResource(data, size, nullptr, 5, 103, &found) &&
        (found.Offset > size || size - found.Offset < found.Size))
        abort();
    return 0;
}
