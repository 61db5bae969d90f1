# With TALVINE_THREAD_MATRIX (the tsan preset): the engines' test programs
# once for each of 1, 2, 3 and 7 worker threads (TALVINE_THREADS), whole
# programs, named threads<N>.<program>; fastpath_test and witness_test set
# their thread counts themselves, for every kernel: they run once, at 2 and
# 7 threads and the pool's own tests (ThreadSanitizer makes the whole of
# fastpath_test take tens of minutes).
if(NOT TALVINE_THREAD_MATRIX)
  return()
endif()
set(_environment "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1")
set(_each_count modifangle_test corrdistor_test perspective_test tailleimg_engine_test
  decoupimg_engine_test rotimg_test)
set(_setting_their_own fastpath_test witness_test)
# What the tsan preset builds: these programs and the module some load.
add_custom_target(thread-matrix)
add_dependencies(thread-matrix Talvine ${_each_count} ${_setting_their_own})
foreach(threads 1 2 3 7)
  foreach(name ${_each_count})
    add_test(NAME threads${threads}.${name} COMMAND ${name})
    set_tests_properties(threads${threads}.${name} PROPERTIES
      ENVIRONMENT "TALVINE_THREADS=${threads};${_environment}")
  endforeach()
endforeach()
foreach(name ${_setting_their_own})
  add_test(NAME threads27.${name}
    COMMAND ${name} --gtest_filter=*_2threads:*_7threads:ThreadPool.*)
  set_tests_properties(threads27.${name} PROPERTIES ENVIRONMENT "${_environment}")
endforeach()
