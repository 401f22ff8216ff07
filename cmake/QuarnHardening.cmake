# The distribution's hardening flags for every program built here: stack protector, fortified
# C library calls, full RELRO with immediate binding, and position-independent executables.
# dpkg-buildflags names them where it exists; elsewhere the same flags are given explicitly.
option(QUARN_HARDEN "Build with the distribution's hardening flags" ON)
if(NOT QUARN_HARDEN)
  return()
endif()

if(WIN32)
  # MinGW-w64: stack protector and fortified calls (both from libssp, linked statically), and
  # the PE flags for address-space randomisation and no-execute data.
  add_compile_options(-fstack-protector-strong -Werror=format-security
                      "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
  link_libraries(ssp)
  message(STATUS "Hardening (MinGW-w64): stack protector, _FORTIFY_SOURCE=2, dynamicbase, nxcompat, high-entropy-va")
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()

set(quarn_harden_compile -fstack-protector-strong -Werror=format-security)
set(quarn_harden_fortify -D_FORTIFY_SOURCE=2)
set(quarn_harden_link -Wl,-z,relro -Wl,-z,now)

find_program(QUARN_DPKG_BUILDFLAGS dpkg-buildflags)
if(QUARN_DPKG_BUILDFLAGS)
  # Only the hardening part is taken: optimisation, debug information and path maps stay with
  # the build type, and a bare -Wformat would undo the stricter -Wformat=2 given above.
  set(quarn_harden_compile)
  set(quarn_harden_fortify)
  set(quarn_harden_link)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${QUARN_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed: ${result}")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    foreach(flag ${flags})
      if(flag MATCHES "^-D_FORTIFY_SOURCE=")
        list(APPEND quarn_harden_fortify ${flag})
      elseif(flag MATCHES "^-(fstack-protector|fstack-clash-protection|fcf-protection|mbranch-protection|Werror=format-security)")
        list(APPEND quarn_harden_compile ${flag})
      elseif(flag MATCHES "^-Wl,-z,")
        list(APPEND quarn_harden_link ${flag})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES quarn_harden_compile)
endif()

add_compile_options(${quarn_harden_compile})
add_link_options(${quarn_harden_link})
# Fortified calls need an optimising build (at -O0 the compiler warns and checks nothing), and
# the sanitizers check the same calls more closely on their own.
if(NOT QUARN_SANITIZE AND quarn_harden_fortify)
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>")
  foreach(flag ${quarn_harden_fortify})
    add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${flag}>")
  endforeach()
endif()
message(STATUS "Hardening: ${quarn_harden_compile} ${quarn_harden_link} PIE; ${quarn_harden_fortify} in optimised builds without sanitizers")
