# With TALVINE_THREAD_MATRIX (the tsan preset): the engines' test programs
# once for each of 1, 2, 3 and 7 worker threads (TALVINE_THREADS), whole
# programs, named threads<N>.<program>.  fastpath_test also sets each of these
# counts itself, for every kernel.
if(NOT TALVINE_THREAD_MATRIX)
  return()
endif()
set(TALVINE_ENGINE_TESTS modifangle_test corrdistor_test perspective_test tailleimg_engine_test
  decoupimg_engine_test rotimg_test fastpath_test witness_test)
foreach(threads 1 2 3 7)
  foreach(name ${TALVINE_ENGINE_TESTS})
    add_test(NAME threads${threads}.${name} COMMAND ${name})
    set_tests_properties(threads${threads}.${name} PROPERTIES
      ENVIRONMENT "TALVINE_THREADS=${threads};TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1")
  endforeach()
endforeach()
