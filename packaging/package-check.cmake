# Read by cpack before it makes each package: a package without the page says so, loudly, since
# the .deb and the zip are how most people get keldo.html.
if(NOT CPACK_KELDO_PAGE)
  message(WARNING "keldo.html is LEFT OUT of this package: run web/build.sh, then configure with "
                  "-DKELDO_PAGE=\"$PWD/build-web/keldo.html\" and build again.")
endif()
