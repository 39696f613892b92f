# -Wall -Wextra (/W4) on our own code in every build. Warnings become errors
# only with TCDEMUX_WERROR, which our development and CI builds turn on (the
# Makefile's build, test, sanitizer and fuzz builds): there a new warning
# stops the work at once. It is off by default, so that a build with other
# flags or another compiler version (a distribution's package, an optimisation
# level we do not build with) is not stopped by a warning we have never seen.
# Third-party headers come in as SYSTEM includes through their imported
# targets, so they do not trip this.
option(TCDEMUX_WERROR "Treat compiler warnings in our own code as errors" OFF)

function(tcdemux_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8)
    if(TCDEMUX_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(TCDEMUX_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
      # GCC 12 at -O3 wrongly reports an overlapping copy (-Wrestrict)
      # inside std::string's operator+ with a short literal in front (GCC
      # bug 105329; GCC 13 no longer does). With GCC 12 that one stays a
      # warning, so that a Release build of the tool, which joins messages
      # that way in many places, does not stop; every other warning stays
      # an error.
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
         AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-error=restrict)
      endif()
    endif()
  endif()
endfunction()
