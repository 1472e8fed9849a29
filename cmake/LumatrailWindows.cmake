# The Windows module: Lumatrail.aex, cross-built with mingw-w64.
#
# - linked -static, so it imports only KERNEL32.dll and msvcrt.dll;
# - linked with --no-insert-timestamp, so rebuilds are byte-identical;
# - exports exactly EffectMain and PluginDataEntryFunction2 (module_exports.def);
# - carries the property list resource ("PIPL", id 16000, English), written
#   into a resource script at build time from PROPERTY_LIST in
#   host/effect_identity.h and compiled in by windres.
#
# The resource script comes from property_list_rc (tools/property_list/),
# built here with the build machine's own C++ compiler: the cross-built
# programs cannot run on the build machine without wine, and the bytes come
# from constexpr code that writes every byte explicitly, so they are the same
# whichever compiler evaluates it.

enable_language(RC)

function(lumatrail_windows_module target)
  find_program(LUMATRAIL_BUILD_CXX NAMES c++ g++ REQUIRED
    DOC "the build machine's C++ compiler, for programs run during the build")

  set(tools_dir "${CMAKE_BINARY_DIR}/build-machine")
  set(generator "${tools_dir}/property_list_rc")
  set(rc "${CMAKE_BINARY_DIR}/generated/lumatrail_property_list.rc")
  add_custom_command(OUTPUT "${generator}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${tools_dir}"
    COMMAND "${LUMATRAIL_BUILD_CXX}" -std=c++20 -O1 -ffp-contract=off -Wall -Wextra -Werror
            "-I${PROJECT_SOURCE_DIR}" -MD -MF "${generator}.d" -MT "${generator}"
            -o "${generator}" "${PROJECT_SOURCE_DIR}/tools/property_list/property_list_rc_main.cpp"
    DEPENDS "${PROJECT_SOURCE_DIR}/tools/property_list/property_list_rc_main.cpp"
    # One translation unit, so this lists every header it reads (effect_identity.h ...).
    DEPFILE "${generator}.d"
    COMMENT "Building property_list_rc with the build machine's compiler"
    VERBATIM)
  add_custom_command(OUTPUT "${rc}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/generated"
    COMMAND "${generator}" "${rc}"
    DEPENDS "${generator}"
    COMMENT "Writing the property list resource script"
    VERBATIM)

  target_sources(${target} PRIVATE "${rc}" "${PROJECT_SOURCE_DIR}/cmake/module_exports.def")
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".aex")
  target_link_options(${target} PRIVATE -static -Wl,--no-insert-timestamp)
endfunction()
