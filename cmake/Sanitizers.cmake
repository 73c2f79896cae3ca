if(VINDREL_SANITIZE)
  add_compile_options(-fsanitize=${VINDREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VINDREL_SANITIZE})
endif()
