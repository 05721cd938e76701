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

# The pkg-config file finds the prefix from its own place, so that a tree
# installed anywhere (--prefix) or moved builds with plain pkg-config.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR})
    set(pc_prefix ${CMAKE_INSTALL_PREFIX})
else()
    file(RELATIVE_PATH pc_up /prefix/${pc_dir} /prefix)
    string(REGEX REPLACE "/$" "" pc_up ${pc_up})
    set(pc_prefix "\${pcfiledir}/${pc_up}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
    string(TOLOWER pc_${dir} variable)
    if(IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
        set(${variable} ${CMAKE_INSTALL_${dir}})
    else()
        set(${variable} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/runlabel.pc.in ${PROJECT_BINARY_DIR}/runlabel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/runlabel.pc DESTINATION ${pc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/docs/runlabel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
