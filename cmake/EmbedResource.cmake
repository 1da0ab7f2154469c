# zrf_embed_resource(<target> <file> <resource name>)
# Carries <file> inside <target> as a named resource set. On Windows it is a Win32 resource
# (RCDATA) of the DLL, as the platform carries data in a library; elsewhere a generated source
# holds its bytes and registers them.
function(zrf_embed_resource target file name)
  string(MAKE_C_IDENTIFIER "${name}" ident)
  if(WIN32)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${ident}.rc)
    file(WRITE ${out} "// Generated; do not edit.\n\"${name}\" RCDATA \"${file}\"\n")
    set_source_files_properties(${out} PROPERTIES OBJECT_DEPENDS ${file})
    target_sources(${target} PRIVATE ${out})
    return()
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${ident}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DNAME=${name} -DIDENT=${ident}
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedResourceScript.cmake
    DEPENDS ${file} ${PROJECT_SOURCE_DIR}/cmake/EmbedResourceScript.cmake
    COMMENT "Embedding resource ${name}")
  target_sources(${target} PRIVATE ${out})
endfunction()
