# mirvel_add_resources(<target> NAME=file ...)
#
# Compiles the files into <target> as resources that cl::TResourceStream reads by NAME (letters,
# digits, "_" and "." only; relative files are taken from the calling source directory).  The
# generated source registers them before main through a static object.  A static library keeps
# only object files something refers to, so a library that carries resources calls the generated
# `void MirvelRegisterResources_<target>()` once (it may run again harmlessly); an executable
# needs nothing.  Qt's resource compiler is not used: programs without Qt read resources too.
set(MIRVEL_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake)

function(mirvel_add_resources target)
  set(entries "")
  set(files "")
  foreach(pair IN LISTS ARGN)
    if(NOT pair MATCHES "^([A-Za-z0-9_.]+)=(.+)$")
      message(FATAL_ERROR "mirvel_add_resources: '${pair}' is not NAME=file")
    endif()
    set(name ${CMAKE_MATCH_1})
    get_filename_component(file "${CMAKE_MATCH_2}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND entries "${name}=${file}")
    list(APPEND files "${file}")
  endforeach()
  string(MAKE_C_IDENTIFIER "${target}" symbol)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  string(REPLACE ";" "|" joined "${entries}")
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${output}" "-DENTRIES=${joined}" "-DSYMBOL=${symbol}"
            -P ${MIRVEL_EMBED_SCRIPT}
    DEPENDS ${files} ${MIRVEL_EMBED_SCRIPT}
    COMMENT "Embedding resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
