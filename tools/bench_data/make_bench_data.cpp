// Writes a deterministic package-shaped tree for benchmarks:
//   make_bench_data OUT_DIR          the shipped shape:
// OUT_DIR/server (19 files), client (17), database (105, most in subfolders);
//   make_bench_data OUT_DIR many     many small files: 8,000 of about 1 KB in
// 100 folders (server 30, client 30, database 40; 80 files each), the shape
// whose cost is per file, not per byte.
// Program-like files are made of literals and back-references (they deflate
// about 2-3x); the database's table spaces and logs are mostly zero pages.
// Built natively: g++ -O2 -std=c++17 -o make_bench_data make_bench_data.cpp
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct Random {
    uint64_t state;
    uint64_t Next() { // splitmix64: the same stream on every platform
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

// Literals drawn from a skewed alphabet, mixed with copies of earlier bytes.
void AppendProgramLike(std::string* out, size_t size, Random* random) {
    static const char kAlphabet[] = "\x00\x00\x00\x00\xFF\xFF\x8B\x48\x89\x45\xE8\x0F\x85\xC3"
                                    "\x24\x10\x08\x01\x02\x04\x83\xC4\x5D\x5E\x5F\x50\x51\x52"
                                    "abcdefghijklmnoprstu.GetProcAddress";
    const size_t start = out->size();
    while (out->size() - start < size) {
        size_t have = out->size() - start;
        size_t left = size - have;
        if (have > 64 && random->Below(100) < 38) {
            size_t distance = 1 + random->Below(static_cast<uint32_t>(have < 16384 ? have : 16384));
            size_t length = 4 + random->Below(40);
            if (length > left)
                length = left;
            size_t from = out->size() - distance;
            for (size_t i = 0; i < length; ++i)
                out->push_back((*out)[from + i]);
        } else {
            size_t length = 1 + random->Below(12);
            if (length > left)
                length = left;
            for (size_t i = 0; i < length; ++i) {
                if (random->Below(4) == 0)
                    out->push_back(static_cast<char>(random->Next()));
                else
                    out->push_back(kAlphabet[random->Below(sizeof kAlphabet - 1)]);
            }
        }
    }
}

// 16 KiB pages, zero but for a page header and, on a few pages, some rows.
void AppendMostlyZero(std::string* out, size_t size, Random* random) {
    const size_t start = out->size();
    out->resize(start + size, '\0');
    std::string rows;
    for (size_t page = 0; page < size; page += 16384) {
        size_t pageEnd = page + 16384 < size ? page + 16384 : size;
        for (size_t i = page; i < page + 38 && i < pageEnd; ++i)
            (*out)[start + i] = static_cast<char>(random->Next());
        if (random->Below(100) < 11) {
            rows.clear();
            AppendProgramLike(&rows, 1024 + random->Below(6144), random);
            for (size_t i = 0; i < rows.size() && page + 38 + i < pageEnd; ++i)
                (*out)[start + page + 38 + i] = rows[i];
        }
    }
}

struct FilePlan {
    std::string Path;
    uint32_t Weight; // share of the group's bytes
    bool MostlyZero;
};

bool MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            mkdir(part.c_str(), 0755);
        }
    }
    return true;
}

bool WriteGroup(const std::string& root, const std::vector<FilePlan>& plans, uint64_t total,
                uint64_t seed) {
    uint64_t weights = 0;
    for (const FilePlan& plan : plans)
        weights += plan.Weight;
    uint64_t written = 0;
    Random random{seed};
    for (size_t i = 0; i < plans.size(); ++i) {
        uint64_t size = i + 1 == plans.size() ? total - written : total * plans[i].Weight / weights;
        written += size;
        std::string bytes;
        bytes.reserve(size);
        if (plans[i].MostlyZero)
            AppendMostlyZero(&bytes, size, &random);
        else
            AppendProgramLike(&bytes, size, &random);
        std::string path = root + "/" + plans[i].Path;
        MakeDirs(path.substr(0, path.rfind('/')));
        FILE* file = fopen(path.c_str(), "wb");
        if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || fclose(file)) {
            fprintf(stderr, "make_bench_data: cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

std::vector<FilePlan> ProgramGroup(const char* program, int count, uint64_t seed) {
    Random random{seed};
    std::vector<FilePlan> plans{{program, 400, false}};
    for (int i = 1; i < count; ++i) {
        bool small = i % 4 == 0;
        std::string name = small ? "conf" + std::to_string(i) + ".ini"
                                 : (i % 3 ? "lib" : "plugins/mod") + std::to_string(i) + ".dll";
        plans.push_back({name, small ? 1 : 20 + random.Below(120), false});
    }
    return plans;
}

std::vector<FilePlan> DatabaseGroup() {
    Random random{7};
    std::vector<FilePlan> plans;
    plans.push_back({"my.ini", 1, false});
    plans.push_back({"bin/mysqld.exe", 1400, false});
    for (int i = 0; i < 11; ++i)
        plans.push_back({"bin/tool" + std::to_string(i) + ".exe", 60 + random.Below(160), false});
    static const char* kLanguages[] = {"chinese",  "english", "german",  "french",
                                       "japanese", "korean",  "russian", "spanish"};
    for (const char* language : kLanguages)
        plans.push_back({std::string("share/") + language + "/errmsg.sys", 8, false});
    plans.push_back({"data/ibdata1", 14000, true});
    plans.push_back({"data/ib_logfile0", 1000, true});
    plans.push_back({"data/ib_logfile1", 1000, true});
    static const char* kTables[] = {"user",
                                    "db",
                                    "host",
                                    "tables_priv",
                                    "columns_priv",
                                    "func",
                                    "proc",
                                    "event",
                                    "servers",
                                    "plugin",
                                    "help_topic",
                                    "help_keyword",
                                    "help_relation",
                                    "help_category",
                                    "time_zone",
                                    "time_zone_name",
                                    "general_log",
                                    "slow_log",
                                    "procs_priv",
                                    "ndb_binlog_index",
                                    "time_zone_transition"};
    for (const char* table : kTables) {
        for (const char* extension : {".frm", ".MYD", ".MYI"}) {
            std::string path = std::string("data/mysql/") + table + extension;
            if (plans.size() < 104)
                plans.push_back({path, 1 + random.Below(extension[1] == 'M' ? 40 : 4), false});
        }
    }
    while (plans.size() < 105)
        plans.push_back({"data/test/t" + std::to_string(plans.size()) + ".frm", 2, false});
    return plans;
}

// folders x 80 files of 512..1535 bytes; the first file is "program.exe".
std::vector<FilePlan> ManySmallFiles(int folders, uint64_t seed) {
    Random random{seed};
    std::vector<FilePlan> plans;
    for (int folder = 0; folder < folders; ++folder) {
        for (int file = 0; file < 80; ++file) {
            std::string name = plans.empty() ? "program.exe" : "f" + std::to_string(file) + ".dat";
            plans.push_back(
                {"d" + std::to_string(folder) + "/" + name, 512 + random.Below(1024), false});
        }
    }
    return plans;
}

uint64_t TotalWeight(const std::vector<FilePlan>& plans) {
    uint64_t total = 0;
    for (const FilePlan& plan : plans)
        total += plan.Weight;
    return total;
}

bool WriteManySmallFiles(const std::string& out) {
    const struct {
        const char* Group;
        int Folders;
    } kGroups[] = {{"server", 30}, {"client", 30}, {"database", 40}};
    uint64_t seed = 21;
    for (const auto& group : kGroups) {
        // Weights are the sizes themselves, so each file gets its own size.
        std::vector<FilePlan> plans = ManySmallFiles(group.Folders, seed);
        if (!WriteGroup(out + "/" + group.Group, plans, TotalWeight(plans), seed + 10))
            return false;
        ++seed;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool many = argc == 3 && std::string(argv[2]) == "many";
    if (argc != 2 && !many) {
        fprintf(stderr, "usage: make_bench_data OUT_DIR [many]\n");
        return 2;
    }
    std::string out = argv[1];
    MakeDirs(out);
    if (many)
        return WriteManySmallFiles(out) ? 0 : 1;
    bool ok = WriteGroup(out + "/server", ProgramGroup("VTRServer.exe", 19, 1), 9729308, 11) &&
              WriteGroup(out + "/client", ProgramGroup("VTRClient.exe", 17, 2), 11390157, 12) &&
              WriteGroup(out + "/database", DatabaseGroup(), 134149137, 13);
    return ok ? 0 : 1;
}
