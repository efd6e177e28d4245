# The correctly rounding decimal-to-binary32 conversion behind the reader's own fast paths:
# std::from_chars for float where the standard library has it (libstdc++ 11 and newer), the
# fast_float headers where it does not. TARNEX_DECIMAL_CONVERTER picks one by hand ("std" or
# "fast_float"); the default, "auto", asks the compiler.
set(TARNEX_DECIMAL_CONVERTER "auto" CACHE STRING "auto, std or fast_float")
set_property(CACHE TARNEX_DECIMAL_CONVERTER PROPERTY STRINGS auto std fast_float)

include(CheckCXXSourceCompiles)
check_cxx_source_compiles([[
#include <charconv>
#include <system_error>
int main(int argc, char**) {
  const char text[] = "1.5e-45";
  float value = 0.0f;
  const std::from_chars_result result = std::from_chars(text, text + argc + 5, value);
  return result.ec == std::errc() ? 0 : 1;
}
]] TARNEX_HAVE_FLOAT_FROM_CHARS)

if(TARNEX_DECIMAL_CONVERTER STREQUAL "auto")
  if(TARNEX_HAVE_FLOAT_FROM_CHARS)
    set(TARNEX_CONVERTER_IN_USE std)
  else()
    set(TARNEX_CONVERTER_IN_USE fast_float)
  endif()
else()
  set(TARNEX_CONVERTER_IN_USE ${TARNEX_DECIMAL_CONVERTER})
endif()

if(TARNEX_CONVERTER_IN_USE STREQUAL "std" AND NOT TARNEX_HAVE_FLOAT_FROM_CHARS)
  message(FATAL_ERROR "TARNEX_DECIMAL_CONVERTER is std, but this C++ standard library has no "
                      "std::from_chars for float.")
endif()
if(TARNEX_CONVERTER_IN_USE STREQUAL "fast_float")
  find_path(FAST_FLOAT_INCLUDE_DIR fast_float/fast_float.h)
  if(NOT FAST_FLOAT_INCLUDE_DIR)
    message(FATAL_ERROR
      "This C++ standard library has no std::from_chars for float, and the fast_float headers "
      "were not found either. Use a newer standard library (libstdc++ 11 or newer), or install "
      "the fast_float headers (Debian: libfast-float-dev) and point FAST_FLOAT_INCLUDE_DIR at "
      "the folder that holds fast_float/fast_float.h.")
  endif()
endif()
message(STATUS "Decimal to binary32 conversion: ${TARNEX_CONVERTER_IN_USE}")

# Gives `target` the conversion chosen above.
function(tarnex_use_decimal_converter target)
  if(TARNEX_CONVERTER_IN_USE STREQUAL "fast_float")
    target_include_directories(${target} SYSTEM PRIVATE ${FAST_FLOAT_INCLUDE_DIR})
    target_compile_definitions(${target} PRIVATE TARNEX_USE_FAST_FLOAT=1)
  endif()
endfunction()
