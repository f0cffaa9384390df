# Turns files into C++ byte arrays compiled into the program, each behind a
# function that gives its bytes, so the program needs no file beside it.
#   cmake "-DENTRIES=function=file|function=file" -DOUTPUT=files.cpp
#         -DHEADER=module/embedded_files.hpp -P embed_files.cmake
# The functions are declared in HEADER, in the namespace zelvor::embedded.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" entries "${ENTRIES}")
set(arrays "")
set(functions "")
foreach(entry IN LISTS entries)
  if(NOT entry MATCHES "^([A-Za-z_][A-Za-z0-9_]*)=(.+)$")
    message(FATAL_ERROR "embed_files: cannot read the entry '${entry}'")
  endif()
  set(name "${CMAKE_MATCH_1}")
  set(path "${CMAKE_MATCH_2}")
  file(READ "${path}" hex HEX)
  if(hex STREQUAL "")
    # An empty array is not C++, and an empty picture is a broken checkout.
    message(FATAL_ERROR "embed_files: ${path} is empty")
  endif()
  # Sixteen bytes a line: break the digits first, then mark each pair.
  string(REGEX REPLACE "(................................)" "\\1\n    " hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(STRIP "${bytes}" bytes)
  string(APPEND arrays "constexpr std::uint8_t ${name}Bytes[] = {\n    ${bytes}\n};\n")
  string(APPEND functions
         "std::span<const std::uint8_t> ${name}() { return ${name}Bytes; }\n")
endforeach()

if(NOT HEADER)
  message(FATAL_ERROR "embed_files: HEADER names the header that declares the functions")
endif()
if(arrays STREQUAL "")
  message(FATAL_ERROR "embed_files: no files given")
endif()

file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from the files in resources/; do not edit.
#include \"${HEADER}\"

namespace zelvor::embedded {

namespace {
// clang-format off
${arrays}// clang-format on
}  // namespace

${functions}
}  // namespace zelvor::embedded
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
