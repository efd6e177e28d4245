# The fault-injection library of the Python tests (tests/fault_injection/interpose.c): preloaded
# into a child interpreter, it puts interrupted calls, short reads, read errors and failing
# writes and closes between the module and the C library. It sits next to the module, where the
# tests look for it, and is never installed.
option(TARNEX_BUILD_FAULT_INJECTION "Build the fault-injection library of the Python tests"
       ${TARNEX_BUILD_MODULE})
if(NOT TARNEX_BUILD_FAULT_INJECTION)
  return()
endif()

enable_language(C)
add_library(tarnex_fault_injection MODULE tests/fault_injection/interpose.c)
set_target_properties(tarnex_fault_injection PROPERTIES
  C_STANDARD 11
  C_VISIBILITY_PRESET hidden
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  # A preloaded library must not bring a sanitizer runtime into an uninstrumented interpreter, so
  # the project-wide instrumentation options are left out.
  COMPILE_OPTIONS "-Wall;-Wextra"
  LINK_OPTIONS "")
target_link_libraries(tarnex_fault_injection PRIVATE ${CMAKE_DL_LIBS})
