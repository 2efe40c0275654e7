// Configuration values and the bounded text helpers on arbitrary bytes. The
// first input byte is the buffer capacity; the rest is the text. Buffers are
// heap blocks of exactly that capacity so any overrun is reported.
#include "core/config_values.h"
#include "core/drive_choice.h"
#include "core/text_util.h"
#include "core/work_paths.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        abort();
}

// The result must be a terminated prefix of the source, cut at a boundary.
void CheckCut(const std::vector<char>& buf, size_t stored, const char* source, size_t capacity) {
    Check(stored < capacity && buf[stored] == '\0' && strlen(buf.data()) == stored);
    Check(memcmp(buf.data(), source, stored) == 0);
    Check(GbkBoundaryAtOrBelow(buf.data(), stored) == stored);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    size_t capacity = data[0] + 1u;
    std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    // The text up to its first NUL, in a block of exactly its size.
    std::string textString(raw.c_str());
    std::vector<char> text(textString.c_str(), textString.c_str() + textString.size() + 1);
    size_t length = textString.size();

    int32_t value = ParseIniInteger(text.data());
    // Short digit runs must agree with strtol.
    const char* p = text.data();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    size_t sign = (*p == '+' || *p == '-') ? 1 : 0;
    size_t digits = strspn(p + sign, "0123456789");
    if (digits > 0 && digits <= 9)
        Check(value == static_cast<int32_t>(strtol(p, nullptr, 10)));
    if (digits == 0)
        Check(value == 0);

    std::vector<char> field(capacity);
    memcpy(field.data(), raw.data(), raw.size() < capacity ? raw.size() : capacity);
    std::vector<char> before = field;
    AppendFolderSeparator(field.data(), field.size());
    size_t fieldLength = strnlen(before.data(), capacity);
    if (fieldLength == 0 || fieldLength + 1 >= capacity || before[fieldLength - 1] == '\\') {
        Check(field == before);
    } else {
        Check(field[fieldLength] == '\\' && field[fieldLength + 1] == '\0');
    }

    size_t limit = raw.size() > 0 ? static_cast<uint8_t>(raw[0]) : 0;
    size_t boundary = GbkBoundaryAtOrBelow(text.data(), limit);
    Check(boundary <= limit && boundary <= length);

    long separator = FindLastSeparatorGbk(text.data());
    Check(separator >= -1 && separator < static_cast<long>(length));
    if (separator >= 0)
        Check(text[separator] == '\\');

    std::vector<char> copy(capacity, '#');
    CheckCut(copy, CopyBounded(copy.data(), capacity, text.data()), text.data(), capacity);

    std::vector<char> formatted(capacity, '#');
    CheckCut(formatted, FormatBounded(formatted.data(), capacity, "%s", text.data()), text.data(),
             capacity);

    std::vector<char> fits(capacity, '#');
    Check(FormatFits(fits.data(), capacity, "%s", text.data()) == (length < capacity));
    Check(strnlen(fits.data(), capacity) < capacity);

    // Appending onto half the buffer already in use.
    std::vector<char> appended(capacity, '\0');
    size_t used = CopyBounded(appended.data(), capacity / 2 + 1, text.data());
    size_t total = AppendBounded(appended.data(), capacity, text.data());
    Check(total >= used && total < capacity && strlen(appended.data()) == total);

    std::vector<char> workDir(capacity), configPath(capacity);
    uint32_t tick = static_cast<uint32_t>(value);
    if (MakeWorkDirPath(workDir.data(), capacity, text.data(), tick))
        Check(strlen(workDir.data()) == length + 13);
    if (MakeConfigPath(configPath.data(), capacity, text.data(), tick))
        Check(strlen(configPath.data()) == length + 12);

    std::vector<unsigned> drives(raw.size() / 4);
    if (!drives.empty())
        memcpy(drives.data(), raw.data(), drives.size() * sizeof(unsigned));
    long drive = ChooseDriveIndex(drives.data(), drives.size());
    Check(drives.empty() ? drive == -1 : drive >= 0 && drive < static_cast<long>(drives.size()));
    return 0;
}
