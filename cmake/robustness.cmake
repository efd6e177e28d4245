# Instrumented builds that prove the reader and the module sound: sanitizers, fuzzing, coverage.
#
# Included before any target is defined, so the compile and link options below reach the
# reader, the C++ tests and the module alike; the fuzz targets link the reader by name.
#
#   TARNEX_SANITIZE=address   AddressSanitizer and UndefinedBehaviorSanitizer, first error fatal
#   TARNEX_SANITIZE=thread    ThreadSanitizer
#   TARNEX_FUZZ=ON            libFuzzer targets of tests/fuzz (needs clang++-16)
#   TARNEX_COVERAGE=ON        gcov counters, unoptimised, for gcovr

set(TARNEX_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, address or thread")
set_property(CACHE TARNEX_SANITIZE PROPERTY STRINGS "" address thread)
option(TARNEX_FUZZ "Build the libFuzzer targets of tests/fuzz (clang++-16)" OFF)
option(TARNEX_COVERAGE "Build with gcov coverage counters" OFF)

if(TARNEX_FUZZ AND (TARNEX_SANITIZE OR TARNEX_COVERAGE))
  message(FATAL_ERROR "TARNEX_FUZZ brings its own sanitizers; build it without "
                      "TARNEX_SANITIZE and TARNEX_COVERAGE")
endif()
if(TARNEX_SANITIZE AND TARNEX_COVERAGE)
  message(FATAL_ERROR "TARNEX_SANITIZE and TARNEX_COVERAGE go in separate builds")
endif()

# Stack traces of sanitizer reports need frame pointers and line tables.
set(_tarnex_trace_options -g -fno-omit-frame-pointer)

if(TARNEX_SANITIZE STREQUAL "address")
  set(_tarnex_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all)
  # GCC's address instrumentation makes -Wmaybe-uninitialized see uninitialised members in
  # moves of std::variant that the plain build does not warn about.
  add_compile_options(${_tarnex_sanitizers} ${_tarnex_trace_options} -Wno-maybe-uninitialized)
  add_link_options(${_tarnex_sanitizers})
elseif(TARNEX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread ${_tarnex_trace_options})
  add_link_options(-fsanitize=thread)
elseif(TARNEX_SANITIZE)
  message(FATAL_ERROR "TARNEX_SANITIZE is '${TARNEX_SANITIZE}'; expected empty, address or thread")
endif()

if(TARNEX_COVERAGE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "TARNEX_COVERAGE needs GCC (gcov), not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  # Preloaded by tools/check-coverage.sh so that processes that abort keep their counters;
  # defined before the options below, since it must carry no counters of its own.
  add_library(tarnex_flush_on_abort MODULE tests/coverage/flush_on_abort.cpp)
  target_compile_options(tarnex_flush_on_abort PRIVATE -Wall -Wextra)
  # -O0 comes after the build type's flags on the command line and so wins over them; branch
  # counts then follow the source rather than the optimiser. Counters are updated atomically:
  # vormant reads files in many threads at once without the interpreter lock, and counts torn
  # by those races come out negative, which gcov's report cannot be read with.
  add_compile_options(--coverage -fprofile-update=atomic -O0 -g)
  add_link_options(--coverage -fprofile-update=atomic)
endif()

if(TARNEX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARNEX_FUZZ needs clang++ with libFuzzer "
                        "(-DCMAKE_CXX_COMPILER=clang++-16), not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  set(_tarnex_fuzz_sanitizers address,undefined)
  # The reader is instrumented for coverage feedback; libFuzzer's main comes with the targets.
  add_compile_options(-fsanitize=fuzzer-no-link,${_tarnex_fuzz_sanitizers}
                      -fno-sanitize-recover=all ${_tarnex_trace_options})
  add_link_options(-fsanitize=${_tarnex_fuzz_sanitizers})

  # Both targets compare with the independent model of tests/fuzz/reference.cpp (MPFR).
  find_library(TARNEX_FUZZ_MPFR mpfr REQUIRED)
  find_library(TARNEX_FUZZ_GMP gmp REQUIRED)
  foreach(_tarnex_target IN ITEMS fuzz_reader fuzz_binary32)
    add_executable(${_tarnex_target} tests/fuzz/${_tarnex_target}.cpp tests/fuzz/reference.cpp
                   tests/cpp/mpfr_reference.cpp)
    target_include_directories(${_tarnex_target} PRIVATE tests/cpp)
    target_compile_options(${_tarnex_target} PRIVATE -fsanitize=fuzzer -Wall -Wextra)
    target_link_options(${_tarnex_target} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${_tarnex_target} PRIVATE tarnex_reader ${TARNEX_FUZZ_MPFR}
                          ${TARNEX_FUZZ_GMP})
  endforeach()
  # Reads of chosen steps and columns of an open file against the whole-file read.
  add_executable(fuzz_range_reader tests/fuzz/fuzz_range_reader.cpp)
  target_compile_options(fuzz_range_reader PRIVATE -fsanitize=fuzzer -Wall -Wextra)
  target_link_options(fuzz_range_reader PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_range_reader PRIVATE vormant_core)
  # The fast field conversion's kernels against the exact path of the same library.
  add_executable(fuzz_fast_fields tests/fuzz/fuzz_fast_fields.cpp)
  target_compile_options(fuzz_fast_fields PRIVATE -fsanitize=fuzzer -Wall -Wextra)
  target_link_options(fuzz_fast_fields PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_fast_fields PRIVATE tarnex_reader)
endif()
