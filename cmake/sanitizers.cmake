# NOLVEXA_SANITIZE: a comma-separated -fsanitize list for the native sanitizer presets.
set(NOLVEXA_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address,undefined")
if(NOLVEXA_SANITIZE)
  add_compile_options(-fsanitize=${NOLVEXA_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${NOLVEXA_SANITIZE})
endif()
