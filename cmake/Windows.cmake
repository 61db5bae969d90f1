# What a Windows build (MinGW-w64, cmake/toolchains/) adds to the project.

enable_language(RC)
# The version resource's texts are written in code page 1252.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=1252")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Doubles in SSE registers, as on x86-64: the engines' double-precision fast
  # paths are argued for one rounding per operation, which the x87 registers'
  # extra precision would break.  Hosts built by other compilers call in with
  # a stack aligned to 4 bytes only.
  add_compile_options(-march=pentium4 -mtune=generic -mfpmath=sse -mincoming-stack-boundary=2)
  # The vector kernels' 64-bit lane moves, through memory.
  add_compile_options(-include ${PROJECT_SOURCE_DIR}/src/engines/Intrinsics32.h)
endif()
# GCC cannot realign the stack of a Win64 function for 32-byte vector spills
# (its bug 54412); the assembler writes every aligned vector move unaligned.
add_compile_options(-Wa,-muse-unaligned-vector-move)

# Build-time generators run on the build machine: versiongen is compiled with
# the build machine's compiler when the project is configured.
find_program(TALVINE_BUILD_CXX NAMES c++ g++ REQUIRED)
set(TALVINE_HOST_TOOLS ${PROJECT_BINARY_DIR}/host-tools)
set(_versiongen_source ${PROJECT_SOURCE_DIR}/tools/versiongen.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_versiongen_source})
file(MAKE_DIRECTORY ${TALVINE_HOST_TOOLS})
execute_process(
  COMMAND ${TALVINE_BUILD_CXX} -std=c++20 -O1 -Wall -Wextra -Werror ${_versiongen_source}
          -o ${TALVINE_HOST_TOOLS}/versiongen
  RESULT_VARIABLE _versiongen_result ERROR_VARIABLE _versiongen_errors)
if(NOT _versiongen_result EQUAL 0)
  message(FATAL_ERROR "versiongen does not build with ${TALVINE_BUILD_CXX}:\n${_versiongen_errors}")
endif()
add_executable(versiongen IMPORTED)
set_target_properties(versiongen PROPERTIES IMPORTED_LOCATION ${TALVINE_HOST_TOOLS}/versiongen)
