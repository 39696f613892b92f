# Warnings are errors in our own code; third-party headers come in as SYSTEM
# includes through their imported targets, so they do not trip this.
function(tcdemux_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  endif()
endfunction()
