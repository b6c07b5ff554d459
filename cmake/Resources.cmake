# reelscan_add_resources(<target> <script.rc> [INCLUDE <directory>...] [DEPENDS <file>...])
#
# Compiles the resource script with rc at build time and links the generated table into the
# target, which then finds its resources with FindResourceW. Files the script names are found
# beside it, then in the INCLUDE directories; the build reruns rc when any of them changes, and a
# missing one fails the build with the script's file and line. DEPENDS names files that other
# build steps generate (a type library from midl), so that they exist before rc reads them.
function(reelscan_add_resources target script)
  cmake_parse_arguments(RESOURCES "" "" "INCLUDE;DEPENDS" ${ARGN})
  # A module has one resource table, as a Windows image has one resource section.
  get_target_property(existing ${target} REELSCAN_RESOURCE_SCRIPT)
  if(existing)
    message(FATAL_ERROR "${target} already has the resource script ${existing}; a module takes one")
  endif()
  set_target_properties(${target} PROPERTIES REELSCAN_RESOURCE_SCRIPT ${script})
  get_filename_component(script_path ${script} ABSOLUTE)
  get_filename_component(script_name ${script} NAME_WE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_${script_name}_resources.cpp)
  set(include_arguments)
  foreach(directory ${RESOURCES_INCLUDE})
    get_filename_component(directory_path ${directory} ABSOLUTE)
    list(APPEND include_arguments -I ${directory_path})
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND rc ${include_arguments} -d ${output}.d -o ${output} ${script_path}
    DEPENDS rc ${script_path} ${RESOURCES_DEPENDS}
    DEPFILE ${output}.d
    COMMENT "Compiling resources ${script}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
  # Only the generated table sees the platform's internal headers, never the target's own code.
  set_source_files_properties(${output} TARGET_DIRECTORY ${target}
    PROPERTIES INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/platform/internal)
  target_link_libraries(${target} PRIVATE kernel32)
endfunction()
