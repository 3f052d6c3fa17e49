# `cmake --install`: the two libraries, their headers (with the C++ layer
# qvjpeg.hpp), the CMake package `qvjpeg` (targets qvjpeg::qvbase and
# qvjpeg::qvjpeg) and the pkg-config file qvjpeg.pc.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QV_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qvjpeg)
install(TARGETS qvbase qvjpeg EXPORT qvjpegTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/base/include/qvbase.h
              ${PROJECT_SOURCE_DIR}/jpeg/include/qvjpeg.h
              ${PROJECT_SOURCE_DIR}/jpeg/include/qvjpeg.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT qvjpegTargets NAMESPACE qvjpeg:: DESTINATION ${QV_PACKAGE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/qvjpegConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/qvjpegConfig.cmake
                              INSTALL_DESTINATION ${QV_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qvjpegConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qvjpegConfig.cmake ${PROJECT_BINARY_DIR}/qvjpegConfigVersion.cmake
        DESTINATION ${QV_PACKAGE_DIR})

# The pkg-config file finds the prefix from its own place, so that an
# installation under another prefix (cmake --install --prefix) works too.
file(RELATIVE_PATH QV_PKGCONFIG_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/packaging/qvjpeg.pc.in ${PROJECT_BINARY_DIR}/qvjpeg.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qvjpeg.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
