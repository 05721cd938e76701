# What `cmake --install` puts in place: the command, the shared library with
# its one public header, a CMake package (find_package(runlabel) gives
# runlabel::runlabel) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS runlabel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS runlabel_shared EXPORT runlabelTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/runlabel/runlabel.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/runlabel)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/runlabel)
install(EXPORT runlabelTargets NAMESPACE runlabel:: DESTINATION ${config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/runlabelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/runlabelConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/runlabelConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/runlabelConfig.cmake
    ${PROJECT_BINARY_DIR}/runlabelConfigVersion.cmake DESTINATION ${config_dir})

configure_file(${PROJECT_SOURCE_DIR}/cmake/runlabel.pc.in ${PROJECT_BINARY_DIR}/runlabel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/runlabel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_SOURCE_DIR}/docs/runlabel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
