# kdm_add_layer(<target> <folder> [UI] LIBS <libraries...>)
#
# One static library for the folder src/<folder>. A logic library gets an include root of its own
# in the build tree that holds nothing but src/<folder> (as a link named <folder>), so its users
# write #include "<folder>/x.h" and see exactly the folders of the libraries they link. A UI
# library (the folder's windows) uses the include root of its folder's logic library.
function(kdm_add_layer target folder)
  cmake_parse_arguments(L "UI" "" "LIBS" ${ARGN})
  add_library(${target} STATIC)
  if(NOT L_UI)
    set(root "${PROJECT_BINARY_DIR}/layers/${target}")
    file(MAKE_DIRECTORY "${root}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${folder}" "${root}/${folder}" SYMBOLIC)
    target_include_directories(${target} PUBLIC "${root}")
  endif()
  target_link_libraries(${target} PUBLIC ${L_LIBS})
endfunction()
