# Static dependencies for executables that are started often.
#
# Every start of a dynamically linked oxpm maps and relocates libstdc++,
# libpugixml and libre2: about a millisecond, as much as a small resolution
# takes. An executable marked with ox_link_static_deps() links the static
# archives of pugixml and RE2 and the static C++ runtime instead, and the
# static C library too where the toolchain links static position-independent
# executables (-static-pie): then no dynamic loader runs at all. The
# libraries, the tests and the installed CMake package keep linking the shared
# ones: the switch is a property of the executable being linked, read when
# the link line of pugixml::pugixml and PkgConfig::RE2 is worked out, so an
# archive takes the exact place the shared library had on that line.
#
# ox_static_deps_setup() runs once after pugixml and RE2 are found. It sets
# OX_STATIC_DEPS_ACTIVE when OXPM_STATIC_DEPS is on and the build allows it:
# not under sanitizers or for fuzzing (their runtimes expect the shared C++
# runtime), not with shared libraries (the reference host would carry its
# own copy of the dependencies). Missing archives are reported and the
# executables are linked dynamically.

function(ox_static_deps_setup)
  set(OX_STATIC_DEPS_ACTIVE OFF PARENT_SCOPE)
  if(NOT OXPM_STATIC_DEPS)
    return()
  endif()
  if(OX_SANITIZE OR OX_BUILD_FUZZ)
    message(STATUS "OXPM_STATIC_DEPS: ignored for sanitizer and fuzz builds; oxpm links dynamically")
    return()
  endif()
  if(BUILD_SHARED_LIBS)
    message(STATUS "OXPM_STATIC_DEPS: ignored with BUILD_SHARED_LIBS; oxpm links dynamically")
    return()
  endif()

  set(missing "")
  if(NOT TARGET pugixml::static)
    list(APPEND missing "pugixml::static (libpugixml.a, Debian package libpugixml-dev)")
  endif()
  find_library(OX_RE2_ARCHIVE NAMES libre2.a
    HINTS ${RE2_STATIC_LIBRARY_DIRS} ${RE2_LIBRARY_DIRS}
    DOC "RE2's static archive, for executables linked with OXPM_STATIC_DEPS")
  if(NOT OX_RE2_ARCHIVE)
    list(APPEND missing "libre2.a (Debian package libre2-dev)")
  endif()
  if(missing)
    list(JOIN missing ", " missing_text)
    message(WARNING "OXPM_STATIC_DEPS: not found: ${missing_text}; oxpm links dynamically. "
                    "Configure with -DOXPM_STATIC_DEPS=OFF to silence this.")
    return()
  endif()

  # What the static archive needs besides itself (pkg-config --static).
  set(re2_static_extra "")
  foreach(item IN LISTS RE2_STATIC_LIBRARIES)
    if(NOT item STREQUAL "re2")
      list(APPEND re2_static_extra "${item}")
    endif()
  endforeach()

  set(static "$<BOOL:$<TARGET_PROPERTY:OX_STATIC_DEPS>>")
  get_target_property(pugixml_link pugixml::pugixml INTERFACE_LINK_LIBRARIES)
  set_target_properties(pugixml::pugixml PROPERTIES INTERFACE_LINK_LIBRARIES
    "$<IF:${static},pugixml::static,${pugixml_link}>")
  get_target_property(re2_link PkgConfig::RE2 INTERFACE_LINK_LIBRARIES)
  string(REPLACE ";" "$<SEMICOLON>" re2_link "${re2_link}")
  set(re2_static "${OX_RE2_ARCHIVE};${re2_static_extra}")
  string(REPLACE ";" "$<SEMICOLON>" re2_static "${re2_static}")
  set_target_properties(PkgConfig::RE2 PROPERTIES INTERFACE_LINK_LIBRARIES
    "$<IF:${static},${re2_static},${re2_link}>")
  message(STATUS "OXPM_STATIC_DEPS: oxpm links pugixml, RE2 and the C++ runtime statically "
                 "(and the C library where -static-pie links)")
  set(OX_STATIC_DEPS_ACTIVE ON PARENT_SCOPE)
endfunction()

# Links `target` (an executable) with the static dependencies when they are
# active: as a static position-independent executable where the toolchain
# can link one (no dynamic loader runs at all, and the address space is still
# randomised), otherwise with the static C++ runtime beside a shared C
# library.
function(ox_link_static_deps target)
  if(NOT OX_STATIC_DEPS_ACTIVE)
    return()
  endif()
  set_target_properties(${target} PROPERTIES OX_STATIC_DEPS ON)
  if(NOT DEFINED OX_HAVE_STATIC_PIE)
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
    set(CMAKE_REQUIRED_FLAGS -fPIE)
    check_cxx_source_compiles("#include <string>\nint main() { return static_cast<int>(std::string(\"x\").size()) - 1; }"
      OX_HAVE_STATIC_PIE)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    unset(CMAKE_REQUIRED_FLAGS)
  endif()
  if(OX_HAVE_STATIC_PIE)
    set_target_properties(${target} PROPERTIES OX_FULLY_STATIC ON POSITION_INDEPENDENT_CODE ON)
    target_link_options(${target} PRIVATE -static-pie)
  else()
    set_target_properties(${target} PROPERTIES OX_FULLY_STATIC OFF)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
