// What the watch helper lets through, judged as an ordinary user: the test
// opens the folders as root, as the helper does with its capabilities, and
// then judges in a child that has become that user.
#include "monitor/linux/VisibleChanges.h"

#include "../TestDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <grp.h>
#include <deque>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel {
namespace {

constexpr uid_t kNobody = 65534;

class VisibleChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to become another user";
    ASSERT_TRUE(dir_.Made());
    ::chmod(dir_.Path().c_str(), 0755);
    Folder("open", 0755);
    Folder("private", 0700);
    Folder("private/inner", 0777);
    Folder("searchable", 0311);
    Folder("mine", 0755);
    ASSERT_EQ(::chown(Path("mine").c_str(), kNobody, kNobody), 0);
    fds_[""] = ::open(dir_.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }

  void TearDown() override {
    for (auto& [key, fd] : fds_) ::close(fd);
  }

  std::string Path(const std::string& key) const { return key.empty() ? dir_.Path() : dir_.Path() + "/" + key; }

  void Folder(const std::string& key, mode_t mode) {
    ASSERT_EQ(::mkdir(Path(key).c_str(), mode), 0) << key;
    ASSERT_EQ(::chmod(Path(key).c_str(), mode), 0);
    fds_[key] = ::open(Path(key).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }

  // Runs body as the ordinary user; what it returns, or why it could not.
  std::string AsNobody(const std::function<std::string()>& body) {
    return As(kNobody, kNobody, {}, body);
  }

  std::string As(uid_t uid, gid_t gid, const std::vector<gid_t>& groups, const std::function<std::string()>& body) {
    int out[2];
    if (::pipe(out) != 0) return "no pipe";
    pid_t child = ::fork();
    if (child == 0) {
      ::close(out[0]);
      std::string said = "could not become the user";
      if (::setgroups(groups.size(), groups.data()) == 0 && ::setresgid(gid, gid, gid) == 0 &&
          ::setresuid(uid, uid, uid) == 0)
        said = body();
      [[maybe_unused]] ssize_t n = ::write(out[1], said.data(), said.size());
      ::_exit(0);
    }
    ::close(out[1]);
    std::string said;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
    return said;
  }

  RawChange Change(RawChange::Kind kind, const std::string& folder, const std::string& name, bool isDir = false) {
    RawChange c;
    c.kind = kind;
    c.isDir = isDir;
    keep_.push_back(Path(folder) + "/" + name);
    keep_.push_back(folder);
    c.path = keep_[keep_.size() - 2];
    c.folder = keep_.back();
    return c;
  }

  RawChange Rename(const std::string& from, const std::string& to) {
    RawChange c = Change(RawChange::Rename, from, "x");
    RawChange n = Change(RawChange::Create, to, "x");
    c.newPath = n.path;
    c.newFolder = n.folder;
    return c;
  }

  // Judges the changes as the user; one line each for what passed.
  std::string Seen(const std::vector<RawChange>& changes, const std::function<void()>& between = {}) {
    return AsNobody([&] {
      std::string seen;
      VisibleChanges visible(
          [&](std::string_view key) {
            auto it = fds_.find(std::string(key));
            return it == fds_.end() ? -1 : ::dup(it->second);
          },
          [&](const RawChange& c) {
            static const char* kKinds[] = {"create", "modify", "close", "attrib", "delete",
                                           "rename", "appear", "drive+", "drive-"};
            seen += std::string(kKinds[c.kind]) + " " + std::string(c.path.substr(dir_.Path().size()));
            if (!c.newPath.empty()) seen += " > " + std::string(c.newPath.substr(dir_.Path().size()));
            seen += "\n";
          },
          Viewer::ThisProcess());
      for (const RawChange& c : changes) {
        if (between && c.kind == RawChange::Attrib) between();
        visible.Change(c);
      }
      return seen;
    });
  }

  TestDir dir_;
  std::map<std::string, int> fds_;
  std::deque<std::string> keep_;
};

TEST_F(VisibleChangesTest, TheUserMustReadTheFolderAndSearchEveryFolderAboveIt) {
  std::string verdicts = AsNobody([&] {
    std::string v;
    for (const char* key : {"", "open", "private", "private/inner", "searchable", "mine"})
      v += std::string(key) + (UserMayList(fds_.at(key)) ? " yes\n" : " no\n");
    return v;
  });
  EXPECT_EQ(verdicts, " yes\nopen yes\nprivate no\nprivate/inner no\nsearchable no\nmine yes\n")
      << "a folder open to all inside a private one is as private as its parent";
}

// An access ACL as the kernel stores it: tag, rights and id per entry.
std::string Acl(std::initializer_list<std::array<unsigned, 3>> entries) {
  std::string bytes;
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(v >> (8 * i) & 0xff);
  };
  put(2);
  for (const auto& [tag, perm, id] : entries) {
    put(tag | perm << 16);
    put(id);
  }
  return bytes;
}

TEST_F(VisibleChangesTest, IdsFromAConnectionAreJudgedAsTheKernelJudgesThatUser) {
  // The shared service cannot ask the kernel as each user; its own reading
  // of modes and ACLs must agree with the kernel's for every case that
  // tells them apart: owner bits before any ACL, a named user limited by
  // the mask, a matching group that refuses over others that grant, a
  // group granted through the primary group, and a mask of nothing that
  // leaves the ACL unread.
  constexpr unsigned kUserObj = 1, kUser = 2, kGroupObj = 4, kGroup = 8, kMask = 0x10, kOther = 0x20, kAny = ~0u;
  const std::vector<std::pair<std::string, std::string>> folders = {
      {"g750", ""},
      {"g705", ""},
      {"owned070", ""},
      {"acl-user", Acl({{kUserObj, 7, kAny}, {kUser, 5, 4243}, {kGroupObj, 0, kAny}, {kMask, 5, kAny}, {kOther, 0, kAny}})},
      {"acl-user-masked",
       Acl({{kUserObj, 7, kAny}, {kUser, 5, 4243}, {kGroupObj, 0, kAny}, {kMask, 1, kAny}, {kOther, 0, kAny}})},
      {"acl-group", Acl({{kUserObj, 7, kAny}, {kGroupObj, 0, kAny}, {kGroup, 5, 4242}, {kMask, 5, kAny}, {kOther, 0, kAny}})},
      {"acl-group-refuses",
       Acl({{kUserObj, 7, kAny}, {kGroupObj, 1, kAny}, {kGroup, 0, 4242}, {kMask, 1, kAny}, {kOther, 5, kAny}})},
      {"acl-mask-none",
       Acl({{kUserObj, 7, kAny}, {kUser, 7, 4243}, {kGroupObj, 0, kAny}, {kMask, 0, kAny}, {kOther, 5, kAny}})},
  };
  const std::map<std::string, mode_t> modes = {{"g750", 0750}, {"g705", 0705}, {"owned070", 0070}};
  for (const auto& [name, acl] : folders) {
    Folder(name, modes.count(name) ? modes.at(name) : 0700);
    ASSERT_EQ(::chown(Path(name).c_str(), name == "owned070" ? 4243 : 0, 4242), 0);
    if (acl.empty()) continue;
    ASSERT_EQ(::setxattr(Path(name).c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
        << name << ": " << std::strerror(errno);
  }
  struct Who {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
  };
  const std::vector<Who> viewers = {{4243, 4243, {}}, {4244, 4244, {4242}}, {4245, 4242, {}}, {kNobody, kNobody, {}}};
  for (const Who& who : viewers) {
    const Viewer connected = Viewer::Of(who.uid, who.gid, {who.groups.begin(), who.groups.end()});
    std::string ours;
    for (const auto& [name, acl] : folders) ours += name + (UserMayList(fds_.at(name), connected) ? " yes\n" : " no\n");
    const std::string kernel = As(who.uid, who.gid, who.groups, [&] {
      std::string v;
      for (const auto& [name, acl] : folders) v += name + (UserMayList(fds_.at(name)) ? " yes\n" : " no\n");
      return v;
    });
    EXPECT_EQ(ours, kernel) << "uid " << who.uid;
  }
  // The kernel's own answers are the measure; a few of them pinned, so that
  // a folder set up wrong cannot make the comparison empty.
  const Viewer named = Viewer::Of(4243, 4243, {}), member = Viewer::Of(4244, 4244, {4242});
  EXPECT_TRUE(UserMayList(fds_.at("acl-user"), named));
  EXPECT_FALSE(UserMayList(fds_.at("acl-user-masked"), named));
  EXPECT_TRUE(UserMayList(fds_.at("acl-group"), member));
  EXPECT_FALSE(UserMayList(fds_.at("acl-group-refuses"), member));
  EXPECT_TRUE(UserMayList(fds_.at("acl-group-refuses"), named));
  EXPECT_FALSE(UserMayList(fds_.at("owned070"), named));
}

TEST_F(VisibleChangesTest, RenamesAcrossTheLineBecomeCreationsOrDeletions) {
  std::string seen = Seen({Change(RawChange::Create, "open", "a"), Change(RawChange::Create, "private", "b"),
                           Change(RawChange::Create, "private/inner", "c"), Change(RawChange::Modify, "gone", "d"),
                           Rename("private", "open"), Rename("open", "private"), Rename("private", "private/inner"),
                           Rename("open", "mine")});
  EXPECT_EQ(seen,
            "create /open/a\n"
            "appear /open/x\n"
            "delete /open/x\n"
            "rename /open/x > /mine/x\n");
}

TEST_F(VisibleChangesTest, AFolderClosedToTheUserHidesWhatFollowsOnceItsNewRightsAreTold) {
  std::string seen = Seen({Change(RawChange::Create, "mine", "before"), Change(RawChange::Attrib, "", "mine", true),
                           Change(RawChange::Create, "mine", "after")},
                          [&] { ::chmod(Path("mine").c_str(), 0); });
  EXPECT_EQ(seen, "create /mine/before\nattrib /mine\n");
}

TEST_F(VisibleChangesTest, AFolderIsJudgedByWhatItIsNotByTheNameItHadWhenItsChangeWasRead) {
  // Where the user owns the parent, a private folder can be moved aside and
  // an open one put under its name before its changes are judged.
  ASSERT_EQ(::rename(Path("private").c_str(), Path("aside").c_str()), 0);
  ASSERT_EQ(::mkdir(Path("private").c_str(), 0777), 0);
  ASSERT_EQ(::chmod(Path("private").c_str(), 0777), 0);
  EXPECT_EQ(Seen({Change(RawChange::Create, "private", "secret-name")}), "");
}

}  // namespace
}  // namespace vantrel
