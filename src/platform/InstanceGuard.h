#pragma once
// One running copy per user and home folder. The home is known by its
// identity on disk (device and inode; volume and file index on Windows), so
// a link to it or a bind mount of it finds the copy already running there.
// On Linux the guard lives in a folder only the user can enter: another user
// can neither take it first, nor reach the running copy, nor fill its
// descriptor table. On Windows it is a set of named objects in the session's
// own namespace.
#include "platform/Waker.h"

#include <string>

namespace vantrel {

class InstanceGuard {
 public:
  enum class Result {
    Acquired,   // this copy is the one to run
    Running,    // another copy runs on this home
    Unguarded,  // no safe place for the guard: runs without one (error says why)
  };

  // kind names this copy to a later start ("vantrel", "vantrel-headless").
  InstanceGuard(std::string home, std::string kind);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  Result Acquire(std::string& error);
  // After Running: which program holds the home, as its kind.
  const std::string& RunningKind() const { return runningKind_; }
  // After Running: asks the copy that runs to bring its window forward.
  bool AskToComeForward() const;

  // After Acquired: raised (readable) when later copies sent requests.
  platform::WaitHandle RequestFd() const { return handles_.requests; }
  // Reads what is waiting (a bounded amount per call, so a flood cannot
  // hold the caller); true when a copy of this user asked to come forward.
  bool TakeRequests();

  // Where there are no signals to carry these (Windows), a later start asks
  // the running copy to end the way "退出程序" does, or to read its files
  // again, through events of the guard's own. On Linux, where signals carry
  // them, Ask answers false and RequestHandle is no handle.
  enum class Request { Quit, Reload };
  // After Running.
  bool Ask(Request request) const;
  // After Running: waits until the running copy has ended; false when it
  // still runs after the time given.
  bool WaitUntilEnded(unsigned milliseconds) const;
  // After Acquired: raised when a later copy asked.
  platform::WaitHandle RequestHandle(Request request) const;

  // Where the guard lives; for tests.
  const std::string& Folder() const { return folder_; }

 private:
  bool ChooseFolder(std::string& error);

  std::string home_, kind_, folder_, name_, runningKind_;
  platform::GuardHandles handles_;
};

}  // namespace vantrel
