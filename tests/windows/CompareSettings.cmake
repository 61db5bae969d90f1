# Runs the host program once with the default floating-point settings and
# once under each of SETTINGS, and compares every picture with the default
# run's, byte for byte.  The host program itself fails when any of its code
# (a callback, the code after an entry point or a click) found settings other
# than its own.
#   cmake -DHOST=... -DMODULE=... [-DEMULATOR=...] -DOUT=DIR "-DSETTINGS=a;b" -P CompareSettings.cmake
separate_arguments(emulator NATIVE_COMMAND "${EMULATOR}")
file(REMOVE_RECURSE ${OUT})
set(differ "")
foreach(settings default ${SETTINGS})
  string(MAKE_C_IDENTIFIER ${settings} name)
  file(MAKE_DIRECTORY ${OUT}/${name})
  set(option "")
  if(NOT settings STREQUAL "default")
    set(option --fp ${settings})
  endif()
  execute_process(COMMAND ${emulator} ${HOST} ${option} ${MODULE} ${OUT}/${name}
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the host failed under the settings ${settings} (${rc})")
  endif()
  if(settings STREQUAL "default")
    continue()
  endif()
  foreach(command 1 2 3 4 5 6 7 8 9)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
      ${OUT}/default/command-${command}.ppm ${OUT}/${name}/command-${command}.ppm
      RESULT_VARIABLE same)
    if(NOT same EQUAL 0)
      string(APPEND differ " command ${command} under ${settings};")
    endif()
  endforeach()
endforeach()
if(differ)
  message(FATAL_ERROR "pictures that depend on the host's floating-point settings:${differ}")
endif()
list(LENGTH SETTINGS count)
message(STATUS "the nine commands' pictures are the same under ${count} settings of the host")
