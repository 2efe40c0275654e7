#include "tests/setup_pack/pack_test_util.h"

#include "package/package_reader.h"
#include "tests/support/test_support.h"
#include "tools/setup_pack/pack_build.h"
#include "tools/setup_pack/package_file.h"
#include "tools/setup_pack/text_convert.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A tree with subfolders, an empty file, an empty folder and GBK names, one
// of them with the trail byte 0x5C ("昞" is 95 5C).
struct PackTree {
    std::string Root; // UTF-8, ends in a backslash
    std::string Ini;
    struct File {
        std::string Group;
        std::string Relative; // UTF-8
        std::string Bytes;
        PackageFileTimes Times;
    };
    std::vector<File> Files;

    explicit PackTree(const std::string& name, bool withServer = true) {
        Root = MakeScratchDir(name);
        Ini = Root + "setup.ini";
        PutFile(Ini, SampleIniUtf8(), MakeTimes(1));
        std::string big;
        for (uint32_t i = 0; i < 300000; ++i)
            big += static_cast<char>((i * 7919u) % 251 ^ (i >> 9));
        if (withServer) {
            Files.push_back({"server", "VTRServer.exe", "server program", MakeTimes(10)});
            Files.push_back({"server", "lib\\big.dll", big, MakeTimes(11)});
        }
        Files.push_back({"client", "VTRClient.exe", "client program", MakeTimes(20)});
        Files.push_back({"client", "empty.txt", "", MakeTimes(21)});
        Files.push_back({"client", u8"数据\\昞表.frm", "gbk names", MakeTimes(22)});
        Files.push_back({"database", "bin\\mysqld.exe", std::string(5000, 'm'), MakeTimes(30)});
        Files.push_back({"database", "my.ini", "[mysqld]\r\n", MakeTimes(31)});
        for (const File& file : Files)
            PutFile(Root + file.Group + "\\" + file.Relative, file.Bytes, file.Times);
        CreateDirectoryW(Utf8ToWide(Root + "database\\data").c_str(), nullptr);
        if (!withServer)
            CreateDirectoryW(Utf8ToWide(Root + "server").c_str(), nullptr);
    }

    std::vector<std::string> BuildArgs(const std::string& output, bool withServer = true) const {
        std::vector<std::string> args = {"build", "--config", Ini};
        if (withServer)
            args.insert(args.end(),
                        {"--server", Root + "server", "--server-program", "VTRServer.exe"});
        args.insert(args.end(), {"--client", Root + "client", "--database", Root + "database",
                                 "--client-program", "VTRClient.exe", "-o", output});
        return args;
    }
};

bool SameTimes(const PackageFileTimes& a, const PackageFileTimes& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

TEST(SetupPack, RoundTripGivesBackBytesTimesAndGbkNames) {
    PackTree tree("pack_round_trip");
    std::string output = tree.Root + "setup.exe";
    std::vector<PackageFileTimes> sourceTimes(tree.Files.size());
    for (size_t i = 0; i < tree.Files.size(); ++i)
        ReadTimes(tree.Root + tree.Files[i].Group + "\\" + tree.Files[i].Relative, &sourceTimes[i]);
    PackRun build = RunPack(tree.BuildArgs(output));
    ASSERT_EQ(build.ExitCode, 0) << build.Out;
    EXPECT_NE(build.Out.find("empty folder not packaged"), std::string::npos) << build.Out;

    PackRun verify = RunPack({"verify", output});
    EXPECT_EQ(verify.ExitCode, 0) << verify.Out;

    PackRun extract = RunPack({"extract", output, tree.Root + "out"});
    ASSERT_EQ(extract.ExitCode, 0) << extract.Out;
    for (size_t i = 0; i < tree.Files.size(); ++i) {
        const PackTree::File& file = tree.Files[i];
        std::string path = tree.Root + "out\\" + file.Group + "\\" + file.Relative;
        PackageFileTimes times;
        ASSERT_TRUE(ReadTimes(path, &times)) << path;
        // The platform may not keep creation times; it then reports the
        // same stand-in for the source and the unpacked file.
        EXPECT_TRUE(SameTimes(times, sourceTimes[i])) << path;
        EXPECT_EQ(memcmp(&times.LastWrite, &file.Times.LastWrite, 8), 0) << path;
        EXPECT_EQ(memcmp(&times.LastAccess, &file.Times.LastAccess, 8), 0) << path;
        std::string bytes;
        ASSERT_TRUE(ReadFileUtf8(path, &bytes)) << path;
        EXPECT_EQ(bytes, file.Bytes) << path;
    }
    EXPECT_FALSE(FileExistsUtf8(tree.Root + "out\\database\\data"))
        << "empty folders are not part of a package";

    PackageFile package;
    std::string error;
    ASSERT_TRUE(package.Open(Utf8ToWide(output), &error)) << error;
    PackageView view(package.Index().Data, package.Index().Size, package.Payload().Data,
                     package.Payload().Size);
    PackageHeader header = view.Header();
    EXPECT_EQ(header.Reserved0, 1u);
    EXPECT_EQ(header.Reserved1, 1u);
    EXPECT_EQ(header.ServerEntryCount, 2u);
    EXPECT_EQ(header.ClientEntryCount, 3u);
    EXPECT_EQ(header.DatabaseEntryCount, 2u);
    EXPECT_EQ(header.ServerBytes, 14u + 300000u);
    EXPECT_STREQ(header.ServerRunArgs, "Install");
    EXPECT_EQ(header.ServerRunFlag, 1u);
    // Sorted ignoring case: "empty.txt", "VTRClient.exe", then the subfolder.
    PackageEntry entry;
    ASSERT_TRUE(view.Entry(2, &entry));
    EXPECT_STREQ(entry.RelativePath, "empty.txt");
    EXPECT_EQ(entry.CompressedLength, 8u);
    ASSERT_TRUE(view.Entry(4, &entry));
    EXPECT_STREQ(entry.RelativePath, "\xCA\xFD\xBE\xDD\\\x95\x5C\xB1\xED.frm");
    EXPECT_STREQ(entry.FileName, "\x95\x5C\xB1\xED.frm") << "trail byte 0x5C is no separator";
    std::string config(reinterpret_cast<const char*>(package.Config().Data), package.Config().Size);
    EXPECT_EQ(config.compare(0, 10, "2012-2-3\r\n"), 0);
    EXPECT_EQ(config.back(), '\n');
    EXPECT_NE(config.find("TagFolder=\xC0\xBD\xCA\xE0\xC8\xED\xBC\xFE\r\n"), std::string::npos);

    PackRun inspect = RunPack({"inspect", output});
    EXPECT_EQ(inspect.ExitCode, 0);
    EXPECT_NE(inspect.Out.find(u8"config.SETUP.TagFolder: 澜枢软件\\"), std::string::npos)
        << inspect.Out;
    EXPECT_NE(inspect.Out.find(u8"entry: client 4 数据\\昞表.frm 9 "), std::string::npos)
        << inspect.Out;
}

TEST(SetupPack, WithoutServerFolderMakesSinglePcPackageAndRunOptionsApply) {
    PackTree tree("pack_single_pc", false);
    std::string output = tree.Root + "setup.exe";
    std::vector<std::string> args = tree.BuildArgs(output, false);
    args.insert(args.end(), {"--no-client-run", "--client-run-args", "Setup", "--level", "9"});
    PackRun build = RunPack(args);
    ASSERT_EQ(build.ExitCode, 0) << build.Out;
    PackageFile package;
    std::string error;
    ASSERT_TRUE(package.Open(Utf8ToWide(output), &error));
    PackageView view(package.Index().Data, package.Index().Size, package.Payload().Data,
                     package.Payload().Size);
    EXPECT_EQ(view.Validate(), PackageFault::kOk);
    PackageHeader header = view.Header();
    EXPECT_EQ(header.ServerEntryCount, 0u);
    EXPECT_EQ(header.ServerBytes, 0u);
    EXPECT_EQ(header.ServerProgram[0], '\0');
    EXPECT_EQ(header.ClientRunFlag, 0u);
    EXPECT_EQ(header.ServerRunFlag, 1u);
    EXPECT_STREQ(header.ClientRunArgs, "Setup");
    EXPECT_EQ(view.Group(PackageGroup::Client).First, 0u);
    EXPECT_EQ(RunPack({"verify", output}).ExitCode, 0);
}

TEST(SetupPack, SameInputsGiveIdenticalBytesWhateverTheJobCount) {
    PackTree tree("pack_determinism");
    std::vector<std::string> one = tree.BuildArgs(tree.Root + "one.exe");
    one.insert(one.end(), {"--jobs", "1"});
    std::vector<std::string> four = tree.BuildArgs(tree.Root + "four.exe");
    four.insert(four.end(), {"--jobs", "4"});
    ASSERT_EQ(RunPack(one).ExitCode, 0);
    ASSERT_EQ(RunPack(four).ExitCode, 0);
    std::string a, b;
    ASSERT_TRUE(ReadFileUtf8(tree.Root + "one.exe", &a));
    ASSERT_TRUE(ReadFileUtf8(tree.Root + "four.exe", &b));
    EXPECT_TRUE(a == b) << "outputs differ";
}

// Each refusal names what is wrong, exits 1 and writes nothing.
TEST(SetupPack, RefusesBadInputsNamingThemAndWritesNothing) {
    PackTree tree("pack_refusals");
    std::string output = tree.Root + "setup.exe";
    auto expectRefused = [&](const std::vector<std::string>& args, const std::string& named) {
        PackRun run = RunPack(args);
        EXPECT_EQ(run.ExitCode, 1) << run.Out;
        EXPECT_NE(run.Out.find(named), std::string::npos) << run.Out;
        EXPECT_FALSE(FileExistsUtf8(output));
    };

    std::vector<std::string> args = tree.BuildArgs(output);
    args[args.size() - 3] = "Missing.exe"; // --client-program
    expectRefused(args, "Missing.exe");

    std::string badIni = tree.Root + "bad.ini";
    PutFile(badIni, u8"2012-2-3\n[INFO]\nAppName=\U0001F600\n", MakeTimes(2));
    args = tree.BuildArgs(output);
    args[2] = badIni;
    expectRefused(args, "configuration line 3 cannot be written in code page 936");

    std::string odd = tree.Root + u8"database\\bin\\\U0001F600.dll";
    PutFile(odd, "x", MakeTimes(3));
    expectRefused(tree.BuildArgs(output), u8"\U0001F600.dll");
    DeleteFileW(Utf8ToWide(odd).c_str());

    // 65 + 1 + 65 double-byte characters: 261 bytes in code page 936.
    std::string longName;
    for (int i = 0; i < 65; ++i)
        longName += u8"表";
    std::string deep = tree.Root + "client\\" + longName + "\\" + longName;
    PutFile(deep, "x", MakeTimes(4));
    expectRefused(tree.BuildArgs(output), "longer than 259 bytes");
    DeleteFileW(Utf8ToWide(deep).c_str());

    args = tree.BuildArgs(output);
    args.insert(args.end(), {"--client-run-args", std::string(20, 'a')});
    expectRefused(args, "client run arguments does not fit its 20-byte field");
}

// The 32-bit limits, lowered so no 4 GiB of data is needed.
TEST(SetupPack, RefusesFilesAndPayloadsPastTheLimitsLeavingNoFiles) {
    PackTree tree("pack_limits");
    PackBuildOptions options;
    options.ConfigPath = tree.Ini;
    options.ServerDir = tree.Root + "server";
    options.ClientDir = tree.Root + "client";
    options.DatabaseDir = tree.Root + "database";
    options.ServerProgram = "VTRServer.exe";
    options.ClientProgram = "VTRClient.exe";
    options.TemplateExe = BinPath("setup.exe");
    options.OutputExe = tree.Root + "setup.exe";
    std::string error;

    PackBuildOptions limited = options;
    limited.Limits.MaxFileSize = 299999;
    EXPECT_FALSE(RunPackBuild(limited, &error));
    EXPECT_NE(error.find("4 GiB or more"), std::string::npos) << error;
    EXPECT_NE(error.find("big.dll"), std::string::npos) << error;

    limited = options;
    limited.Limits.MaxGroupBytes = 300000;
    EXPECT_FALSE(RunPackBuild(limited, &error));
    EXPECT_NE(error.find("server files total"), std::string::npos) << error;

    limited = options;
    limited.Limits.MaxPayloadSize = 1000;
    EXPECT_FALSE(RunPackBuild(limited, &error));
    EXPECT_NE(error.find("payload would pass the 32-bit offsets at: lib\\big.dll"),
              std::string::npos)
        << error;

    EXPECT_FALSE(FileExistsUtf8(options.OutputExe));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Utf8ToWide(tree.Root + "sp*.tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file was left behind";
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);

    ASSERT_TRUE(RunPackBuild(options, &error)) << error;
    EXPECT_TRUE(FileExistsUtf8(options.OutputExe));
}

} // namespace
