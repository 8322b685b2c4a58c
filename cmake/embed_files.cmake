# Writes a C++ header holding the bytes of every file matching PATTERN in
# DIR, each followed by a terminating zero byte:
#   cmake -DDIR=<folder> -DPATTERN=*.svg -DOUT=<header> -P embed_files.cmake
# The header defines `embedded_files::kFiles`, an array of {name, data,
# size} (size without the terminating zero), sorted by name.
file(GLOB files RELATIVE ${DIR} ${DIR}/${PATTERN})
get_filename_component(folder ${DIR} NAME)
list(SORT files)
set(body "#pragma once\n// Generated from the files in ${folder}/; do not edit.\n\n#include <cstddef>\n\nnamespace embedded_files {\n\nstruct File {\n  const char* name;\n  const unsigned char* data;\n  std::size_t size;\n};\n\n")
set(table "")
set(index 0)
foreach(name ${files})
  file(READ ${DIR}/${name} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  " bytes "${bytes}")
  string(APPEND body "inline constexpr unsigned char kData${index}[] = {\n  ${bytes}0x00};\n\n")
  string(APPEND table "    File{\"${name}\", kData${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND body "inline constexpr File kFiles[] = {\n${table}};\n\n}  // namespace embedded_files\n")
# Rewrite only on change so dependants do not rebuild needlessly.
set(old "")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL body)
  file(WRITE ${OUT} "${body}")
endif()
