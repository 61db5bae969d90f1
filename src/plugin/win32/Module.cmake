# Talvine.dll: the load hook, the whole of talvine_core, the version
# resource, and the four entry points exported by name at their ordinals
# through the module definition file.
target_link_libraries(talvine_core PUBLIC version comctl32 gdi32 user32)

set(TALVINE_VERSION_RC ${CMAKE_CURRENT_BINARY_DIR}/generated/Talvine.rc)
add_custom_command(
  OUTPUT ${TALVINE_VERSION_RC}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/generated
  COMMAND versiongen --rc ${CMAKE_CURRENT_SOURCE_DIR}/plugin/VersionInfo.txt ${TALVINE_VERSION_RC}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/plugin/VersionInfo.txt ${TALVINE_HOST_TOOLS}/versiongen
  COMMENT "Generating the version resource")

# 32-bit: the stdcall entry points are XchgData@52 and so on in the objects;
# the export table names them plainly.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TALVINE_XCHGDATA XchgData@52)
  set(TALVINE_ADDMENU AddMenu@4)
  set(TALVINE_PRMDLL PrmDLL@12)
  set(TALVINE_ADRRETOUR AdrRetour@8)
else()
  set(TALVINE_XCHGDATA XchgData)
  set(TALVINE_ADDMENU AddMenu)
  set(TALVINE_PRMDLL PrmDLL)
  set(TALVINE_ADRRETOUR AdrRetour)
endif()
set(TALVINE_DEF ${CMAKE_CURRENT_BINARY_DIR}/generated/Talvine.def)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/plugin/Talvine.def.in ${TALVINE_DEF} @ONLY)

add_library(Talvine MODULE plugin/win32/DllMain.cpp ${TALVINE_VERSION_RC})
set_target_properties(Talvine PROPERTIES PREFIX "" OUTPUT_NAME Talvine SUFFIX ".dll"
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
target_link_libraries(Talvine PRIVATE talvine_warnings
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,talvine_core>")
# The entry points are also marked for export in their source, which would
# add their decorated names beside the plain ones: --kill-at strips the
# decoration from those, and they fold into the definition file's entries.
target_link_options(Talvine PRIVATE ${TALVINE_DEF} -static -Wl,--no-undefined -Wl,--kill-at)
set_property(TARGET Talvine APPEND PROPERTY LINK_DEPENDS ${TALVINE_DEF})
