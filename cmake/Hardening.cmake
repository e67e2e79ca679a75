# Release and package builds get the hardening Debian gives its own packages:
# the flags of `dpkg-buildflags` with every hardening feature on (Debian 12's
# gives immediate binding only then), plus stack clash protection and
# control-flow protection, which it does not give. `paxelle` parses card
# traffic from the network, so its stack, its fortified calls and its
# relocations are protected like any daemon of the distribution.
#   PAXELLE_HARDEN=OFF leaves the flags out (a quick local build).
# Sanitizer, fuzz and debug builds are left alone: their instrumentation and
# -O0 do not go with _FORTIFY_SOURCE.
option(PAXELLE_HARDEN "Build release builds with Debian's hardening flags" ON)

include(CheckCXXCompilerFlag)

set(hardened_types Release RelWithDebInfo MinSizeRel)
if(NOT PAXELLE_HARDEN OR PAXELLE_SANITIZE OR PAXELLE_TSAN OR PAXELLE_FUZZ
   OR NOT CMAKE_BUILD_TYPE IN_LIST hardened_types)
  message(STATUS "Hardening flags: off")
  return()
endif()

# Position-independent executables (Debian's compiler makes them anyway).
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

find_program(PAXELLE_DPKG_BUILDFLAGS dpkg-buildflags)
set(hardening_flags_CPPFLAGS "")
set(hardening_flags_CFLAGS "")
set(hardening_flags_CXXFLAGS "")
set(hardening_flags_LDFLAGS "")
if(PAXELLE_DPKG_BUILDFLAGS)
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    # From the source directory: its file-prefix map makes the paths in the
    # binaries relative to it, as in a Debian build.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${PAXELLE_DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
    endif()
    separate_arguments(hardening_flags_${kind} UNIX_COMMAND "${flags}")
    # The build type chooses optimisation and debug information (the same
    # -O2 -g for RelWithDebInfo, the package's build).
    list(FILTER hardening_flags_${kind} EXCLUDE REGEX "^-(O|g)")
  endforeach()
else()
  # What Debian 12's gives, for a build elsewhere.
  set(hardening_flags_CPPFLAGS -Wdate-time -D_FORTIFY_SOURCE=2)
  set(hardening_flags_CFLAGS -fstack-protector-strong -Wformat -Werror=format-security)
  set(hardening_flags_CXXFLAGS ${hardening_flags_CFLAGS})
  set(hardening_flags_LDFLAGS -Wl,-z,relro -Wl,-z,now)
endif()
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "PAXELLE_HAS${flag}" supported)
  check_cxx_compiler_flag(${flag} ${supported})
  if(${supported} AND NOT flag IN_LIST hardening_flags_CXXFLAGS)
    list(APPEND hardening_flags_CFLAGS ${flag})
    list(APPEND hardening_flags_CXXFLAGS ${flag})
  endif()
endforeach()

add_compile_options(${hardening_flags_CPPFLAGS}
                    "$<$<COMPILE_LANGUAGE:C>:${hardening_flags_CFLAGS}>"
                    "$<$<COMPILE_LANGUAGE:CXX>:${hardening_flags_CXXFLAGS}>")
add_link_options(${hardening_flags_LDFLAGS})
list(JOIN hardening_flags_CPPFLAGS " " shown_cpp)
list(JOIN hardening_flags_CXXFLAGS " " shown_cxx)
list(JOIN hardening_flags_LDFLAGS " " shown_ld)
message(STATUS "Hardening flags: ${shown_cpp} ${shown_cxx} ${shown_ld}")
