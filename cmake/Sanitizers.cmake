# Sanitizers apply to every target of the build, third-party sources excepted.
if(ZRF_SANITIZE)
  string(REPLACE ";" "," _zrf_san "${ZRF_SANITIZE}")
  add_compile_options(-fsanitize=${_zrf_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_zrf_san})
endif()
