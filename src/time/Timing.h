#pragma once
// Every waiting time of the engine, the change sources and the watch
// helpers, in one place, with how they depend on each other. Where one must
// outlast another, the compiler checks it.
#include <chrono>

namespace vantrel::timing {

using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

// --- A change, from the source to the rules -------------------------------

// A new file's event is held back while its writer works: told once the
// writer closes it, after this long without writes, ...
inline constexpr milliseconds kWriteQuiet{1000};
// ... or at the latest this long after it appeared. Content changes of an
// existing file are told once per burst, after kWriteQuiet.
inline constexpr milliseconds kCreateHoldLimit{5000};
static_assert(kWriteQuiet < kCreateHoldLimit);

// How long a change an action made is remembered, so that the event it
// causes is known as ours and fires no rule: longer than that event can be
// held back above, with room for the queue's own delay.
inline constexpr seconds kOwnChangeMemory{8};
static_assert(kOwnChangeMemory >= kCreateHoldLimit + seconds{2});

// --- Acting only on whole files --------------------------------------------

// A file is whole once neither it nor its times changed for this long.
inline constexpr seconds kSteady{2};
// A file untouched this long before it was first looked at is whole at once.
inline constexpr seconds kLongUntouched = 5 * kSteady;
// How often a file being written is looked at again: several times within
// kSteady, so that a file is acted on soon after it became steady.
inline constexpr milliseconds kRecheck{500};
static_assert(kRecheck * 4 <= kSteady);
// A file written for longer than this is told about, and still waited for.
inline constexpr minutes kLongWrite{10};
static_assert(kLongWrite > kLongUntouched);

// Notices of one kind (lost changes, files written for long) are told at
// once and then gathered, at most one in this long.
inline constexpr seconds kNoticeInterval{60};

// --- The change sources ------------------------------------------------------

// The two halves of a move as inotify reports them, and as a directory read
// on Windows may split them across two reads.
inline constexpr milliseconds kInotifyMovePairing{5};
inline constexpr milliseconds kWindowsRenamePairing{50};
static_assert(kInotifyMovePairing < kWriteQuiet && kWindowsRenamePairing < kWriteQuiet);
// How often Windows drives are counted and missing rule folders looked for.
inline constexpr milliseconds kDrivePoll{2000};
// fanotify: how long an event for a folder whose path is being renamed
// waits for the path, and how long the reader gathers a batch.
inline constexpr milliseconds kFanotifyDefer{3000};
inline constexpr milliseconds kFanotifyGather{5};

// --- The watch helper and the watch service ----------------------------------

// Both send a record at least this often, ...
inline constexpr milliseconds kAliveEvery{1000};
// ... and are given up when silent this long.
inline constexpr milliseconds kHelperSilence{5000};
static_assert(kHelperSilence >= 3 * kAliveEvery, "a helper under load must not be given up for one late record");
// How long a helper may take to say it watches.
inline constexpr milliseconds kHelperStart{10000};
// A helper that keeps ending is started again after a pause that doubles
// from the first to the last.
inline constexpr milliseconds kHelperFirstRetry{1000};
inline constexpr milliseconds kHelperLastRetry{60000};
static_assert(kHelperFirstRetry < kHelperLastRetry);
// The service ends this long after its last connection closed.
inline constexpr milliseconds kServiceIdleEnd{60000};

// --- The engine --------------------------------------------------------------

// The most one turn of the engine takes on the face's thread.
inline constexpr milliseconds kTurn{10};

}  // namespace vantrel::timing
