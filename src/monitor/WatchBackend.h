#pragma once

namespace vantrel {

// Which change source the user asked for: auto takes the best this process
// may use.
enum class WatchBackend { Auto, Fanotify, Inotify };

}  // namespace vantrel
