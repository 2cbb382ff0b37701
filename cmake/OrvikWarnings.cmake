# Warnings for every target of the project. A class object passed through "..."
# is a silent garbage argument with g++, so it is an error here.
function(orvik_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Werror=conditionally-supported>)
    # g++ 12 at -O3 reports overlapping memcpy inside libstdc++'s char_traits for
    # `"literal" + std::string&&` (a known false positive, fixed in g++ 13).
    if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:-Wno-restrict>)
    endif()
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Werror=non-pod-varargs)
  endif()
endfunction()

# One static library per source folder: every .cpp in the folder (not below it),
# listed by glob so that adding a file needs no edit here.
#   orvik_add_folder_library(name alias [EXCLUDE regex] [EXTRA file...])
function(orvik_add_folder_library name alias)
  cmake_parse_arguments(ARG "" "EXCLUDE" "EXTRA" ${ARGN})
  # A folder may keep its sources in rooms of their own, one level down.
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*/*.cpp)
  if(ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  foreach(extra ${ARG_EXTRA})
    if(EXISTS ${extra})
      list(APPEND sources ${extra})
    endif()
  endforeach()
  if(NOT sources)
    # A folder whose first source has not landed yet still yields a target.
    set(placeholder ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${placeholder} "")
    list(APPEND sources ${placeholder})
  endif()
  add_library(${name} STATIC ${sources})
  add_library(${alias} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/orvik>)
  orvik_set_warnings(${name})
endfunction()
