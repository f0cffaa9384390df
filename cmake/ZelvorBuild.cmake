# Build conventions shared by every target: warnings, sanitizers, and the one
# place where the platform seam picks *_posix.cpp or *_win32.cpp files.

if(ZELVOR_SANITIZE)
  add_compile_options(-fsanitize=${ZELVOR_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ZELVOR_SANITIZE})
endif()

if(ZELVOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZELVOR_FUZZ needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # One self-contained .exe: no libstdc++, libgcc or winpthread DLLs to ship.
  add_link_options(-static)
endif()

# The platform suffix of the files below the seam.
if(WIN32)
  set(ZELVOR_PLATFORM win32)
else()
  set(ZELVOR_PLATFORM posix)
endif()

function(zelvor_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ZELVOR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zelvor_module(<name> [SOURCES portable.cpp...] [PLATFORM stem...]
#               [DEPENDS lib...] [SYSTEM_LIBS_WIN32 lib...])
# Adds the library zelvor_<name> from src/<name>/. Each PLATFORM stem adds
# <stem>_posix.cpp or <stem>_win32.cpp, never both.
function(zelvor_module name)
  cmake_parse_arguments(M "" "" "SOURCES;PLATFORM;DEPENDS;SYSTEM_LIBS_WIN32" ${ARGN})
  set(sources ${M_SOURCES})
  foreach(stem IN LISTS M_PLATFORM)
    list(APPEND sources ${stem}_${ZELVOR_PLATFORM}.cpp)
  endforeach()
  add_library(zelvor_${name} STATIC ${sources})
  target_include_directories(zelvor_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(zelvor_${name} PUBLIC ${M_DEPENDS})
  if(WIN32 AND M_SYSTEM_LIBS_WIN32)
    target_link_libraries(zelvor_${name} PUBLIC ${M_SYSTEM_LIBS_WIN32})
  endif()
  zelvor_warnings(zelvor_${name})
endfunction()

# zelvor_install_raw_capability(<program>): the install step gives the
# installed <program> CAP_NET_RAW for raw ICMP. Granting it needs root; an
# install without it still works, measuring through the kernel's ping
# sockets instead.
function(zelvor_install_raw_capability program)
  if(NOT ZELVOR_INSTALL_SETCAP)
    return()
  endif()
  install(CODE "
    set(zelvor_bindir \"${CMAKE_INSTALL_BINDIR}\")
    if(NOT IS_ABSOLUTE \"\${zelvor_bindir}\")
      set(zelvor_bindir \"\${CMAKE_INSTALL_PREFIX}/\${zelvor_bindir}\")
    endif()
    set(zelvor_binary \"\$ENV{DESTDIR}\${zelvor_bindir}/${program}\")
    # setcap lives in sbin, which a user's PATH may lack.
    find_program(zelvor_setcap_program setcap PATHS /usr/sbin /sbin)
    execute_process(COMMAND \"\${zelvor_setcap_program}\" cap_net_raw+ep \"\${zelvor_binary}\"
                    RESULT_VARIABLE zelvor_setcap ERROR_VARIABLE zelvor_setcap_error
                    ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT zelvor_setcap EQUAL 0)
      if(zelvor_setcap_error STREQUAL \"\")
        set(zelvor_setcap_error \"\${zelvor_setcap}\")
      endif()
      message(STATUS \"Could not give \${zelvor_binary} CAP_NET_RAW (\${zelvor_setcap_error}); \"
                     \"it will measure through ping sockets, which net.ipv4.ping_group_range must allow\")
    endif()
  " COMPONENT zelvor)
endfunction()

# zelvor_man_page(<program> <section> <summary> COMPONENT <component>
#                 [COMMANDS command...]):
# writes and installs <program>'s man page with help2man, from its own --help.
# Not for the Windows build, whose programs cannot run here; left out, with a
# note, when help2man is missing.
function(zelvor_man_page program section summary)
  cmake_parse_arguments(M "" "COMPONENT" "COMMANDS" ${ARGN})
  if(WIN32)
    return()
  endif()
  find_program(ZELVOR_HELP2MAN help2man)
  if(NOT ZELVOR_HELP2MAN)
    message(STATUS "help2man is not installed: ${program}'s man page is left out")
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.${section})
  set(script ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake)
  # A list would be split into separate arguments on the way.
  string(REPLACE ";" "," commands "${M_COMMANDS}")
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DHELP2MAN=${ZELVOR_HELP2MAN}
            -DSECTION=${section} "-DSUMMARY=${summary}" "-DCOMMANDS=${commands}"
            -DOUTPUT=${page} -P ${script}
    DEPENDS ${program} ${script}
    COMMENT "Writing ${program}'s man page"
    VERBATIM)
  add_custom_target(${program}-man ALL DEPENDS ${page})
  include(GNUInstallDirs)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${M_COMPONENT})
endfunction()

# zelvor_systemd_dir(<variable> <pkg-config variable> <below lib>): where
# systemd looks for files of a kind. For the /usr prefix that is what the
# system's systemd.pc says (/lib/systemd/system on Debian 12, /usr/lib/... on
# 13); for any other prefix lib/<below lib> under it.
function(zelvor_systemd_dir variable pc_variable below_lib)
  set(dir "")
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_get_variable(dir systemd ${pc_variable})
    endif()
  endif()
  if(dir STREQUAL "")
    set(dir lib/${below_lib})
  endif()
  set(${variable} ${dir} PARENT_SCOPE)
endfunction()

# zelvor_host_headers(<target> <package> <folder>): a header-only library of
# Debian's for <target> and its users. The Windows cross compiler must not
# see the host's /usr/include as a whole, so it gets only /usr/include/<folder>,
# through a link in a folder of the build tree's own.
function(zelvor_host_headers target package folder)
  if(WIN32)
    if(NOT EXISTS /usr/include/${folder})
      message(FATAL_ERROR "${target} needs /usr/include/${folder} (scripts/setup installs it)")
    endif()
    set(headers ${CMAKE_BINARY_DIR}/host-headers/${folder})
    file(MAKE_DIRECTORY ${headers})
    file(CREATE_LINK /usr/include/${folder} ${headers}/${folder} SYMBOLIC)
    target_include_directories(${target} SYSTEM PUBLIC ${headers})
  else()
    find_package(${package} REQUIRED)
    target_link_libraries(${target} PUBLIC ${package}::${package})
  endif()
endfunction()
