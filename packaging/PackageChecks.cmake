# Read by cpack before it installs anything: a Debian package whose program opened another
# database than the one its maintainer scripts prepare would start on a missing schedule.
if(CPACK_GENERATOR STREQUAL "DEB"
   AND NOT CPACK_VANTREL_DATABASE_PATH STREQUAL CPACK_VANTREL_PACKAGE_DATABASE_PATH)
    message(FATAL_ERROR
        "This build opens ${CPACK_VANTREL_DATABASE_PATH}, but the package prepares "
        "${CPACK_VANTREL_PACKAGE_DATABASE_PATH}. Build the package with tools/package.sh, "
        "or configure with -DVANTREL_DATABASE_PATH=${CPACK_VANTREL_PACKAGE_DATABASE_PATH}.")
endif()
