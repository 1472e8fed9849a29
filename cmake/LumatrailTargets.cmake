# One place for the compile and link options of every target.
#
# Floating point: results must be bit-identical on every machine and compiler
# we ship, so contraction into fused multiply-adds is off, and fast-math and
# machine-specific tuning are never used.

# UNSANITIZED leaves the sanitizers out even in a sanitized tree: for code that
# other programs load (the frei0r module under ffmpeg or melt), which cannot
# carry the sanitizer runtime.
function(lumatrail_target_options target)
  cmake_parse_arguments(PARSE_ARGV 1 opt "UNSANITIZED" "" "")
  # C++ only: a module's resource script goes to windres, which takes none of these.
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-ffp-contract=off>
    $<$<COMPILE_LANGUAGE:CXX>:-Wall> $<$<COMPILE_LANGUAGE:CXX>:-Wextra>
    $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}")
  if(LUMATRAIL_FUZZ AND NOT opt_UNSANITIZED)
    # Coverage for libFuzzer in every object the fuzz targets link; the
    # targets themselves add the fuzzer's main (tests/fuzz).
    target_compile_options(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:-fsanitize=fuzzer-no-link,address,undefined;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer>")
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  elseif(LUMATRAIL_SANITIZE AND NOT opt_UNSANITIZED)
    target_compile_options(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:-fsanitize=address,undefined;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer>")
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

function(lumatrail_add_library target kind)
  add_library(${target} ${kind} ${ARGN})
  lumatrail_target_options(${target})
  target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}")
endfunction()

function(lumatrail_add_executable target)
  add_executable(${target} ${ARGN})
  lumatrail_target_options(${target})
endfunction()
