# The program's string table has one source, resources/zelvor.rc. Windows
# links the compiled resource into each executable; elsewhere the STRINGTABLE
# is turned into a C++ table at build time by string_table_gen.cmake.

set(ZELVOR_STRING_TABLE_GENERATOR ${CMAKE_CURRENT_LIST_DIR}/string_table_gen.cmake)

# zelvor_string_table(<target> <rc-file>...): gives <target> the strings of
# the listed resource scripts, as its own resources on Windows.
function(zelvor_string_table target)
  if(WIN32)
    target_sources(${target} PRIVATE ${ARGN})
    return()
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_string_table.cpp)
  string(REPLACE ";" "|" inputs "${ARGN}")
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} "-DINPUTS=${inputs}" "-DOUTPUT=${out}"
            -P ${ZELVOR_STRING_TABLE_GENERATOR}
    DEPENDS ${ARGN} ${ZELVOR_STRING_TABLE_GENERATOR}
    COMMENT "Generating the string table of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()

# zelvor_string_ids(<target> <rc-file> <header> <namespace>): gives <target>
# and whoever links it <header> (a path below the include root), the named
# ids of the resource script's strings as constants in <namespace>.
function(zelvor_string_ids target rc header namespace)
  set(root ${PROJECT_BINARY_DIR}/generated)
  set(out ${root}/${header})
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} "-DINPUTS=${rc}" "-DIDS_HEADER=${out}" "-DIDS_NAMESPACE=${namespace}"
            -P ${ZELVOR_STRING_TABLE_GENERATOR}
    DEPENDS ${rc} ${ZELVOR_STRING_TABLE_GENERATOR}
    COMMENT "Generating the string ids of ${target}"
    VERBATIM)
  add_custom_target(${target}_string_ids DEPENDS ${out})
  add_dependencies(${target} ${target}_string_ids)
  target_sources(${target} PRIVATE ${out})
  target_include_directories(${target} PUBLIC ${root})
endfunction()
