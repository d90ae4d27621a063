// What the Windows half does on its own: attributes, devices and pipes,
// UTF-16 paths, Windows error numbers, the locale's names.
#ifdef _WIN32
#include "log/FormatTime.h"
#include "platform/LocalTime.h"
#include "platform/OwnTemporary.h"
#include "log/LogOutput.h"
#include "platform/StoredFile.h"
#include "platform/windows/Wide.h"
#include "text/AtomicFile.h"
#include "text/IniFile.h"
#include "FileHelpers.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <set>

namespace vantrel {
namespace {

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(platform::NativePath(path).c_str()); }

std::size_t EntryCount(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(PathFromUtf8(dir))) ++n;
  return n;
}

class WindowsFileTest : public ::testing::Test {
 protected:
  TestDir temp_;
  std::string dir_ = temp_.Path();
};

// Windows refuses to replace a read-only file; Wine would replace it, so
// the platform layer refuses by itself and both systems answer alike.
TEST_F(WindowsFileTest, AReadOnlyFileIsNeverReplaced) {
  const std::string file = dir_ + "/config.ini";
  ASSERT_TRUE(WriteSetting(file, "监控设置", "保存日志", "真"));
  const std::string before = Read(file);
  ASSERT_TRUE(::SetFileAttributesW(platform::NativePath(file).c_str(), FILE_ATTRIBUTE_READONLY));
  errno = 0;
  EXPECT_FALSE(WriteSetting(file, "监控设置", "保存日志", "假"));
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(WriteStoredFile(file, "x").native, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read(file), before);
  EXPECT_EQ(EntryCount(dir_), 1u) << "no temporary left behind";
  EXPECT_EQ(ReadSetting(file, "监控设置", "保存日志", ""), "真") << "still read";
}

// Hidden or system files stay so: a replacement that dropped the attribute
// would show a file the user had hidden.
TEST_F(WindowsFileTest, AttributesOfTheReplacedFileAreKept) {
  const std::string file = dir_ + "/data.jl";
  ASSERT_FALSE(WriteStoredFile(file, "one"));
  ASSERT_TRUE(::SetFileAttributesW(platform::NativePath(file).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_FALSE(WriteStoredFile(file, "two"));
  EXPECT_EQ(Read(file), "two");
  const DWORD after = Attributes(file);
  EXPECT_TRUE(after & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(after & FILE_ATTRIBUTE_SYSTEM);
  ASSERT_FALSE(WriteStoredFile(dir_ + "/plain.jl", "x"));
  EXPECT_FALSE(Attributes(dir_ + "/plain.jl") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
}

// A device name opens the device in any folder and with any extension, and
// a pipe's client end connects: neither is ever opened for a stored file.
TEST_F(WindowsFileTest, DevicesAndPipesAreRefusedUnopened) {
  std::string bytes;
  for (const std::string& path : {dir_ + "/NUL", dir_ + "/nul.ini", dir_ + "/Com1.jl", std::string("CON"),
                                  dir_ + "/lpt9", std::string("\\\\.\\PhysicalDrive0")})
    EXPECT_EQ(platform::ReadRegularFile(path, bytes, 100).code, kNotRegularFile) << path;
  EXPECT_EQ(platform::ReadRegularFile(dir_ + "/console.ini", bytes, 100).code, ENOENT) << "only the names themselves";

  const std::string pipe = "\\\\.\\pipe\\vantrel-test-" + std::to_string(::GetCurrentProcessId());
  HANDLE server = ::CreateNamedPipeW(platform::NativePath(pipe).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadStoredFile(pipe, bytes).code, kNotRegularFile);
  EXPECT_FALSE(platform::StampOf(pipe));
  // Nobody connected: a connect now waits instead of finding a client.
  OVERLAPPED wait{};
  wait.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(::ConnectNamedPipe(server, &wait));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING)) << "a client had connected";
  ::CancelIo(server);
  ::CloseHandle(wait.hEvent);
  ::CloseHandle(server);
}

TEST(NativePath, SeparatorsAndTheLongForm) {
  EXPECT_EQ(platform::NativePath("C:/程序/config.ini"), L"C:\\程序\\config.ini");
  EXPECT_EQ(platform::NativePath("relative/a"), L"relative\\a") << "short paths keep their meaning";
  const std::string deep = "C:/" + std::string(300, 'd') + "/../x.ini";
  EXPECT_EQ(platform::NativePath(deep), L"\\\\?\\C:\\x.ini") << "made full first: \\\\?\\ turns off '..'";
  const std::string share = "//server/share/" + std::string(300, 's');
  EXPECT_EQ(platform::NativePath(share), L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L's'));
  const std::wstring already = L"\\\\?\\C:\\" + std::wstring(300, L'a');
  EXPECT_EQ(platform::NativePath(platform::Utf8FromWide(already)), already);
}

// Names with characters of no code page, and paths longer than Windows
// takes without the long form, reach the file system intact.
TEST_F(WindowsFileTest, Utf16NamesAndLongPathsRoundTrip) {
  const std::u16string name = u"数据 😀 𠀀.jl";
  const std::string utf8 = platform::Utf8FromWide(std::wstring(name.begin(), name.end()));
  EXPECT_EQ(platform::WideFromUtf8(utf8), std::wstring(name.begin(), name.end()));
  ASSERT_FALSE(WriteStoredFile(dir_ + "/" + utf8, "x"));
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(platform::NativePath(dir_ + "/*.jl").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::wstring(found.cFileName), std::wstring(name.begin(), name.end()));
  ::FindClose(search);

  std::string deep = dir_;
  while (deep.size() < 400) deep += "/深层文件夹" + std::to_string(deep.size());
  EXPECT_TRUE(EnsureDirectoryPath(deep));
  ASSERT_FALSE(WriteStoredFile(deep + "/" + utf8, "long"));
  EXPECT_EQ(Read(deep + "/" + utf8), "long");
  EXPECT_TRUE(platform::StampOf(deep + "/" + utf8));
  EXPECT_EQ(RemoveStaleTemporaries(deep), 0u);
}

TEST(WindowsErrors, NumbersBecomePortableCodesWithTheNativeKept) {
  EXPECT_EQ(platform::ErrorFromWin32(ERROR_SHARING_VIOLATION).code, EBUSY);
  EXPECT_EQ(platform::ErrorFromWin32(ERROR_PATH_NOT_FOUND).code, ENOENT);
  EXPECT_EQ(platform::ErrorFromWin32(ERROR_DISK_FULL).code, ENOSPC);
  EXPECT_FALSE(platform::ErrorFromWin32(ERROR_SUCCESS));
  platform::Error other = platform::ErrorFromWin32(ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_EQ(other.code, kOtherSystemError);
  EXPECT_EQ(other.native, ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_EQ(other.Text().rfind("系统错误 1450", 0), 0u) << other.Text();
  EXPECT_EQ(other.Text().find('\n'), std::string::npos) << "one line";
}

TEST(OwnTemporaryNames, EitherSeparatorEndsTheFolder) {
  EXPECT_TRUE(NamesOwnTemporary("C:\\data\\.vantrel-Abcd1234"));
  EXPECT_TRUE(NamesOwnTemporary("C:/data/.vantrel-Abcd1234"));
  EXPECT_FALSE(NamesOwnTemporary("C:\\.vantrel-Abcd1234\\x"));
}

// 1 August 2021 was a Sunday; Windows counts the days from Monday.
TEST(LocaleNames, MonthsDaysAndMarkersOfTheUserLocale) {
  wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
  ::GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH);
  const std::string name = platform::Utf8FromWide(locale);
  const double sunday = 44409.5;  // 2021-08-01 12:00
  const std::string text = FormatTimePictures(sunday, "dddd ddd MMMM MMM ", "h tt");
  if (name == "zh-CN") {
    EXPECT_EQ(text, "星期日 周日 八月 8月 12 下午");
    EXPECT_EQ(LocaleUses24Hour(), 1);
  } else if (name == "en-US") {
    EXPECT_EQ(text, "Sunday Sun August Aug 12 PM");
    EXPECT_EQ(LocaleUses24Hour(), 0);
  } else {
    GTEST_SKIP() << "no expected names for locale " << name;
  }
  EXPECT_EQ(platform::LocaleDayName(1, false), name == "zh-CN" ? "星期一" : "Monday");
}

TEST(LocalTime, TheWallClockIsRead) {
  SYSTEMTIME before{};
  ::GetLocalTime(&before);
  platform::LocalTimeFields now = platform::LocalTimeNow();
  EXPECT_EQ(now.year, before.wYear);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LT(now.millisecond, 1000);
}

}  // namespace
}  // namespace vantrel
#endif
