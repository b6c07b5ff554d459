# reelscan_add_idl(<target> <file.idl>)
#
# Compiles the IDL file with midl at build time into <name>.h and <name>.tlb in a directory of the
# target's own, which the target gets as an include directory. The directory is also left in the
# variable <target>_MIDL_DIR, for the INCLUDE of reelscan_add_resources, so that a resource script
# can name "<name>.tlb" as its TYPELIB. The .tlb is also copied beside the built target (for a
# program also as <program name>.tlb), where LoadTypeLib finds a program's type library from
# another process, which cannot load the program to read its resources. The build reruns midl
# when the IDL file or a type library it imports changes; a fault fails the build with the IDL
# file and line.
function(reelscan_add_idl target idl)
  get_filename_component(idl_path ${idl} ABSOLUTE)
  get_filename_component(idl_name ${idl} NAME_WE)
  set(directory ${CMAKE_CURRENT_BINARY_DIR}/${target}_midl)
  set(header ${directory}/${idl_name}.h)
  set(library ${directory}/${idl_name}.tlb)
  add_custom_command(
    OUTPUT ${header} ${library}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}
    COMMAND midl -d ${library}.d -h ${header} -t ${library} ${idl_path}
    DEPENDS midl stdole2 ${idl_path}
    DEPFILE ${library}.d
    COMMENT "Compiling ${idl}"
    VERBATIM)
  add_custom_target(${target}_midl DEPENDS ${header} ${library})
  add_dependencies(${target} ${target}_midl)
  target_include_directories(${target} PRIVATE ${directory})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${library} $<TARGET_FILE_DIR:${target}>
    VERBATIM)
  # A program's type library is read from another process as the .tlb of the program's own name.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${library}
        $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.tlb
      VERBATIM)
  endif()
  set(${target}_MIDL_DIR ${directory} PARENT_SCOPE)
endfunction()
