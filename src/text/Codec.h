#pragma once
// Internal text is UTF-8. The files the program keeps are GB18030 on disk:
// byte for byte the same as code page 936 wherever that code page has the
// character, so files of earlier versions read unchanged, while characters
// outside it survive instead of cutting the text.
#include <string>
#include <string_view>

namespace vantrel {

// Bytes that are not valid UTF-8 are written as '?'.
std::string Utf8ToGb18030(std::string_view utf8);
// Bytes that are not valid GB18030 become U+FFFD.
std::string Gb18030ToUtf8(std::string_view gb);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values beyond U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// A file name (Linux names are bytes) as a person reads it: as UTF-8 where it
// is valid UTF-8, else as GB18030 where that is valid (names unpacked from
// archives made on Windows), else with each byte that is no UTF-8 written
// as \xHH, so that two different names never look alike.
std::string ReadableText(std::string_view bytes);
// ReadableText with control characters escaped (\r, \n, \t, \xHH), for a
// log record or an export line: one record is always one line.
std::string OneLineText(std::string_view bytes);
// OneLineText(bytes) appended to out; plain ASCII costs a single look.
void AppendOneLineText(std::string& out, std::string_view bytes);

// Length of the text in the stored (code page 936 compatible) encoding, which
// is what byte limits of the original platform count.
std::size_t AnsiByteLength(std::string_view utf8);

// UTF-16 (what Qt and the Windows interfaces use) to the internal text and
// back. Unpaired surrogates and invalid UTF-8 become U+FFFD.
std::string WideToAnsi(std::u16string_view wide);
// With terminate set, the result ends before the first NUL of the text.
std::u16string AnsiToWide(std::string_view text, bool terminate = true);

}  // namespace vantrel
