#include "install/folder_trust.h"

#include "core/text_util.h"

#include <cstring>

const char kProtectedFolderSddl[] =
    "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const char kSystemSid[] = "S-1-5-18";
const char kAdministratorsSid[] = "S-1-5-32-544";
const char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

namespace {

constexpr uint32_t kFileAllAccess = 0x001F01FF;
constexpr uint32_t kGenericAll = 0x10000000;

struct Alias {
    const char* Name;
    const char* Sid;
};
// The aliases SDDL texts of file descriptors use; an unknown one is refused.
const Alias kAliases[] = {
    {"SY", "S-1-5-18"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"WD", "S-1-1-0"},
    {"AU", "S-1-5-11"},     {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"OW", "S-1-3-4"},
    {"AN", "S-1-5-7"},      {"IU", "S-1-5-4"},      {"NU", "S-1-5-2"},      {"SU", "S-1-5-6"},
    {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"PU", "S-1-5-32-547"}, {"BG", "S-1-5-32-546"},
    {"BO", "S-1-5-32-551"}, {"AC", "S-1-15-2-1"},
};

struct RightName {
    const char* Name;
    uint32_t Mask;
};
const RightName kRightNames[] = {
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
    {"RC", 0x00020000}, {"SD", 0x00010000}, {"WD", 0x00040000}, {"WO", 0x00080000},
    {"RP", 0x00000010}, {"WP", 0x00000020}, {"CC", 0x00000001}, {"DC", 0x00000002},
    {"LC", 0x00000004}, {"SW", 0x00000008}, {"LO", 0x00000080}, {"DT", 0x00000040},
    {"CR", 0x00000100}, {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116},
    {"FX", 0x001200A0},
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// Canonical form of a numeric SID of length n: "S-1-" and decimal numbers,
// an authority and 1 to 15 sub-authorities of at most 32 bits.
bool CanonicalNumericSid(const char* text, size_t n, char* out, size_t size) {
    if (n < 4 || (text[0] != 'S' && text[0] != 's') || text[1] != '-')
        return false;
    size_t used = 0;
    int parts = 0;
    size_t i = 2;
    while (i <= n) {
        unsigned long long value = 0;
        size_t start = i;
        while (i < n && IsDigit(text[i])) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (value > 0xFFFFFFFFull)
                return false;
            ++i;
        }
        if (i == start || (i < n && text[i] != '-'))
            return false;
        if (parts == 0 && value != 1) // revision
            return false;
        if (!FormatFits(out + used, size - used, parts == 0 ? "S-%llu" : "-%llu", value))
            return false;
        used += strlen(out + used);
        ++parts;
        ++i; // past the dash (or the end)
    }
    // revision, authority, then 1 to 15 sub-authorities
    return parts >= 3 && parts <= 17;
}

// A SID token at text: an alias or "S-...". *length receives how many bytes.
bool ReadSid(const char* text, char* out, size_t size, size_t* length) {
    if ((text[0] == 'S' || text[0] == 's') && text[1] == '-') {
        size_t n = 2;
        while (IsDigit(text[n]) || text[n] == '-')
            ++n;
        *length = n;
        return CanonicalNumericSid(text, n, out, size);
    }
    for (const Alias& alias : kAliases) {
        if (strncmp(text, alias.Name, 2) == 0) {
            *length = 2;
            return FormatFits(out, size, "%s", alias.Sid);
        }
    }
    return false;
}

bool ReadRights(const char* text, size_t n, uint32_t* mask) {
    *mask = 0;
    if (n > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        unsigned long long value = 0;
        for (size_t i = 2; i < n; ++i) {
            char c = text[i];
            unsigned digit;
            if (IsDigit(c))
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
            value = value * 16 + digit;
            if (value > 0xFFFFFFFFull)
                return false;
        }
        *mask = static_cast<uint32_t>(value);
        return true;
    }
    if (n % 2 != 0)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        bool known = false;
        for (const RightName& right : kRightNames) {
            if (strncmp(text + i, right.Name, 2) == 0) {
                *mask |= right.Mask;
                known = true;
                break;
            }
        }
        if (!known)
            return false;
    }
    return true;
}

// The field of an entry up to the next ';' (or ')' for the last one).
size_t FieldLength(const char* text, char end) {
    size_t n = 0;
    while (text[n] != '\0' && text[n] != ';' && text[n] != ')' && text[n] != '(')
        ++n;
    return text[n] == end ? n : static_cast<size_t>(-1);
}

bool ReadEntry(const char* text, AccessEntry* entry, size_t* length) {
    const char* p = text + 1; // past '('
    memset(entry, 0, sizeof *entry);
    size_t n = FieldLength(p, ';');
    if (n == static_cast<size_t>(-1) || n == 0)
        return false;
    static const char* const kAllowTypes[] = {"A", "OA", "XA", "ZA"};
    static const char* const kOtherTypes[] = {"D", "OD", "XD", "AU", "AL", "OU", "OL", "ML"};
    bool known = false;
    for (const char* type : kAllowTypes) {
        if (strlen(type) == n && strncmp(p, type, n) == 0)
            known = entry->Allow = true;
    }
    for (const char* type : kOtherTypes) {
        if (strlen(type) == n && strncmp(p, type, n) == 0)
            known = true;
    }
    if (!known)
        return false;
    p += n + 1;

    n = FieldLength(p, ';');
    if (n == static_cast<size_t>(-1) || n % 2 != 0)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        if (strncmp(p + i, "OI", 2) == 0)
            entry->ToFiles = true;
        else if (strncmp(p + i, "CI", 2) == 0)
            entry->ToFolders = true;
        else if (strncmp(p + i, "IO", 2) == 0)
            entry->InheritOnly = true;
        else if (strncmp(p + i, "ID", 2) == 0)
            entry->Inherited = true;
        else if (strncmp(p + i, "NP", 2) != 0 && strncmp(p + i, "SA", 2) != 0 &&
                 strncmp(p + i, "FA", 2) != 0)
            return false;
    }
    p += n + 1;

    n = FieldLength(p, ';');
    if (n == static_cast<size_t>(-1) || !ReadRights(p, n, &entry->Mask))
        return false;
    p += n + 1;
    for (int guid = 0; guid < 2; ++guid) { // object and inherited object types
        n = FieldLength(p, ';');
        if (n == static_cast<size_t>(-1))
            return false;
        p += n + 1;
    }
    size_t sidLength = 0;
    if (!ReadSid(p, entry->Sid, sizeof entry->Sid, &sidLength))
        return false;
    p += sidLength;
    if (*p != ')')
        return false;
    *length = static_cast<size_t>(p + 1 - text);
    return true;
}

// The text of section tag ("O:", "D:") at the top level, or null.
const char* FindSection(const char* sddl, char tag) {
    int depth = 0;
    for (const char* p = sddl; *p != '\0'; ++p) {
        if (*p == '(')
            ++depth;
        else if (*p == ')')
            --depth;
        else if (depth == 0 && *p == tag && p[1] == ':' &&
                 (p == sddl || p[-1] == ')' || IsDigit(p[-1]) || IsUpper(p[-1])))
            return p + 2;
    }
    return nullptr;
}

bool SameSid(const char* a, const char* b) {
    return strcmp(a, b) == 0;
}

bool IsAdministration(const char* sid) {
    return SameSid(sid, kSystemSid) || SameSid(sid, kAdministratorsSid) ||
           SameSid(sid, kTrustedInstallerSid);
}

} // namespace

bool CanonicalSid(const char* text, char* out, size_t size) {
    if (text == nullptr || out == nullptr || size == 0)
        return false;
    out[0] = '\0';
    size_t length = 0;
    bool ok = ReadSid(text, out, size, &length) && text[length] == '\0';
    if (!ok)
        out[0] = '\0';
    return ok;
}

bool IsTrustedProgramOwner(const char* ownerSid, const char* installingAccountSid) {
    char owner[184];
    if (!CanonicalSid(ownerSid, owner, sizeof owner))
        return false;
    if (IsAdministration(owner))
        return true;
    char installer[184];
    return CanonicalSid(installingAccountSid, installer, sizeof installer) &&
           SameSid(owner, installer);
}

bool ParseAccessList(const char* sddl, AccessEntry* entries, size_t capacity, size_t* count,
                     bool* isProtected) {
    *count = 0;
    *isProtected = false;
    const char* p = sddl != nullptr ? FindSection(sddl, 'D') : nullptr;
    if (p == nullptr)
        return false;
    while (IsUpper(*p) && *p != 'S') { // flags: P, AI, AR, NO_ACCESS_CONTROL
        if (*p == 'P')
            *isProtected = true;
        ++p;
        while (IsUpper(*p) && *p != 'P' && *p != 'S')
            ++p;
    }
    while (*p == '(') {
        if (*count >= capacity)
            return false;
        size_t length = 0;
        if (!ReadEntry(p, &entries[*count], &length))
            return false;
        ++*count;
        p += length;
    }
    return *p == '\0' || (p[0] == 'S' && p[1] == ':');
}

DescriptorFault JudgeFolderDescriptor(const char* sddl, int* entry) {
    if (entry != nullptr)
        *entry = -1;
    AccessEntry entries[32];
    size_t count = 0;
    bool isProtected = false;
    if (!ParseAccessList(sddl, entries, sizeof entries / sizeof entries[0], &count, &isProtected))
        return DescriptorFault::kMalformed;
    const char* ownerText = FindSection(sddl, 'O');
    char owner[184] = {};
    size_t ownerLength = 0;
    if (ownerText == nullptr || !ReadSid(ownerText, owner, sizeof owner, &ownerLength) ||
        !SameSid(owner, kAdministratorsSid))
        return DescriptorFault::kOwnerNotAdministrators;
    if (!isProtected)
        return DescriptorFault::kInheritsFromAbove;
    for (size_t i = 0; i < count; ++i) {
        // Inherited or explicit, on this folder or only below it: all count.
        if (entries[i].Allow && (entries[i].Mask & kChangeRights) != 0 &&
            !IsAdministration(entries[i].Sid)) {
            if (entry != nullptr)
                *entry = static_cast<int>(i);
            return DescriptorFault::kOthersMayChange;
        }
    }
    const char* const needs[] = {kSystemSid, kAdministratorsSid};
    for (const char* needed : needs) {
        bool full = false;
        for (size_t i = 0; i < count; ++i) {
            const AccessEntry& e = entries[i];
            full |= e.Allow && SameSid(e.Sid, needed) && !e.InheritOnly && e.ToFiles &&
                    e.ToFolders &&
                    ((e.Mask & kFileAllAccess) == kFileAllAccess || (e.Mask & kGenericAll) != 0);
        }
        if (!full)
            return DescriptorFault::kAdministratorsLackControl;
    }
    return DescriptorFault::kNone;
}
