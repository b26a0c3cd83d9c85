# Cross build for macOS from Linux with zig's clang, its bundled macOS
# headers and libSystem stubs; libc++ is linked in statically. Included by
# the per-architecture toolchain files, which set QU_MACOS_ARCH first.
#
# The toolchain and the static dependencies live in a cache outside the
# clone (scripts/macos-cross.sh fills it): QU_MACOS_CACHE, from the cache
# variable, the environment or /var/cache/quorvane-macos.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.0)  # Darwin 20 is macOS 11
set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0 CACHE STRING "" FORCE)
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)

# The environment wins, so the build follows the script; a later re-run of
# CMake without it keeps the cache the build was configured with.
if(DEFINED ENV{QU_MACOS_CACHE} AND NOT "$ENV{QU_MACOS_CACHE}" STREQUAL "")
  set(QU_MACOS_CACHE "$ENV{QU_MACOS_CACHE}")
elseif(NOT QU_MACOS_CACHE)
  set(QU_MACOS_CACHE /var/cache/quorvane-macos)
endif()
set(QU_MACOS_CACHE "${QU_MACOS_CACHE}" CACHE PATH
  "Toolchain and dependency cache of the macOS cross build" FORCE)
# try_compile projects read this file again; they need the same answers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QU_MACOS_CACHE QU_MACOS_ARCH)

set(zig "${QU_MACOS_CACHE}/zig/package/zig")
if(NOT EXISTS "${zig}")
  message(FATAL_ERROR "no zig at ${zig}: run scripts/macos-cross.sh first")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${QU_MACOS_ARCH})
if(QU_MACOS_ARCH STREQUAL "arm64")
  set(zig_target aarch64-macos.11.0)
else()
  set(zig_target x86_64-macos.11.0)
endif()

# CMake wants one executable per tool, so each zig subcommand gets a small
# wrapper, written next to zig. Its cache stays in the cache directory too,
# so libc++, built once per target, is reused by every later build.
set(wrappers "${QU_MACOS_CACHE}/bin")
foreach(tool cc c++ ar ranlib)
  if(tool MATCHES "^c")
    set(command "${tool} -target ${zig_target}")
    set(name "${zig_target}-${tool}")
  else()
    set(command "${tool}")
    set(name "zig-${tool}")
  endif()
  # CMake's probe of the compiler asks the linker to be verbose, which zig
  # refuses; the probe tells the pointer size and the implicit libraries.
  set(text "#!/bin/sh\nfor a do shift; [ \"$a\" = -Wl,-v ] || set -- \"$@\" \"$a\"; done\nZIG_GLOBAL_CACHE_DIR='${QU_MACOS_CACHE}/zig-cache' ZIG_LOCAL_CACHE_DIR='${QU_MACOS_CACHE}/zig-cache' exec '${zig}' ${command} \"$@\"\n")
  set(file "${wrappers}/${name}")
  if(EXISTS "${file}")
    file(READ "${file}" old)
  else()
    set(old "")
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${file}.tmp" "${text}")
    file(CHMOD "${file}.tmp" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
      GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    file(RENAME "${file}.tmp" "${file}")
  endif()
endforeach()
set(CMAKE_C_COMPILER "${wrappers}/${zig_target}-cc")
set(CMAKE_CXX_COMPILER "${wrappers}/${zig_target}-c++")
set(CMAKE_AR "${wrappers}/zig-ar" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${wrappers}/zig-ranlib" CACHE FILEPATH "" FORCE)

# The dependencies: static libraries and headers in one prefix per slice,
# and nothing from the build machine.
set(QU_MACOS_PREFIX "${QU_MACOS_CACHE}/deps/${QU_MACOS_ARCH}")
set(CMAKE_FIND_ROOT_PATH "${QU_MACOS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(Boost_NO_BOOST_CMAKE ON)
set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH OFF)
set(ENV{PKG_CONFIG_LIBDIR} "${QU_MACOS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Release builds leave the debug information out at the link, which signs
# arm64 executables; anything that strips more afterwards must sign again.
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT -s)
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT -s)
