# Turns text files into byte arrays of a generated C++ file.
# cmake -DOUT=<file.cpp> -DNAMES=kA,kB -DFILES=a.txt,b.txt -P embed_text.cmake
set(_out "// Generated from the string tables in res/; do not edit.\n#include <cstddef>\n\nnamespace qelm::res::detail {\n")
string(REPLACE "," ";" NAMES "${NAMES}")
string(REPLACE "," ";" FILES "${FILES}")
list(LENGTH NAMES _n)
math(EXPR _last "${_n} - 1")
foreach(_i RANGE ${_last})
  list(GET NAMES ${_i} _name)
  list(GET FILES ${_i} _file)
  file(READ "${_file}" _hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n    " _bytes "${_bytes}")
  string(APPEND _out "extern const unsigned char ${_name}[] = {\n    ${_bytes}0x00\n};\n")
  # The size excludes the terminating zero added above.
  string(APPEND _out "extern const std::size_t ${_name}Size = sizeof(${_name}) - 1;\n")
endforeach()
string(APPEND _out "} // namespace qelm::res::detail\n")
file(WRITE "${OUT}" "${_out}")
