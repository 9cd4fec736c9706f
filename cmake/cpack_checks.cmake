# Read by cpack before it makes each package. The Debian package's
# dependencies are computed by dpkg-shlibdeps (package dpkg-dev); where it is
# missing, CPack would only warn and make a package without them, which does
# not start on a machine that lacks libedit.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(PHONEBOOK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT PHONEBOOK_DPKG_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps is not found: install dpkg-dev, which computes the "
                        "package's dependencies")
  endif()
endif()
