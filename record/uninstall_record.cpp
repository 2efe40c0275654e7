#include "record/uninstall_record.h"

#include "core/text_util.h"
#include "package/package_reader.h"

#include <cstdio>
#include <cstring>

namespace {

const char kMagic[] = "MDPX-UNINSTALL";

bool HasForbiddenByte(const std::string& text) {
    for (unsigned char b : text) {
        if (b < 0x20 || strchr("<>\"|?*:/\\", b) != nullptr)
            return true;
    }
    return false;
}

// Splits "a b c" at the first blank; false when there is none.
bool SplitFirst(const std::string& text, std::string* head, std::string* tail) {
    size_t blank = text.find(' ');
    if (blank == std::string::npos)
        return false;
    *head = text.substr(0, blank);
    *tail = text.substr(blank + 1);
    return true;
}

bool ParseDecimal(const std::string& text, uint64_t* out) {
    if (text.empty() || text.size() > 19)
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    *out = value;
    return true;
}

bool ParseHex(const std::string& text, size_t digits, uint64_t* out) {
    if (text.size() != digits)
        return false;
    uint64_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    *out = value;
    return true;
}

enum class LineResult { kTaken, kRefused, kMalformed };

// UTF-8 text with every non-ASCII character as one 'x' byte per UTF-16 unit:
// separators, dots and forbidden bytes stay where they are, and no byte of a
// character can be taken for one of them. Empty when not well formed.
std::string AsciiShape(const std::string& text) {
    if (!IsWellFormedUtf8(text))
        return std::string();
    std::string shape;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80)
            shape += static_cast<char>(b);
        else if (b >= 0xF0)
            shape += "xx"; // a surrogate pair in UTF-16
        else if (b >= 0xC0)
            shape += 'x';
    }
    return shape;
}

// The text the GBK rules below apply to: the text itself, or its shape.
bool ShapeFor(const std::string& text, unsigned codePage, std::string* shape) {
    if (codePage != kRecordCodePageUtf8) {
        *shape = text;
        return true;
    }
    *shape = AsciiShape(text);
    return !shape->empty() || text.empty();
}

LineResult ParseFileLine(const std::string& fields, UninstallRecord* record, unsigned codePage) {
    std::string size, rest, stamp, path;
    RecordedFile file;
    uint64_t crc = 0;
    if (!SplitFirst(fields, &size, &rest) || !SplitFirst(rest, &stamp, &path) ||
        !ParseDecimal(size, &file.Size) ||
        !(codePage == kRecordCodePageUtf8 ? ParseHex(stamp, 8, &crc)
                                          : ParseHex(stamp, 16, &file.WriteTime)))
        return LineResult::kMalformed;
    file.Crc = static_cast<uint32_t>(crc);
    if (!IsContainedRelativePath(path, codePage))
        return LineResult::kRefused;
    file.Path = path;
    record->Files.push_back(file);
    return LineResult::kTaken;
}

LineResult ParseLinkLine(const std::string& fields, UninstallRecord* record, unsigned codePage) {
    if (fields.size() < 3 || fields[1] != ' ')
        return LineResult::kMalformed;
    RecordedLink link;
    char place = fields[0];
    if (place != 'S' && place != 'D' && place != 'Q')
        return LineResult::kMalformed;
    link.Place = static_cast<LinkPlace>(place);
    link.Name = fields.substr(2);
    if (!IsSafeLinkName(link.Name, codePage))
        return LineResult::kRefused;
    record->Links.push_back(link);
    return LineResult::kTaken;
}

LineResult ParseLine(const std::string& line, UninstallRecord* record, unsigned codePage) {
    // A name or version may be empty: "N " (or "N", its blank lost).
    bool emptyText = (line[0] == 'N' || line[0] == 'V') &&
                     (line.size() == 1 || line == std::string(1, line[0]) + " ");
    if (!emptyText && (line.size() < 3 || line[1] != ' '))
        return LineResult::kMalformed;
    std::string fields = emptyText ? std::string() : line.substr(2);
    if (codePage == kRecordCodePageUtf8 && !IsWellFormedUtf8(fields))
        return LineResult::kMalformed;
    switch (line[0]) {
    case 'N':
        record->Product = fields;
        return LineResult::kTaken;
    case 'V':
        record->Version = fields;
        return LineResult::kTaken;
    case 'K':
        if (!IsSafeKeyName(fields, codePage))
            return LineResult::kRefused;
        record->KeyName = fields;
        return LineResult::kTaken;
    case 'S':
        if (!IsKnownServiceName(fields))
            return LineResult::kRefused;
        record->Services.push_back(fields);
        return LineResult::kTaken;
    case 'L':
        return ParseLinkLine(fields, record, codePage);
    case 'B':
    case 'D':
        if (!IsContainedRelativePath(fields, codePage))
            return LineResult::kRefused;
        (line[0] == 'B' ? record->BackupFolders : record->Folders).push_back(fields);
        return LineResult::kTaken;
    case 'F':
        return ParseFileLine(fields, record, codePage);
    default:
        return LineResult::kMalformed;
    }
}

} // namespace

bool IsWellFormedUtf8(const std::string& text) {
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        size_t more = b < 0x80 ? 0 : b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : 3;
        if ((b >= 0x80 && b < 0xC2) || b > 0xF4 || text.size() - i <= more)
            return false;
        uint32_t value = more == 0 ? b : b & (0x3Fu >> more);
        for (size_t k = 1; k <= more; ++k) {
            unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            value = value << 6 | (c & 0x3Fu);
        }
        if (value < kSmallest[more] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

bool IsContainedRelativePath(const std::string& path, unsigned codePage) {
    std::string shape;
    if (!ShapeFor(path, codePage, &shape) || shape.empty() || shape.size() > 259)
        return false;
    return IsSafeRelativePath(shape.c_str(), shape.size() + 1);
}

bool IsSafeLinkName(const std::string& name, unsigned codePage) {
    std::string shape;
    if (!ShapeFor(name, codePage, &shape) || shape.size() <= 4 || name.size() > 200 ||
        HasForbiddenByte(shape))
        return false;
    std::string extension = shape.substr(shape.size() - 4);
    for (char& c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == ".lnk" && shape.find_first_not_of(". ") != std::string::npos &&
           IsContainedRelativePath(shape);
}

bool IsSafeKeyName(const std::string& text, unsigned codePage) {
    std::string name;
    if (!ShapeFor(text, codePage, &name) || text.size() > 200)
        return false;
    if (name.empty())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(name[i]);
        if (IsGbkLeadByte(b) && i + 1 < name.size()) {
            ++i; // a trail byte 0x5C is part of the character
            continue;
        }
        if (b < 0x20 || b == '\\')
            return false;
    }
    return true;
}

bool IsKnownServiceName(const std::string& name) {
    return name == "VTR NetWork Mysql" || name == "VTR Personal Mysql";
}

std::string UninstallKeyForProduct(const std::string& productName) {
    std::string key;
    for (size_t i = 0; i < productName.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(productName[i]);
        if (IsGbkLeadByte(b) && i + 1 < productName.size()) {
            key += productName.substr(i, 2);
            ++i;
            continue;
        }
        key += (b < 0x20 || b == '\\') ? '_' : static_cast<char>(b);
    }
    if (key.size() > 180)
        key.resize(GbkBoundaryAtOrBelow(key.c_str(), 180));
    return "MDPX " + (key.empty() ? std::string("Setup") : key);
}

std::string FormatUninstallRecord(const UninstallRecord& record) {
    std::string text = std::string(kMagic) + " " + std::to_string(kUninstallRecordVersion) + "\r\n";
    auto add = [&text](char tag, const std::string& fields) {
        text += tag;
        text += ' ';
        text += fields;
        text += "\r\n";
    };
    add('N', record.Product);
    add('V', record.Version);
    if (!record.KeyName.empty())
        add('K', record.KeyName);
    for (const std::string& service : record.Services)
        add('S', service);
    for (const RecordedLink& link : record.Links)
        add('L', std::string(1, static_cast<char>(link.Place)) + " " + link.Name);
    for (const std::string& folder : record.BackupFolders)
        add('B', folder);
    for (const std::string& folder : record.Folders)
        add('D', folder);
    for (const RecordedFile& file : record.Files) {
        char numbers[48];
        snprintf(numbers, sizeof numbers, "%llu %08lX ", static_cast<unsigned long long>(file.Size),
                 static_cast<unsigned long>(file.Crc));
        add('F', numbers + file.Path);
    }
    return text;
}

RecordError ParseUninstallRecord(const char* text, size_t size, UninstallRecord* record,
                                 size_t* badLine) {
    *record = UninstallRecord();
    if (badLine)
        *badLine = 0;
    if (text == nullptr || size == 0)
        return RecordError::kEmpty;
    if (size > kUninstallRecordMaxBytes)
        return RecordError::kTooLarge;
    UninstallRecord parsed;
    unsigned codePage = kRecordCodePageUtf8;
    size_t lineNumber = 0;
    size_t start = 0;
    RecordError error = RecordError::kOk;
    while (start < size && error == RecordError::kOk) {
        const char* end = static_cast<const char*>(memchr(text + start, '\n', size - start));
        size_t lineEnd = end ? static_cast<size_t>(end - text) : size;
        size_t next = lineEnd + 1;
        if (lineEnd > start && text[lineEnd - 1] == '\r')
            --lineEnd;
        std::string line(text + start, lineEnd - start);
        start = next;
        ++lineNumber;
        if (line.find('\0') != std::string::npos || line.find('\r') != std::string::npos) {
            error = RecordError::kMalformed;
        } else if (lineNumber == 1) {
            std::string magic, version;
            if (!SplitFirst(line, &magic, &version) || magic != kMagic)
                error = RecordError::kNotARecord;
            else if (version == "1")
                parsed.FormatVersion = 1;
            else if (version != std::to_string(kUninstallRecordVersion))
                error = RecordError::kOtherVersion;
            codePage = RecordCodePage(parsed);
        } else if (!line.empty()) {
            LineResult result = ParseLine(line, &parsed, codePage);
            if (result == LineResult::kMalformed)
                error = RecordError::kMalformed;
            else if (result == LineResult::kRefused)
                parsed.Refused.push_back(line.substr(2));
        }
    }
    if (error == RecordError::kOk && lineNumber == 0)
        error = RecordError::kEmpty;
    if (error != RecordError::kOk) {
        if (badLine)
            *badLine = lineNumber;
        return error;
    }
    *record = std::move(parsed);
    return RecordError::kOk;
}
