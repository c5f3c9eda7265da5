# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=symbol -P embed.cmake
# Writes the bytes of INPUT as `extern const unsigned char NAME[]` and `NAME_size`.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}.\n#include <stddef.h>\n"
  "extern const unsigned char ${NAME}[] = {\n${bytes}\n};\n"
  "extern const size_t ${NAME}_size = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
