#include "install/output_recognition.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Install(const std::string& text) {
    return IsInstallAccepted(text.data(), text.size());
}
bool Start(const std::string& text) {
    return IsStartAccepted(text.data(), text.size());
}

TEST(OutputRecognition, InstallAcceptsOnlyTheTwoExactBeginnings) {
    EXPECT_TRUE(Install("Service successfully installed."));
    EXPECT_TRUE(Install("Service successfully installed.\r\nmore"));
    EXPECT_TRUE(Install("The service already exists!"));
    EXPECT_TRUE(Install("The service already exists!\r\nThe current server installed: x"));

    EXPECT_FALSE(Install(""));
    EXPECT_FALSE(Install(" Service successfully installed."));
    EXPECT_FALSE(Install("\r\nService successfully installed."));
    EXPECT_FALSE(Install("Service successfully installed")); // 30 bytes, no full stop
    EXPECT_FALSE(Install("service successfully installed."));
    EXPECT_FALSE(Install("The service already exists"));
    EXPECT_FALSE(Install("Install/Remove of the Service Denied!"));
    EXPECT_FALSE(IsInstallAccepted(nullptr, 0));
    // The length given bounds the comparison.
    EXPECT_FALSE(IsInstallAccepted("Service successfully installed.", 30));
}

TEST(OutputRecognition, StartAcceptsAnyOfTheFourTextsAnywhere) {
    EXPECT_TRUE(Start("服务已经启动成功。"));
    EXPECT_TRUE(Start("xx\r\n请求的服务已经启动。\r\n"));
    EXPECT_TRUE(Start("The VTR NetWork Mysql service is starting.\r\n"));
    EXPECT_TRUE(Start("The requested service has already been started.\r\n"));
    EXPECT_TRUE(Start(std::string("\0\xFF junk \0", 9) + "service is starting."));

    EXPECT_FALSE(Start(""));
    EXPECT_FALSE(Start("The service is Starting."));
    EXPECT_FALSE(Start("service is starting")); // no full stop
    EXPECT_FALSE(Start("服务已经启动成功"));    // no Chinese full stop
    EXPECT_FALSE(IsStartAccepted(nullptr, 5));
    // Wine's own Chinese texts are not among them; the service manager is
    // asked in that case.
    EXPECT_FALSE(
        Start("正在启动服务 VTR NetWork Mysql。\r\n服务 VTR NetWork Mysql 启动成功。\r\n"));
    EXPECT_FALSE(Start("The VTR NetWork Mysql service was started successfully."));
}

} // namespace
