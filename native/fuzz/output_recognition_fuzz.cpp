// Captured command output as arbitrary bytes (NULs, half characters, any
// length), in a heap block of exactly its size.
#include "install/output_recognition.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    bool installed = IsInstallAccepted(text.data(), text.size());
    IsStartAccepted(text.data(), text.size());
    // Shorter than the shorter of the two install texts: never accepted.
    if (installed && size < strlen("The service already exists!"))
        abort();
    return 0;
}
