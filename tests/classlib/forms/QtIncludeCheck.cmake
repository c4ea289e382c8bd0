# Fails when a Qt header is included anywhere but the visual layer's .cpp files and the one
# test-support header: the rest of the system builds and tests without Qt.
file(GLOB_RECURSE sources RELATIVE ${ROOT}
  ${ROOT}/app/*.h ${ROOT}/app/*.cpp ${ROOT}/bench/*.h ${ROOT}/bench/*.cpp
  ${ROOT}/classlib/*.h ${ROOT}/classlib/*.cpp ${ROOT}/components/*.h ${ROOT}/components/*.cpp
  ${ROOT}/engine/*.h ${ROOT}/engine/*.cpp ${ROOT}/platform/*.h ${ROOT}/platform/*.cpp
  ${ROOT}/tests/*.h ${ROOT}/tests/*.cpp ${ROOT}/tools/*.h ${ROOT}/tools/*.cpp)
set(offenders "")
foreach(source IN LISTS sources)
  if(source MATCHES "^classlib/(forms|dbforms|report)/[^/]+\\.cpp$"
     OR source STREQUAL "tests/classlib/forms/FormsTestSupport.h")
    continue()
  endif()
  file(STRINGS ${ROOT}/${source} hits REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]|qt)")
  if(hits)
    list(APPEND offenders "${source}: ${hits}")
  endif()
endforeach()
if(offenders)
  string(REPLACE ";" "\n" text "${offenders}")
  message(FATAL_ERROR "Qt included outside the visual layer's sources:\n${text}")
endif()
