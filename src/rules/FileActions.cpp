#include "rules/FileActions.h"

namespace vantrel {
namespace {

// The flag of whoever runs actions on this thread; none: copies never stop.
thread_local const std::atomic<bool>* copyStop = nullptr;

}  // namespace

CopyStop::CopyStop(const std::atomic<bool>& flag) : previous_(copyStop) { copyStop = &flag; }

CopyStop::~CopyStop() { copyStop = previous_; }

bool CopyStop::Requested() { return copyStop && copyStop->load(std::memory_order_relaxed); }

}  // namespace vantrel
