#include "platform/Error.h"

#include <cerrno>

namespace vantrel::platform {

// Linux's numbers are the portable ones.
Error LastSystemError() { return Error{errno, errno}; }

std::string NativeErrorText(std::int64_t) { return {}; }

}  // namespace vantrel::platform
