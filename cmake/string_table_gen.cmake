# Turns the STRINGTABLE blocks of resource scripts into a C++ string table.
#   cmake -DINPUTS=a.rc|b.rc -DOUTPUT=table.cpp -P string_table_gen.cmake
# With -DIDS_HEADER=ids.hpp -DIDS_NAMESPACE=ns it writes instead a header of
# the ids that a trailing "// name" names, as constants in namespace ns.
# It reads the subset of the resource language the program uses: numeric ids,
# one quoted text per line, "" for a quote. A backslash would be an escape to
# the resource compiler but not here, so it is refused rather than read
# differently on the two platforms.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" inputs "${INPUTS}")
set(rows "")
set(ids "")
set(names "")
set(constants "")
foreach(rc IN LISTS inputs)
  file(STRINGS "${rc}" lines)
  set(in_table FALSE)
  set(in_block FALSE)
  foreach(line IN LISTS lines)
    if(NOT in_table)
      if(line MATCHES "^[ \t]*STRINGTABLE([ \t]|$)")
        set(in_table TRUE)
      endif()
      continue()
    endif()
    if(NOT in_block)
      if(line MATCHES "^[ \t]*(BEGIN|{)[ \t]*$")
        set(in_block TRUE)
      endif()
      continue()
    endif()
    if(line MATCHES "^[ \t]*(END|})[ \t]*$")
      set(in_table FALSE)
      set(in_block FALSE)
    elseif(line MATCHES "^[ \t]*([0-9]+)[ \t]*,?[ \t]*\"(.*)\"[ \t]*(//[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*)?$")
      set(id "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
      set(name "${CMAKE_MATCH_4}")
      if(text MATCHES "\\\\")
        message(FATAL_ERROR "${rc}: string ${id} holds a backslash escape")
      endif()
      if(id IN_LIST ids)
        message(FATAL_ERROR "${rc}: string ${id} is defined twice")
      endif()
      string(REPLACE "\"\"" "" unpaired "${text}")
      if(unpaired MATCHES "\"")
        message(FATAL_ERROR "${rc}: string ${id} is not one quoted text")
      endif()
      list(APPEND ids "${id}")
      if(name)
        if(name IN_LIST names)
          message(FATAL_ERROR "${rc}: the name ${name} is given twice")
        endif()
        list(APPEND names "${name}")
        string(APPEND constants "inline constexpr std::uint32_t ${name} = ${id};\n")
      endif()
      string(REPLACE "\"\"" "\"" text "${text}")
      string(REPLACE "\"" "\\\"" text "${text}")
      string(APPEND rows "    {${id}u, \"${text}\"},\n")
    elseif(NOT line MATCHES "^[ \t]*(//.*)?$")
      message(FATAL_ERROR "${rc}: cannot read this string table line: ${line}")
    endif()
  endforeach()
endforeach()

if(NOT ids)
  message(FATAL_ERROR "no STRINGTABLE entries in ${INPUTS}")
endif()

if(IDS_HEADER)
  file(WRITE "${IDS_HEADER}.tmp"
"// Generated at build time from the program's resource scripts; do not edit.
#pragma once

#include <cstdint>

namespace ${IDS_NAMESPACE} {

${constants}
}  // namespace ${IDS_NAMESPACE}
")
  file(RENAME "${IDS_HEADER}.tmp" "${IDS_HEADER}")
  return()
endif()

file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from the program's resource scripts; do not edit.
#include \"support/string_table.hpp\"

namespace kelvo::detail {

std::span<const StringTableEntry> stringTable() {
  static constexpr StringTableEntry entries[] = {
${rows}  };
  return entries;
}

}  // namespace kelvo::detail
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
