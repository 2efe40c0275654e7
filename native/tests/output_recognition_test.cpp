#include "native/tests/exact_bytes.h"
#include "install/output_recognition.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The texts as the GBK bytes the Windows build compares.
const std::string kInstalled = "Service successfully installed.";
const std::string kExists = "The service already exists!";
const std::string kStartedChinese = "\xB7\xFE\xCE\xF1\xD2\xD1\xBE\xAD\xC6\xF4\xB6\xAF\xB3\xC9"
                                    "\xB9\xA6\xA1\xA3"; // 服务已经启动成功。
const std::string kRequestedChinese = "\xC7\xEB\xC7\xF3\xB5\xC4\xB7\xFE\xCE\xF1\xD2\xD1\xBE\xAD"
                                      "\xC6\xF4\xB6\xAF\xA1\xA3"; // 请求的服务已经启动。

bool Install(const std::string& text) {
    std::vector<char> bytes = ExactBytes(text);
    return IsInstallAccepted(bytes.data(), bytes.size());
}

bool Start(const std::string& text) {
    std::vector<char> bytes = ExactBytes(text);
    return IsStartAccepted(bytes.data(), bytes.size());
}

TEST(OutputRecognition, EveryShorterCutOfAnAcceptedTextIsRefused) {
    for (const std::string& text : {kInstalled, kExists}) {
        EXPECT_TRUE(Install(text));
        EXPECT_TRUE(Install(text + "\r\n" + std::string(5000, '\0')));
        for (size_t n = 0; n < text.size(); ++n)
            EXPECT_FALSE(Install(text.substr(0, n))) << n;
    }
    const std::string started[] = {kStartedChinese, kRequestedChinese, "service is starting.",
                                   "service has already been started."};
    for (const std::string& text : started) {
        EXPECT_TRUE(Start(text));
        EXPECT_TRUE(Start(std::string(3, '\0') + "\xFF\xFE" + text)) << "at the very end";
        for (size_t n = 0; n < text.size(); ++n) {
            EXPECT_FALSE(Start(text.substr(0, n))) << n;
            EXPECT_FALSE(Start("xyz" + text.substr(0, n))) << n;
        }
    }
}

TEST(OutputRecognition, NullAndZeroLengthsAreRefused) {
    EXPECT_FALSE(IsInstallAccepted(nullptr, 100));
    EXPECT_FALSE(IsStartAccepted(nullptr, 100));
    EXPECT_FALSE(Install(""));
    EXPECT_FALSE(Start(""));
    // The Chinese texts as UTF-8 are other bytes and must not match.
    EXPECT_FALSE(Start("服务已经启动成功。"));
}

} // namespace
