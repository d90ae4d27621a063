# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedFile.cmake
# Writes a C++ source that holds INPUT's bytes as vantrel::embedded::SYMBOL
# and its length as SYMBOL_size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <cstddef>\n"
  "namespace vantrel::embedded {\n"
  "extern const unsigned char ${SYMBOL}[];\n"
  "extern const std::size_t ${SYMBOL}_size;\n"
  "alignas(16) const unsigned char ${SYMBOL}[] = {\n${bytes}0};\n"
  "const std::size_t ${SYMBOL}_size = ${size};\n"
  "}  // namespace vantrel::embedded\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
