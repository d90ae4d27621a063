#pragma once
#include <stdexcept>
#include <string>

namespace vantrel {

// An internal error with the numeric code the last-resort handler shows.
class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

}  // namespace vantrel
