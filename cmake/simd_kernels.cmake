# The vector kernels of the fast field conversion (src/text/simd): on x86-64 each is compiled
# with its own instruction set's flags, set on its source file alone, so that no other code of
# the project can use instructions the processor may lack. The dispatcher picks one at run time.
#
#   TARNEX_FORCE_SIMD_LEVEL=portable|sse41|avx2|avx512   for tests only: the chunk scan and the
#                                                        field conversion use at most this
#                                                        level (the shipped build never sets it)

set(TARNEX_FORCE_SIMD_LEVEL "" CACHE STRING
    "Tests only: the widest kernel level the module may use (portable, sse41, avx2, avx512)")
set_property(CACHE TARNEX_FORCE_SIMD_LEVEL PROPERTY STRINGS "" portable sse41 avx2 avx512)
set(_tarnex_simd_level_names portable Portable sse41 Sse41 avx2 Avx2 avx512 Avx512)

# The x86-64 files: vector kernels and chunk scanners, each compiled with the instruction set
# its name ends in (_sse2 is the x86-64 baseline, _sse41, _avx2, _avx512). They are built only when the
# compiler's target is x86-64, whatever the machine that builds: a cross build for ARM leaves
# them out and the portable code serves alone. One line per file.
set(TARNEX_X86_64_SOURCES
  src/text/chunk_scan_sse2.cpp
  src/text/chunk_scan_avx2.cpp
  src/text/simd/kernel_sse41.cpp
  src/text/simd/kernel_avx2.cpp
  src/text/simd/kernel_avx512.cpp
)
set(_tarnex_x86_64_flags _sse2 "" _sse41 -msse4.1 _avx2 -mavx2
    _avx512 "-mavx512f -mavx512bw -mavx512dq -mavx512vl")

# Asked of the compiler itself: it knows its target even where a cross build leaves the
# processor name unset or names the build machine's. A macOS build for two processors at once
# would need the x86-64 files in one half only: each processor is built on its own instead.
list(LENGTH CMAKE_OSX_ARCHITECTURES _tarnex_osx_architectures)
if(_tarnex_osx_architectures GREATER 1)
  message(FATAL_ERROR "CMAKE_OSX_ARCHITECTURES is '${CMAKE_OSX_ARCHITECTURES}': build one "
                      "processor at a time (and join the modules with lipo if need be)")
endif()
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("
  #if !defined(__x86_64__)
  #error not x86-64
  #endif
  int main() { return 0; }" TARNEX_TARGET_X86_64)

function(tarnex_add_simd_kernels target)
  if(TARNEX_TARGET_X86_64)
    foreach(source IN LISTS TARNEX_X86_64_SOURCES)
      string(REGEX MATCH "_[a-z0-9]+\\.cpp$" suffix "${source}")
      string(REPLACE ".cpp" "" suffix "${suffix}")
      list(FIND _tarnex_x86_64_flags "${suffix}" index)
      if(index EQUAL -1)
        message(FATAL_ERROR "${source}: an x86-64 file ends in _sse2, _sse41, _avx2 or _avx512")
      endif()
      math(EXPR index "${index} + 1")
      list(GET _tarnex_x86_64_flags ${index} flags)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      set(path ${CMAKE_SOURCE_DIR}/${source})
      target_sources(${target} PRIVATE ${path})
      if(flags)
        set_source_files_properties(${path} PROPERTIES COMPILE_OPTIONS "${flags}")
      endif()
    endforeach()
  endif()
  if(TARNEX_FORCE_SIMD_LEVEL)
    list(FIND _tarnex_simd_level_names "${TARNEX_FORCE_SIMD_LEVEL}" _index)
    if(_index EQUAL -1 OR NOT TARNEX_FORCE_SIMD_LEVEL MATCHES "^(portable|sse41|avx2|avx512)$")
      message(FATAL_ERROR "TARNEX_FORCE_SIMD_LEVEL is '${TARNEX_FORCE_SIMD_LEVEL}'; "
                          "expected portable, sse41, avx2 or avx512")
    endif()
    math(EXPR _index "${_index} + 1")
    list(GET _tarnex_simd_level_names ${_index} _name)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/src/text/cpu_levels.cpp PROPERTIES
                                COMPILE_DEFINITIONS "TARNEX_FORCED_SIMD_LEVEL=${_name}")
  endif()
endfunction()
