# Builds that look for faults rather than ship: the whole project under a
# sanitizer, and the libFuzzer targets of tests/fuzz.
#
#   -DORBILATCH_SANITIZE=address   AddressSanitizer with UndefinedBehaviorSanitizer
#   -DORBILATCH_SANITIZE=thread    ThreadSanitizer
#   -DORBILATCH_FUZZ=ON            the fuzz targets (clang only); the rest builds as usual

set(ORBILATCH_SANITIZE "" CACHE STRING "Build everything under a sanitizer: address (with undefined) or thread")
set_property(CACHE ORBILATCH_SANITIZE PROPERTY STRINGS "" address thread)
option(ORBILATCH_FUZZ "Build the libFuzzer targets in tests/fuzz (needs clang)" OFF)

if(ORBILATCH_SANITIZE STREQUAL "address")
  set(ORBILATCH_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(ORBILATCH_SANITIZE STREQUAL "thread")
  set(ORBILATCH_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT ORBILATCH_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ORBILATCH_SANITIZE must be address, thread or empty, not '${ORBILATCH_SANITIZE}'")
endif()
if(ORBILATCH_SANITIZER_FLAGS)
  add_compile_options(${ORBILATCH_SANITIZER_FLAGS})
  add_link_options(${ORBILATCH_SANITIZER_FLAGS})
endif()

if(ORBILATCH_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ORBILATCH_FUZZ needs clang (libFuzzer); configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(ORBILATCH_SANITIZER_FLAGS)
    message(FATAL_ERROR "ORBILATCH_FUZZ brings its own sanitizers; leave ORBILATCH_SANITIZE empty")
  endif()
  # Every layer the fuzz targets link is coverage-instrumented and sanitized;
  # the targets themselves add libFuzzer's main.
  set(ORBILATCH_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${ORBILATCH_FUZZ_FLAGS} -fsanitize=fuzzer-no-link)
  add_link_options(${ORBILATCH_FUZZ_FLAGS})
endif()
