# One warning set for every target of the project; -Werror where the build asks for it (tests, CI).
function(zurodid_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wimplicit-fallthrough -Wmissing-declarations)
  if(ZURODID_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
