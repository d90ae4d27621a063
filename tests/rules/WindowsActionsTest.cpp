// The rule actions on Windows, on real folders: numbering, whole copies,
// read-only files, reparse points, files held open for writing, moves
// across volumes, UTF-16 names and program starts.
#include "time/Timing.h"
#include "platform/OwnTemporary.h"
#include "platform/windows/Wide.h"
#include "rules/ActionQueue.h"
#include "rules/FileActions.h"
#include "rules/ProgramAction.h"
#include "rules/RuleMatcher.h"
#include "rules/WholeFile.h"
#include "text/PathRoutines.h"
#include "text/AtomicFile.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <functional>

#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::NativePath;

std::string Read(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

void Put(const std::string& path, const std::string& content) {
  ASSERT_TRUE(WriteFileAtomically(path, content)) << path;
}

void MakeDir(const std::string& path) { fs::create_directories(PathFromUtf8(path)); }

bool Exists(const std::string& path) {
  return ::GetFileAttributesW(NativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(PathFromUtf8(dir), ec)) names.push_back(Utf8FromPath(e.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

bool HasOwnTemporary(const std::string& dir) {
  for (const std::string& name : Names(dir))
    if (IsOwnTemporaryName(name)) return true;
  return false;
}

void SetReadOnly(const std::string& path, bool on) {
  ASSERT_TRUE(::SetFileAttributesW(NativePath(path).c_str(), on ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL));
}

// A handle as a program that writes the file holds it: reading shared.
HANDLE OpenForWriting(const std::string& path) {
  return ::CreateFileW(NativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Append(HANDLE h, const std::string& bytes) {
  DWORD n = 0;
  ::SetFilePointer(h, 0, nullptr, FILE_END);
  ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
}

// A junction at link pointing to target, as mklink /J makes one. Empty when
// the system made none, with the reason.
std::string MakeJunction(const std::string& link, const std::string& target) {
  if (!::CreateDirectoryW(NativePath(link).c_str(), nullptr)) return "CreateDirectoryW failed";
  std::wstring full(MAX_PATH * 4, L'\0');
  full.resize(::GetFullPathNameW(NativePath(target).c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  const std::wstring substitute = L"\\??\\" + full;
  std::vector<char> buffer(64 + (substitute.size() + full.size() + 2) * sizeof(wchar_t));
  auto* data = reinterpret_cast<DWORD*>(buffer.data());
  data[0] = IO_REPARSE_TAG_MOUNT_POINT;
  auto* words = reinterpret_cast<WORD*>(buffer.data() + 4);
  const WORD subBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  const WORD printBytes = static_cast<WORD>(full.size() * sizeof(wchar_t));
  words[0] = static_cast<WORD>(8 + subBytes + 2 + printBytes + 2);  // data length
  words[1] = 0;
  words[2] = 0;                        // substitute name offset
  words[3] = subBytes;                 // and length
  words[4] = static_cast<WORD>(subBytes + 2);  // print name offset
  words[5] = printBytes;
  auto* names = reinterpret_cast<wchar_t*>(buffer.data() + 16);
  std::memcpy(names, substitute.c_str(), subBytes + 2);
  std::memcpy(names + substitute.size() + 1, full.c_str(), printBytes + 2);
  HANDLE h = ::CreateFileW(NativePath(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "open failed";
  DWORD returned = 0;
  BOOL ok = ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), 8 + words[0], nullptr, 0, &returned, nullptr);
  DWORD error = ::GetLastError();
  ::CloseHandle(h);
  if (!ok) return "FSCTL_SET_REPARSE_POINT failed with " + std::to_string(error);
  DWORD attributes = ::GetFileAttributesW(NativePath(link).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return "FSCTL_SET_REPARSE_POINT succeeded but the folder is no reparse point";
  return {};
}

class WindowsActions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.Made());
    MakeDir(in_);
    MakeDir(out_);
  }
  TestDir temp_;
  // As the actions tell paths: with the system's separators.
  std::string base_ = CleanPath(temp_.Path());
  std::string in_ = base_ + "\\in", out_ = base_ + "\\out";
};

// Letter case does not make a name free on Windows.
TEST_F(WindowsActions, LetterCaseDoesNotFreeAName) {
  Put(in_ + "\\a.txt", "one");
  ASSERT_TRUE(CopyFileAction(in_ + "\\a.txt", out_, in_).ok);
  Put(in_ + "\\A.TXT", "two");
  ActionResult r = CopyFileAction(in_ + "\\A.TXT", out_, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, out_ + "\\A(1).TXT");
  EXPECT_EQ(Read(out_ + "\\a.txt"), "one") << "never replaced";
  EXPECT_EQ(Read(out_ + "\\A(1).TXT"), "two");
}

TEST_F(WindowsActions, ACopyIsWholeIdenticalAndKeepsAttributesAndTime) {
  std::string big(5 * 1024 * 1024 + 17, '\0');
  std::mt19937 random(7);
  for (char& c : big) c = static_cast<char>(random());
  Put(in_ + "\\big.bin", big);
  const std::string source = in_ + "\\big.bin";
  FILETIME old{0x12345600, 0x01C00000};  // 2001
  HANDLE h = ::CreateFileW(NativePath(source).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &old));
  ::CloseHandle(h);
  ASSERT_TRUE(::SetFileAttributesW(NativePath(source).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));

  ActionResult r = CopyFileAction(source, out_, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(Read(out_ + "\\big.bin") == big) << "every byte";
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(NativePath(out_ + "\\big.bin").c_str(), GetFileExInfoStandard, &data));
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, old.dwHighDateTime);
  EXPECT_EQ(Names(out_), std::vector<std::string>{"big.bin"}) << "no temporary left";
  EXPECT_TRUE(Read(source) == big) << "the source stays";
}

TEST_F(WindowsActions, AStoppedCopyFailsAndLeavesNothing) {
  Put(in_ + "\\a.bin", std::string(3 << 20, 'a'));
  std::atomic<bool> stopped{true};
  ActionResult r = [&] {
    const CopyStop stop(stopped);
    return CopyFileAction(in_ + "\\a.bin", out_, in_);
  }();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.code, ECANCELED);
  EXPECT_TRUE(Names(out_).empty());
  ASSERT_TRUE(CopyFileAction(in_ + "\\a.bin", out_, in_).ok) << "copies run again";
}

// The copy a killed program was making leaves no temporary behind: the
// test runs itself as the copying program and ends it midway.
TEST_F(WindowsActions, ACopyKilledMidwayLeavesNothing) {
  if (const char* child = std::getenv("VANTREL_COPY_CHILD")) {
    const std::string job = child;
    const std::size_t bar = job.find('|');
    CopyFileAction(job.substr(0, bar), job.substr(bar + 1), job.substr(0, bar));
    return;
  }
  const std::string big = in_ + "\\big.bin";
  HANDLE h = ::CreateFileW(NativePath(big).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size{};
  size.QuadPart = std::int64_t{256} << 20;
  ASSERT_TRUE(::SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(h));
  ::CloseHandle(h);

  wchar_t self[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  std::wstring line = L"\"" + std::wstring(self, n) + L"\" --gtest_filter=WindowsActions.ACopyKilledMidwayLeavesNothing";
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VANTREL_COPY_CHILD", NativePath(big + "|" + out_).c_str()));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &child);
  ::SetEnvironmentVariableW(L"VANTREL_COPY_CHILD", nullptr);
  ASSERT_TRUE(started);
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    seen = HasOwnTemporary(out_);
    if (!seen && ::WaitForSingleObject(child.hProcess, 1) == WAIT_OBJECT_0) break;
  }
  ::TerminateProcess(child.hProcess, 9);
  ::WaitForSingleObject(child.hProcess, 10000);
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  if (!seen) GTEST_SKIP() << "the copy ended before its temporary was seen";
  for (int i = 0; i < 100 && !Names(out_).empty(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Names(out_), std::vector<std::string>{}) << "the temporary went with the killed program";
}

// Windows refuses to replace or delete a read-only file; Wine would do both,
// so the actions refuse by themselves and both answer alike.
TEST_F(WindowsActions, ReadOnlyFilesAreNeitherReplacedNorDeleted) {
  MakeDir(in_ + "\\tree");
  Put(in_ + "\\tree\\locked.txt", "new");
  Put(in_ + "\\tree\\free.txt", "new");
  MakeDir(out_ + "\\tree");
  Put(out_ + "\\tree\\locked.txt", "old");
  Put(out_ + "\\tree\\free.txt", "old");
  SetReadOnly(out_ + "\\tree\\locked.txt", true);
  ActionResult r = CopyDirectoryAction(in_ + "\\tree", out_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.code, EACCES) << r.error;
  EXPECT_EQ(Read(out_ + "\\tree\\locked.txt"), "old");
  EXPECT_EQ(Read(out_ + "\\tree\\free.txt"), "new") << "the rest is copied";
  EXPECT_FALSE(HasOwnTemporary(out_ + "\\tree"));

  // A file copy numbers instead.
  Put(in_ + "\\locked.txt", "new");
  Put(out_ + "\\locked.txt", "old");
  SetReadOnly(out_ + "\\locked.txt", true);
  r = CopyFileAction(in_ + "\\locked.txt", out_, in_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(out_ + "\\locked.txt"), "old");

  r = DeleteFileAction(out_ + "\\locked.txt");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.code, EACCES);
  EXPECT_TRUE(Exists(out_ + "\\locked.txt"));

  // A tree loses all but the read-only file and the folders above it.
  MakeDir(out_ + "\\tree\\deep\\er");
  Put(out_ + "\\tree\\deep\\er\\x.txt", "x");
  r = DeleteDirectoryTree(out_ + "\\tree");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Names(out_ + "\\tree"), std::vector<std::string>{"locked.txt"});
  SetReadOnly(out_ + "\\tree\\locked.txt", false);
  r = DeleteDirectoryTree(out_ + "\\tree");
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(Exists(out_ + "\\tree"));
}

// A file another program holds without sharing its removal stays, with the
// folders above it; everything else of the tree goes. A move of it fails as
// in use, not as being written: no waiting for a writer would end.
TEST_F(WindowsActions, AFileInUseStaysAndTheRestOfTheTreeGoes) {
  MakeDir(in_ + "\\tree\\busy");
  MakeDir(in_ + "\\tree\\idle");
  Put(in_ + "\\tree\\busy\\open.txt", "open");
  Put(in_ + "\\tree\\busy\\closed.txt", "closed");
  Put(in_ + "\\tree\\idle\\x.txt", "x");
  HANDLE user = ::CreateFileW(NativePath(in_ + "\\tree\\busy\\open.txt").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(user, INVALID_HANDLE_VALUE);
  ActionResult moved = MoveFileAction(in_ + "\\tree\\busy\\open.txt", out_, in_);
  ActionResult r = DeleteDirectoryTree(in_ + "\\tree");
  ::CloseHandle(user);
  EXPECT_EQ(moved.code, EBUSY) << moved.error;
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Names(in_ + "\\tree"), std::vector<std::string>{"busy"});
  EXPECT_EQ(Names(in_ + "\\tree\\busy"), std::vector<std::string>{"open.txt"});
  EXPECT_TRUE(Names(out_).empty());
}

// Junctions where the system makes them. Wine makes none (it refuses the
// request), but shows a Unix link to a folder as a reparse point in a
// listing: the test's fixture makes such links, the same three, beside
// outside\keep.txt.
TEST_F(WindowsActions, NothingIsWrittenOrRemovedThroughALink) {
  std::string base = base_;
  MakeDir(base + "\\outside");
  MakeDir(base + "\\empty");
  Put(base + "\\outside\\keep.txt", "keep");
  const std::string why = MakeJunction(out_ + "\\tree", base + "\\outside");
  const bool junctions = why.empty();
  if (junctions) {
    MakeDir(in_ + "\\del");
    MakeDir(in_ + "\\src");
    ASSERT_EQ(MakeJunction(in_ + "\\del\\j", base + "\\outside"), "");
    ASSERT_EQ(MakeJunction(in_ + "\\del\\e", base + "\\empty"), "");
    ASSERT_EQ(MakeJunction(in_ + "\\src\\j", base + "\\outside"), "");
  } else {
    const char* links = std::getenv("VANTREL_UNIX_LINKS");
    if (!links) GTEST_SKIP() << "no junction could be made here (" << why << ") and no Unix links were made";
    base = CleanPath(links);
  }
  const std::string in = base + "\\in", out = base + "\\out", outside = base + "\\outside";
  ASSERT_NE(::GetFileAttributesW(NativePath(out + "\\tree").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

  // A folder copy whose target name is a link writes nothing through it.
  MakeDir(in + "\\tree");
  Put(in + "\\tree\\keep.txt", "intruder");
  Put(in + "\\tree\\new.txt", "intruder");
  ActionResult r = CopyDirectoryAction(in + "\\tree", out);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.code, kLinkInTarget) << r.error;
  EXPECT_EQ(Names(outside), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(Read(outside + "\\keep.txt"), "keep");

  // A file of the link's name is numbered beside it, never written through it.
  MakeDir(in + "\\f");
  Put(in + "\\f\\tree", "t");
  r = CopyFileAction(in + "\\f\\tree", out, in);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, out + "\\tree(0)") << "a folder, linked or not, is not counted";
  r = MoveFileAction(in + "\\f\\tree", out, in);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, out + "\\tree(1)");
  EXPECT_EQ(Names(outside), std::vector<std::string>{"keep.txt"});

  // A link in a copied tree is not copied as what it points to.
  r = CopyDirectoryAction(in + "\\src", out);
  EXPECT_EQ(r.code, kLinkNotCopied) << r.error;
  EXPECT_FALSE(Exists(out + "\\src\\j\\keep.txt"));
  r = DeleteDirectoryTree(in + "\\src\\j");
  EXPECT_EQ(r.code, ELOOP) << "a tree deletion never starts at a link";

  // A tree holding links loses nothing they point to, not even an empty
  // folder; the links themselves go where the system hands them out.
  r = DeleteDirectoryTree(in + "\\del");
  EXPECT_EQ(Read(outside + "\\keep.txt"), "keep");
  EXPECT_EQ(Names(outside), std::vector<std::string>{"keep.txt"});
  EXPECT_TRUE(Exists(base + "\\empty"));
  if (junctions) {
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(Exists(in + "\\del"));
  } else {
    // Wine opens what a Unix link points to even when asked for the link.
    EXPECT_EQ(r.code, ELOOP) << r.error;
    EXPECT_EQ(Names(in + "\\del"), (std::vector<std::string>{"e", "j"}));
  }
  r = DeleteFileAction(in + "\\src\\j");
  EXPECT_EQ(Names(outside), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(junctions ? 0 : ELOOP, r.code) << r.error;
}

TEST_F(WindowsActions, AFileHeldOpenForWritingIsCopiedOnlyOnceClosed) {
  const std::string path = in_ + "\\dl.bin";
  HANDLE writer = OpenForWriting(path);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  Append(writer, "first ");
  EXPECT_EQ(LookForWriters(path).answer, WriterLook::Writer);
  ActionResult r = CopyFileAction(path, out_, in_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.code, kSourceBeingWritten) << r.error;
  EXPECT_TRUE(Names(out_).empty());

  // Through the queue: the job waits aside and acts once the writer closes.
  std::mutex mutex;
  std::vector<std::string> reports;
  ActionQueue queue{ActionOutputs{[&](const ActionOutcome& outcome) {
                                    std::lock_guard lock(mutex);
                                    reports.push_back(ActionOutcomeText(outcome));
                                  },
                                  {},
                                  {}}};
  const MonitorRule rule{"新建文件", in_, "【复制文件】" + out_, true};
  ASSERT_TRUE(RuleFires(rule, path, EventKind::FileCreated));
  queue.Submit(ActionJob{path, EventKind::FileCreated, "dl.bin", {}, false, {rule}});
  queue.WaitIdle();
  auto until = [](const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(20ms);
    return done();
  };
  const std::uint64_t looks = queue.LooksAtWaiting();
  ASSERT_TRUE(until([&] { return queue.LooksAtWaiting() >= looks + 2; }));
  EXPECT_TRUE(Names(out_).empty()) << "still being written";
  {
    std::lock_guard lock(mutex);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0], "等待写入完成】" + path);
  }
  Append(writer, "second");
  ::CloseHandle(writer);
  EXPECT_EQ(LookForWriters(path).answer, WriterLook::NoWriter);
  // Once nothing waits and the queue is idle, nothing more can be done.
  ASSERT_TRUE(until([&] { return queue.WaitingCount() == 0; }));
  queue.WaitIdle();
  EXPECT_EQ(Read(out_ + "\\dl.bin"), "first second");
  EXPECT_EQ(Names(out_), std::vector<std::string>{"dl.bin"}) << "acted on once";
  queue.Stop();
}

// A second volume: Wine shows the Linux root as Z:, where /dev/shm is a
// file system of its own.
std::string OtherVolume(const TestDir& temp) {
  const std::string shm = "Z:\\dev\\shm";
  DWORD attributes = ::GetFileAttributesW(NativePath(shm).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  // Only where a plain rename really fails there.
  const std::string probe = temp.Path() + "\\probe";
  const std::string there = shm + "\\vantrel-volume-probe-" + std::to_string(::GetCurrentProcessId());
  if (!WriteFileAtomically(probe, "p")) return {};
  if (::MoveFileExW(NativePath(probe).c_str(), NativePath(there).c_str(), 0)) {
    ::DeleteFileW(NativePath(there).c_str());
    return {};
  }
  return ::GetLastError() == ERROR_NOT_SAME_DEVICE ? shm : std::string{};
}

TEST_F(WindowsActions, AMoveAcrossVolumesCopiesWholeThenRemovesTheSource) {
  const std::string volume = OtherVolume(temp_);
  if (volume.empty()) GTEST_SKIP() << "no second volume where a rename fails";
  TestDir awayDir(volume);
  ASSERT_TRUE(awayDir.Made());
  const std::string away = CleanPath(awayDir.Path());
  std::vector<ActionChange> told;
  ActionChanges tell = [&](const ActionChange& c) { told.push_back(c); };

  const std::string content(2 << 20, 'm');
  Put(in_ + "\\m.bin", content);
  Put(away + "\\m.bin", "taken");
  ActionResult r = MoveFileAction(in_ + "\\m.bin", away, in_, tell);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.target, away + "\\m(1).bin");
  EXPECT_TRUE(Read(r.target) == content);
  EXPECT_FALSE(Exists(in_ + "\\m.bin"));
  ASSERT_EQ(told.size(), 2u) << "a copy and a removal, no rename";
  EXPECT_EQ(told[0].kind, ActionChange::FileAppeared);
  EXPECT_EQ(told[1].kind, ActionChange::FileVanished);
  EXPECT_FALSE(HasOwnTemporary(away));

  // Stopped midway, the copy goes and the source stays.
  Put(in_ + "\\s.bin", content);
  {
    std::atomic<bool> stopped{true};
    const CopyStop stop(stopped);
    r = MoveFileAction(in_ + "\\s.bin", away, in_);
  }
  EXPECT_EQ(r.code, ECANCELED) << r.error;
  EXPECT_TRUE(Exists(in_ + "\\s.bin"));
  EXPECT_FALSE(Exists(away + "\\s.bin"));
  EXPECT_FALSE(HasOwnTemporary(away));

  // Held open for writing: nothing moves.
  HANDLE writer = OpenForWriting(in_ + "\\w.bin");
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  Append(writer, "w");
  r = MoveFileAction(in_ + "\\w.bin", away, in_);
  ::CloseHandle(writer);
  EXPECT_EQ(r.code, kSourceBeingWritten) << r.error;
  EXPECT_TRUE(Exists(in_ + "\\w.bin"));
  EXPECT_FALSE(Exists(away + "\\w.bin"));

  // A read-only file cannot leave its folder: nothing is left in the target.
  Put(in_ + "\\ro.txt", "ro");
  SetReadOnly(in_ + "\\ro.txt", true);
  r = MoveFileAction(in_ + "\\ro.txt", away, in_);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(Exists(in_ + "\\ro.txt"));
  EXPECT_FALSE(Exists(away + "\\ro.txt"));

  // A folder moves as a copy and a removal of exactly what was copied.
  MakeDir(in_ + "\\f\\sub");
  Put(in_ + "\\f\\a.txt", "a");
  Put(in_ + "\\f\\sub\\b.txt", "b");
  r = MoveDirectoryAction(in_ + "\\f", away);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Read(away + "\\f\\sub\\b.txt"), "b");
  EXPECT_EQ(Read(away + "\\f\\a.txt"), "a");
  EXPECT_FALSE(Exists(in_ + "\\f"));
}

// The echo of an action comes back spelled as the disk or the watching
// rule spells the folder; Windows tells no difference, nor may the memory
// of our own changes.
TEST(WindowsOwnChanges, AnEchoIsKnownWhateverTheLetterCaseAndSeparators) {
  OwnChanges own;
  const auto now = std::chrono::steady_clock::now();
  own.Remember({ActionChange::FileAppeared, "D:\\Bak\\a.txt", {}}, now);
  own.Remember({ActionChange::Renamed, "D:\\In\\scan.pdf", "D:\\Out\\scan.pdf"}, now);
  EXPECT_FALSE(own.Consume("d:/bak/A.TXT", EventKind::FileDeleted, now));
  EXPECT_TRUE(own.Consume("d:/bak/A.TXT", EventKind::FileCreated, now));
  EXPECT_FALSE(own.Consume("D:\\Bak\\a.txt", EventKind::FileCreated, now)) << "used up once";
  EXPECT_TRUE(own.Consume("d:\\out\\SCAN.pdf", EventKind::FileCreated, now));
  EXPECT_FALSE(own.Consume("D:\\In\\scan.pdf", EventKind::FileDeleted, now)) << "both ends went with the one event";
}

// What the C runtime (and CommandLineToArgvW) reads back from a quoted
// argument is the argument, and the parameter text splits as it would.
TEST(WindowsCommandLine, QuotingAndSplittingAgreeWithTheSystem) {
  const std::vector<std::string> hostile{"plain", "", "a b", "say \"hi\"", "end\\", "end\\\\", "dir\\ x\\",
                                         "\\\"", "\"", "tab\tnew\nline", "C:\\a b\\c.txt", "#路径 😀 \\\\\"x"};
  for (const std::string& arg : hostile) {
    const std::wstring line = L"prog " + platform::WideFromUtf8(QuoteCommandLineArgument(arg));
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(line.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    ASSERT_EQ(argc, 2) << arg;
    EXPECT_EQ(platform::Utf8FromWide(argv[1]), arg);
    ::LocalFree(argv);
  }
  for (const std::string text : {"a  b\tc", "\"x y\" z", "C:\\dir\\x.txt \"C:\\a b\\\\\" q", "a\\\\\\\"b \"\"",
                                 "x\"y z\"w", "\\\\server\\share\\f"}) {
    const std::wstring line = L"prog " + platform::WideFromUtf8(text);
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(line.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    std::vector<std::string> system;
    for (int i = 1; i < argc; ++i) system.push_back(platform::Utf8FromWide(argv[i]));
    ::LocalFree(argv);
    EXPECT_EQ(SplitCommandLine(text), system) << text;
  }
}

class WindowsProgramAction : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t self[MAX_PATH * 4];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    recorder_ = Utf8FromPath(fs::path(std::wstring(self, n)).parent_path() / L"argv_recorder.exe");
    ASSERT_TRUE(Exists(recorder_)) << recorder_;
    out_ = temp_.Path() + "\\args.bin";
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VANTREL_ARGV_FILE", NativePath(out_).c_str()));
  }
  // The show mode the program was given, then its arguments.
  std::vector<std::string> Recorded() {
    std::string bytes;
    for (int i = 0; i < 500 && !(ReadWholeFile(out_, bytes) && !bytes.empty() && bytes.back() == '\n'); ++i)
      std::this_thread::sleep_for(10ms);
    ::DeleteFileW(NativePath(out_).c_str());
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
      if (bytes[i] == '\0') {
        words.push_back(bytes.substr(start, i - start));
        start = i + 1;
      }
    return words;
  }
  TestDir temp_;
  std::string recorder_, out_;
};

TEST_F(WindowsProgramAction, EachFilledInValueIsOneArgumentFilledInOnce) {
  const std::string path = "C:\\in dir\\a \"b\" #路径 #文件名 & echo x | y\\";
  const std::string name = "a \"b\" #路径 #文件名 & echo x | y\\";
  ProgramLaunch launch =
      RunProgramAction(recorder_ + "§#路径 --name=#文件名 \"C:\\Program Files\\x\\\\\" C:\\a\\b.txt§1", name, path);
  ASSERT_TRUE(launch.fieldsOk);
  ASSERT_TRUE(launch.started) << launch.error;
  EXPECT_GT(launch.pid, 0);
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"show=" + std::to_string(SW_HIDE), path, "--name=" + name,
                                                  "C:\\Program Files\\x\\", "C:\\a\\b.txt"}));
  EXPECT_EQ(launch.detail,
            recorder_ + " " + path + " --name=" + name + " \"C:\\Program Files\\x\\\\\" C:\\a\\b.txt");
}

// A planted name that a program would read as a switch reaches it as the
// file's full path where it would begin an argument.
TEST_F(WindowsProgramAction, ANameThatWouldReadAsAnOptionIsGivenAsItsPath) {
  const std::string path = "C:\\in\\-delete all.txt";
  ProgramLaunch launch = RunProgramAction(recorder_ + "§#文件名 --name=#文件名§1", "-delete all.txt", path);
  ASSERT_TRUE(launch.started) << launch.error;
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"show=" + std::to_string(SW_HIDE), path, "--name=-delete all.txt"}));
}

TEST_F(WindowsProgramAction, ShowModesFieldsAndFailures) {
  const std::pair<const char*, int> modes[] = {{"0", SW_SHOWNORMAL},      {"1", SW_HIDE},
                                               {"2", SW_SHOWMINNOACTIVE}, {"3", SW_SHOWMAXIMIZED},
                                               {"7", SW_SHOWNORMAL},      {"x", SW_SHOWNORMAL}};
  for (const auto& [field, show] : modes) {
    ProgramLaunch launch = RunProgramAction(recorder_ + "§§" + field, "a", "C:\\a");
    ASSERT_TRUE(launch.started) << launch.error;
    EXPECT_EQ(Recorded(), std::vector<std::string>{"show=" + std::to_string(show)}) << "mode " << field;
  }
  EXPECT_FALSE(RunProgramAction(recorder_ + "§x§", "a", "C:\\a").fieldsOk) << "two fields";
  ProgramLaunch launch = RunProgramAction(temp_.Path() + "\\no such program.exe§x§0", "a", "C:\\a");
  EXPECT_TRUE(launch.fieldsOk);
  EXPECT_FALSE(launch.started);
  EXPECT_FALSE(launch.error.empty());
  Put(temp_.Path() + "\\run.bat", "@echo off\r\n");
  launch = RunProgramAction(temp_.Path() + "\\run.bat§#路径§1", "a", "C:\\a & del x");
  EXPECT_FALSE(launch.started) << "the command interpreter would read the name again";
}

}  // namespace
}  // namespace vantrel
