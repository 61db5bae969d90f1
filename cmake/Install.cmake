# cmake --install: the two programs, the tool's manual page, the module with its Qt view beside it,
# the public header, and pkg-config and CMake package files for host
# developers (find_package(Talvine) gives Talvine::headers and
# TALVINE_MODULE, the path of the installed Talvine.so), the editor's desktop
# entry.  The installed editor loads the installed module.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(TALVINE_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/talvine)

install(TARGETS Talvine LIBRARY DESTINATION ${TALVINE_MODULE_DIR})
if(TARGET TalvineQtView)
  install(TARGETS TalvineQtView LIBRARY DESTINATION ${TALVINE_MODULE_DIR})
endif()
if(TARGET talvine)
  install(TARGETS talvine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/talvine.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(TARGET talvine-editor)
  install(TARGETS talvine-editor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/hosts/editor/talvine-editor.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/talvine/talvine.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/talvine)

# Relative to the file itself, so that an install under another prefix holds.
file(RELATIVE_PATH TALVINE_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
  ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/talvine.pc.in ${PROJECT_BINARY_DIR}/talvine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/talvine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TalvineConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TalvineConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Talvine
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR TALVINE_MODULE_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TalvineConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TalvineConfig.cmake
  ${PROJECT_BINARY_DIR}/TalvineConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Talvine)
