# What `cmake --install` puts under the prefix:
#   include/qel2*.h                      the public headers
#   lib/libqel2.so                       the library (the name the Java side loads)
#   bin/hsm-sim                          the stand-in daemon and HSM
#   share/java/qel2.jar                  the Java classes (when built with the bridge)
#   lib/cmake/qel2/                      find_package(qel2): qel2::qel2, qel2::hsm-sim
#   lib/pkgconfig/qel2.pc                pkg-config --cflags --libs qel2
include(CMakePackageConfigHelpers)

set(QEL2_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qel2)

file(GLOB QEL2_PUBLIC_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/*.h)
install(FILES ${QEL2_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS qel2 EXPORT qel2Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET hsm-sim)
  install(TARGETS hsm-sim EXPORT qel2Targets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(EXPORT qel2Targets NAMESPACE qel2:: DESTINATION ${QEL2_CMAKE_DIR})

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/qel2Config.cmake.in
  ${CMAKE_BINARY_DIR}/qel2Config.cmake
  INSTALL_DESTINATION ${QEL2_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qel2ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qel2Config.cmake ${CMAKE_BINARY_DIR}/qel2ConfigVersion.cmake
        DESTINATION ${QEL2_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so `--prefix` at install
# time is honoured.
file(RELATIVE_PATH QEL2_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" QEL2_PC_TO_PREFIX "${QEL2_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/qel2.pc.in ${CMAKE_BINARY_DIR}/qel2.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qel2.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
