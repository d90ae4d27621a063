#pragma once
// TEMPORARY, Windows build only: a stand-in for the two conversions
// text/Codec.cpp asks of iconv (UTF-8 <-> GB18030), made over the system's
// code page 936 until the program's own GB18030 codec replaces iconv in
// Codec.cpp; then this folder goes. It lacks GB18030's four-byte forms
// (characters outside code page 936 become "?"), and the 106 two-byte
// sequences that code page 936 maps to the private use area differ.
#include <cstddef>

using iconv_t = struct VantrelTemporaryIconv*;

iconv_t iconv_open(const char* to, const char* from);
std::size_t iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft);
int iconv_close(iconv_t cd);
