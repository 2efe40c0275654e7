// Writes the seed corpus: seed_generator <corpus folder>. Run again after a
// change to the package layout; the files it writes are checked in.
#include "package/package_writer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace {

bool Write(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

std::string Deflated(const std::string& plain, int level) {
    std::vector<uint8_t> out;
    CompressZlib(plain.data(), plain.size(), level, &out);
    return std::string(out.begin(), out.end());
}

// Index length, index, payload: the package target's input layout.
std::string PackageInput(const PackageBuilder& builder) {
    const std::vector<uint8_t>& index = builder.Index();
    uint32_t length = static_cast<uint32_t>(index.size());
    std::string out(reinterpret_cast<const char*>(&length), 4);
    out.append(index.begin(), index.end());
    out.append(builder.Payload().begin(), builder.Payload().end());
    return out;
}

bool PackageSeeds(const std::string& dir) {
    std::string error;
    PackageBuilder builder;
    PackageSettings settings;
    settings.ServerProgram = "srv.exe";
    settings.ClientProgram = "cli.exe";
    if (!builder.Begin(settings, &error) || !Write(dir + "/no_entries", PackageInput(builder)))
        return false;
    // No index at all: the view's header copy once read from a null pointer.
    if (!Write(dir + "/empty_index", std::string(4, '\0') + "payload only"))
        return false;
    struct {
        PackageGroup group;
        const char* path;
        std::string bytes;
    } files[] = {
        {PackageGroup::Server, "srv.exe", "MZ server"},
        {PackageGroup::Server, "d\x95\x5C\\a.txt", "trail byte 0x5C in the folder"},
        {PackageGroup::Client, "cli.exe", ""},
        {PackageGroup::Database, "data\\mysql\\\xCA\xFD\xBE\xDD.frm", std::string(300, 'x')},
    };
    for (const auto& file : files) {
        if (!builder.AddFile(file.group, file.path, file.bytes.data(), file.bytes.size(),
                             PackageFileTimes(), 9, &error))
            return false;
    }
    return Write(dir + "/three_groups", PackageInput(builder));
}

bool InflaterSeeds(const std::string& dir) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i * 37 % 101) + "\r\n";
    // First byte: the progress report at which to abort (0: never).
    return Write(dir + "/text", '\0' + Deflated(text, 9)) &&
           Write(dir + "/text_abort_first", '\x01' + Deflated(text, 9)) &&
           Write(dir + "/stored_block", '\0' + Deflated("stored", 0)) &&
           Write(dir + "/empty_file", '\0' + Deflated("", 6)) &&
           Write(dir + "/zeros", '\0' + Deflated(std::string(20000, '\0'), 9)) &&
           Write(dir + "/trailing_bytes", '\0' + Deflated("abc", 6) + "JUNK") &&
           Write(dir + "/preset_dictionary", std::string("\0\x78\xBB\0\0\0\x01\x03\0", 9));
}

bool ConfigSeeds(const std::string& dir) {
    // First byte: buffer capacity - 1; the rest: the value.
    return Write(dir + "/folder", std::string("\x0F") + "VTRServer") &&
           Write(dir + "/folder_full", std::string("\x08") + "VTRServer") &&
           Write(dir + "/gbk_cut", std::string("\x04") + "ab\xC0\xBD\xCA\xE0") &&
           Write(dir + "/trail_backslash", std::string("\xFF") + "C:\\\x95\x5C\\x\\") &&
           Write(dir + "/integer_min", std::string("\x20") + " -2147483648") &&
           Write(dir + "/integer_wrap", std::string("\x20") + "+99999999999x");
}

bool OutputSeeds(const std::string& dir) {
    return Write(dir + "/installed", "Service successfully installed.\r\n") &&
           Write(dir + "/exists", "The service already exists!\r\nThe current server installed") &&
           Write(dir + "/starting", "The VTR NetWork Mysql service is starting.\r\n") &&
           Write(dir + "/started_gbk",
                 "\xB7\xFE\xCE\xF1\xD2\xD1\xBE\xAD\xC6\xF4\xB6\xAF\xB3\xC9\xB9\xA6\xA1\xA3");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: seed_generator <corpus folder>\n");
        return 2;
    }
    std::string root = argv[1];
    const char* targets[] = {"package_reader", "stream_inflater", "config_values",
                             "output_recognition"};
    for (const char* target : targets)
        mkdir((root + "/" + target).c_str(), 0755);
    bool ok = PackageSeeds(root + "/package_reader") && InflaterSeeds(root + "/stream_inflater") &&
              ConfigSeeds(root + "/config_values") && OutputSeeds(root + "/output_recognition");
    if (!ok)
        fprintf(stderr, "seed_generator: cannot write the corpus in %s\n", root.c_str());
    return ok ? 0 : 1;
}
