# The vector kernels of the fast field conversion (src/text/simd): on x86-64 each is compiled
# with its own instruction set's flags, set on its source file alone, so that no other code of
# the project can use instructions the processor may lack. The dispatcher picks one at run time.
#
#   TARNEX_FORCE_SIMD_LEVEL=portable|sse41|avx2   for tests only: the dispatcher uses at most
#                                                 this level (the shipped build never sets it)

set(TARNEX_FORCE_SIMD_LEVEL "" CACHE STRING
    "Tests only: the widest kernel level the module may use (portable, sse41, avx2)")
set_property(CACHE TARNEX_FORCE_SIMD_LEVEL PROPERTY STRINGS "" portable sse41 avx2)
set(_tarnex_simd_level_numbers portable 0 sse41 1 avx2 2)

function(tarnex_add_simd_kernels target)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(_sse41 ${CMAKE_SOURCE_DIR}/src/text/simd/kernel_sse41.cpp)
    set(_avx2 ${CMAKE_SOURCE_DIR}/src/text/simd/kernel_avx2.cpp)
    target_sources(${target} PRIVATE ${_sse41} ${_avx2})
    set_source_files_properties(${_sse41} PROPERTIES COMPILE_OPTIONS "-msse4.1")
    set_source_files_properties(${_avx2} PROPERTIES COMPILE_OPTIONS "-mavx2")
  endif()
  if(TARNEX_FORCE_SIMD_LEVEL)
    list(FIND _tarnex_simd_level_numbers "${TARNEX_FORCE_SIMD_LEVEL}" _index)
    if(_index EQUAL -1 OR NOT TARNEX_FORCE_SIMD_LEVEL MATCHES "^(portable|sse41|avx2)$")
      message(FATAL_ERROR "TARNEX_FORCE_SIMD_LEVEL is '${TARNEX_FORCE_SIMD_LEVEL}'; "
                          "expected portable, sse41 or avx2")
    endif()
    math(EXPR _index "${_index} + 1")
    list(GET _tarnex_simd_level_numbers ${_index} _number)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/src/text/simd/dispatch.cpp PROPERTIES
                                COMPILE_DEFINITIONS "TARNEX_FORCED_SIMD_LEVEL=${_number}")
  endif()
endfunction()
