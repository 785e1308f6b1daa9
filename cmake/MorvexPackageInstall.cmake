# Install rules: the library, its public headers, the schema files, a CMake
# package config (find_package(morvex_package CONFIG)) and a pkg-config file.
# The internal helper target morvex_package_internals is deliberately not
# exported.
include(CMakePackageConfigHelpers)

set(MORVEX_PACKAGE_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/morvex_package")
set(MORVEX_PACKAGE_INSTALL_SCHEMADIR "${CMAKE_INSTALL_DATADIR}/morvex_package/schema")

install(TARGETS morvex_package
  EXPORT morvex_packageTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/morvex_package" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES
  "${PROJECT_SOURCE_DIR}/schema/application.capnp"
  "${PROJECT_SOURCE_DIR}/schema/profile_common.capnp"
  "${PROJECT_SOURCE_DIR}/schema/profile.capnp"
  DESTINATION "${MORVEX_PACKAGE_INSTALL_SCHEMADIR}")

install(EXPORT morvex_packageTargets
  NAMESPACE morvex_package::
  DESTINATION "${MORVEX_PACKAGE_INSTALL_CMAKEDIR}")
configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/morvex_packageConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/morvex_packageConfig.cmake"
  INSTALL_DESTINATION "${MORVEX_PACKAGE_INSTALL_CMAKEDIR}"
  PATH_VARS MORVEX_PACKAGE_INSTALL_SCHEMADIR)
# Before 1.0 a minor version may change the stored format or the interface.
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/morvex_packageConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/morvex_packageConfig.cmake"
  "${PROJECT_BINARY_DIR}/morvex_packageConfigVersion.cmake"
  DESTINATION "${MORVEX_PACKAGE_INSTALL_CMAKEDIR}")

# The prefix is chosen at install time (cmake --install --prefix), so the
# pkg-config file finds it relative to its own place.
file(RELATIVE_PATH MORVEX_PACKAGE_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" MORVEX_PACKAGE_PC_TO_PREFIX "${MORVEX_PACKAGE_PC_TO_PREFIX}")
configure_file("${PROJECT_SOURCE_DIR}/cmake/morvex_package.pc.in" "${PROJECT_BINARY_DIR}/morvex_package.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/morvex_package.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
