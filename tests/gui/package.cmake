# The Debian package built, unpacked into a scratch root and tried as a user would: the
# launcher's working folder, quarn's window on a private Xvfb next to quarn-sim, the udev
# rule, desktop entry and manual pages (needs dpkg-deb, Xvfb, xdotool, man).
add_test(NAME package_install
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/package-test.sh ${PROJECT_BINARY_DIR})
set_tests_properties(package_install PROPERTIES LABELS gui TIMEOUT 60)
