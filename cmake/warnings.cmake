# Warnings for our own targets; third-party code (GoogleTest) keeps its own flags.
function(nolvexa_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
endfunction()
