# Installation: the headers under include/quarn/, the shared library with its versioned
# soname, a pkg-config file and a CMake package exporting quarn::runtime.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUARN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quarn-runtime)

set_target_properties(quarn-runtime PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  EXPORT_NAME runtime)

install(TARGETS quarn-runtime EXPORT quarn-runtime-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/quarn DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(EXPORT quarn-runtime-targets NAMESPACE quarn:: DESTINATION ${QUARN_CMAKE_DIR})

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/quarn-runtime-config.cmake.in
  ${CMAKE_BINARY_DIR}/quarn-runtime-config.cmake INSTALL_DESTINATION ${QUARN_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/quarn-runtime-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/quarn-runtime-config.cmake
              ${CMAKE_BINARY_DIR}/quarn-runtime-config-version.cmake
        DESTINATION ${QUARN_CMAKE_DIR})

# pkg-config has no generator in CMake: the file is filled from a template at install time,
# so that `cmake --install --prefix` decides the paths it names.
install(CODE "
  set(CMAKE_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/cmake/quarn-runtime.pc.in\"
                 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/quarn-runtime.pc\" @ONLY)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/quarn-runtime.pc\")
")
