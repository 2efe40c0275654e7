#include "tests/setup_pack/pack_test_util.h"

#include "tests/support/test_support.h"
#include "tools/setup_pack/text_convert.h"

#include <windows.h>

#include <gtest/gtest.h>

static void MakeParents(const std::wstring& path) {
    for (size_t i = 3; i < path.size(); ++i)
        if (path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

void PutFile(const std::string& utf8Path, const std::string& bytes, const PackageFileTimes& times) {
    std::wstring path = Utf8ToWide(utf8Path);
    MakeParents(path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << utf8Path;
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    FILETIME created = {times.Creation.Low, times.Creation.High};
    FILETIME accessed = {times.LastAccess.Low, times.LastAccess.High};
    FILETIME modified = {times.LastWrite.Low, times.LastWrite.High};
    SetFileTime(file, &created, &accessed, &modified);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

bool FileExistsUtf8(const std::string& utf8Path) {
    return GetFileAttributesW(Utf8ToWide(utf8Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadFileUtf8(const std::string& utf8Path, std::string* bytes) {
    HANDLE file = CreateFileW(Utf8ToWide(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes->append(buffer, read);
    CloseHandle(file);
    return true;
}

bool ReadTimes(const std::string& utf8Path, PackageFileTimes* times) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Utf8ToWide(utf8Path).c_str(), GetFileExInfoStandard, &data))
        return false;
    times->Creation = {data.ftCreationTime.dwLowDateTime, data.ftCreationTime.dwHighDateTime};
    times->LastAccess = {data.ftLastAccessTime.dwLowDateTime, data.ftLastAccessTime.dwHighDateTime};
    times->LastWrite = {data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime};
    return true;
}

PackRun RunPack(const std::vector<std::string>& args) {
    PackRun run;
    std::wstring line = L"\"" + Utf8ToWide(BinPath("setup-pack.exe")) + L"\"";
    for (const std::string& arg : args)
        line += L" \"" + Utf8ToWide(arg) + L"\"";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0)
            run.Out.append(buffer, read);
        WaitForSingleObject(process.hProcess, 120000);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.ExitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return run;
}

std::string SampleIniUtf8() {
    return u8"2012-2-3\n"
           u8"[INFO]\n"
           u8"AppName=澜枢软件管理系统\n"
           u8"AppVersion=V3.0\n"
           u8"[SHORTCUT]\n"
           u8"StartMenu=1\n"
           u8"Desktop=1\n"
           u8"QuickStart=0\n"
           u8"[SETUP]\n"
           u8";软件目录\n"
           u8"TagFolder=澜枢软件\n"
           u8";服务器目录\n"
           u8"VirSer=VTRServer\n"
           u8";客户端目录\n"
           u8"VirCli=VTRClient\n"
           u8";数据库目录\n"
           u8"VirDB=VTRServer\\Mysql\n"
           u8";注册程序到添加删除程序管理\n"
           u8"ProgramMg=1\n"
           u8"DB2=0\n";
}
