# Warning flags shared by every target of the project.
function(ox_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(OX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
