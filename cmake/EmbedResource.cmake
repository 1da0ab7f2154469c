# zrf_embed_resource(<target> <file> <resource name>)
# Carries <file> inside <target> as a named resource set: a generated source holds its bytes.
function(zrf_embed_resource target file name)
  string(MAKE_C_IDENTIFIER "${name}" ident)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${ident}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DNAME=${name} -DIDENT=${ident}
            -P ${PROJECT_SOURCE_DIR}/cmake/EmbedResourceScript.cmake
    DEPENDS ${file} ${PROJECT_SOURCE_DIR}/cmake/EmbedResourceScript.cmake
    COMMENT "Embedding resource ${name}")
  target_sources(${target} PRIVATE ${out})
endfunction()
