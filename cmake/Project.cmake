# Common settings of every target of the project.

set(PROJECT_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wold-style-cast -Woverloaded-virtual)
# GCC 12 at -O3 (Release) reports an overlapping copy inside libstdc++'s
# string concatenation ("text" + std::string) that cannot happen (GCC bug
# 105651); GCC 13 no longer does.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND PROJECT_WARNINGS $<$<CONFIG:Release>:-Wno-restrict>)
endif()
if(WARNINGS_AS_ERRORS)
  list(APPEND PROJECT_WARNINGS -Werror)
endif()

if(ENABLE_SANITIZERS)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# project_target(<target>): the project's warnings on a target of ours.
function(project_target target)
  target_compile_options(${target} PRIVATE ${PROJECT_WARNINGS})
endfunction()

# plugin_module(<target> <version script or .def file>): a plug-in module built
# as <target>.so (<target>.dll on Windows) without the "lib" prefix, exporting
# only what the version script (the .def file on Windows) lists and keeping the
# symbols of the static libraries it links hidden.
function(plugin_module target script)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  if(script MATCHES "\\.def$")
    # A .def file alone decides the export table: the names exactly as
    # written, nothing exported automatically.
    target_sources(${target} PRIVATE ${script})
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--enable-stdcall-fixup)
    split_debug_info(${target})
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${script} -Wl,--exclude-libs,ALL
                        -Wl,--no-undefined)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
  project_target(${target})
endfunction()

# split_debug_info(<target>): the DLL as shipped, stripped, with its debugging
# information in <file>.debug beside it, which the DLL names (.gnu_debuglink)
# so that a debugger finds it.
function(split_debug_info target)
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "objcopy is needed to split the debugging information off ${target}")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
