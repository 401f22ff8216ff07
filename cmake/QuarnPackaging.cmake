# Installation layout and the Debian package (cpack -G DEB).
# Programs are installed by app/ and sim/; this file installs everything around them: the
# launcher, help page, example working folder, icons, desktop entry, manual pages and the
# udev rule for the dongle.
include(GNUInstallDirs)

# Installing builds nothing else, so packaging does not wait for every test to build; cpack
# builds the three programs the package holds itself (CPACK_INSTALL_COMMANDS below), so it
# works after a build of only some of them, as scripts/demo.sh makes.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(quarn_packaged_programs quarn quarn-sim quarn-cli)

set(quarn_pkg_dir ${PROJECT_SOURCE_DIR}/packaging)
set(quarn_data_dir ${CMAKE_INSTALL_DATADIR}/quarn)

# The launcher finds the installed data relative to its own location, so one script serves
# /usr, /usr/local and an unpacked tree alike.
file(RELATIVE_PATH QUARN_BIN_TO_DATA
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${quarn_data_dir})
set(QUARN_PROGRAM_NAME quarn)
configure_file(${quarn_pkg_dir}/quarn-launcher.in ${PROJECT_BINARY_DIR}/packaging/quarn-launcher
  @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)

install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/quarn-launcher DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/help/index.html DESTINATION ${quarn_data_dir}/help)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/help/images DESTINATION ${quarn_data_dir}/help
  FILES_MATCHING PATTERN "*.png")
install(FILES ${PROJECT_SOURCE_DIR}/Quarnconfig.txt DESTINATION ${quarn_data_dir}/skel)
install(FILES ${PROJECT_SOURCE_DIR}/dongleKeys/example.txt DESTINATION ${quarn_data_dir}/skel/dongleKeys)
install(FILES ${PROJECT_SOURCE_DIR}/meterKeys/example.txt DESTINATION ${quarn_data_dir}/skel/meterKeys)
install(FILES ${PROJECT_SOURCE_DIR}/examples/site-plan.csv DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarn/examples)

# The window's own GIFs, and PNGs for the desktop (icon themes take no GIF).
install(FILES ${PROJECT_SOURCE_DIR}/resources/quarn_big.gif ${PROJECT_SOURCE_DIR}/resources/quarn_mini.gif
  DESTINATION ${quarn_data_dir}/icons)
foreach(size 16 32 48)
  install(FILES ${quarn_pkg_dir}/icons/quarn-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME quarn.png)
endforeach()
install(FILES ${quarn_pkg_dir}/quarn.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# Manual pages and the changelog are installed gzipped, as Debian wants them; they are
# compressed when CMake configures (and again whenever one of them changes).
set(quarn_gz_dir ${PROJECT_BINARY_DIR}/packaging/gz)
file(MAKE_DIRECTORY ${quarn_gz_dir})
foreach(doc quarn.1 quarn-sim.1 quarn-launcher.1 quarn-cli.1 changelog)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quarn_pkg_dir}/${doc})
  # -n: no name or time stamp inside, so the package is the same on every build.
  execute_process(COMMAND gzip -9 -n -c ${quarn_pkg_dir}/${doc}
    OUTPUT_FILE ${quarn_gz_dir}/${doc}.gz RESULT_VARIABLE gzip_result)
  if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip of packaging/${doc} failed: ${gzip_result}")
  endif()
endforeach()
install(FILES ${quarn_gz_dir}/quarn.1.gz ${quarn_gz_dir}/quarn-sim.1.gz ${quarn_gz_dir}/quarn-launcher.1.gz
  ${quarn_gz_dir}/quarn-cli.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${quarn_gz_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarn)

# udev reads rules from lib/udev/rules.d below the prefix /usr, whatever libdir is.
install(FILES ${quarn_pkg_dir}/60-quarn-dongle.rules DESTINATION lib/udev/rules.d)

# One package holds both programs: quarn-sim is small, and installers train on it with
# the same launcher and manual pages; libssl3 is on every Debian system anyway.
set(CPACK_PACKAGE_NAME quarn)
set(CPACK_PACKAGE_VENDOR "quarn.example.org")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quarn maintainers <maintainers@quarn.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure an M-Bus converter by wire or over wireless M-Bus")
set(CPACK_PACKAGE_DESCRIPTION
"Quarn configures an M-Bus converter from a Linux desktop: by wire (M-Bus
link layer at 2400 baud on a serial port) or through a USB wireless M-Bus
dongle. It reads and writes the converter's device slots, wired settings and
option bits, scans the meters it hears, sends requests plain or secured, and
shows all traffic byte by byte.

The package also holds quarn-sim, a simulated converter and dongle for
training and tests, and a udev rule that gives the dongle to the dialout
group.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quarn.example.org/")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libfox-1.6-0 (>= 1.6.57), libudev1, libssl3, libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "x11-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${quarn_pkg_dir}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Runs before the install rules, which only copy. CPack writes the command into its config
# without escaping, so it carries no quotes (a build folder with a space in its path would
# need them).
string(REPLACE ";" " " quarn_packaged_list "${quarn_packaged_programs}")
set(CPACK_INSTALL_COMMANDS "${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target ${quarn_packaged_list}")
include(CPack)
