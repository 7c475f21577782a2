# The program's version comes from project() alone. The build writes it into
# generated/oskel_version.h, which the version resource (res/updater.rc) and oskel-sim --version
# include; tools/release.sh names the files in dist/ after it.
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    set(OSKEL_VERSION_${part} 0)
  else()
    set(OSKEL_VERSION_${part} ${PROJECT_VERSION_${part}})
  endif()
endforeach()
set(OSKEL_VERSION_TEXT "${PROJECT_VERSION}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/version.h.in" "${CMAKE_BINARY_DIR}/generated/oskel_version.h" @ONLY)
