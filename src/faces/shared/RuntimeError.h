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

// Codes for errors that carry none of their own.
inline constexpr int kStandardErrorCode = 1;
inline constexpr int kUnknownErrorCode = 2;

// What the last-resort handler tells the user, caption "提示:".
inline std::string RuntimeErrorText(int code, const std::string& message) {
  return "错误代码:" + std::to_string(code) + "\n错误信息:" + message;
}

}  // namespace vantrel
