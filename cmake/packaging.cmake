# Installation where the distribution's OBS looks for system plug-ins, and a Debian package
# (`cpack -G DEB`) for the OBS line the plug-in was built against.

# Installing and packaging take the plug-in as built: they do not first bring every test and
# benchmark up to date (build before installing).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# OBS loads system plug-ins from "obs-plugins" beside its own library and their data from
# share/obs/obs-plugins/<module>; take the library folder from the libobs that was found.
get_target_property(_relaycast_libobs OBS::libobs LOCATION)
get_filename_component(_relaycast_libobs_dir "${_relaycast_libobs}" DIRECTORY)
file(RELATIVE_PATH RELAYCAST_INSTALL_LIBDIR /usr "${_relaycast_libobs_dir}")
if(RELAYCAST_INSTALL_LIBDIR MATCHES "^\\.\\.")
    set(RELAYCAST_INSTALL_LIBDIR lib)
endif()
install(TARGETS relaycast LIBRARY DESTINATION ${RELAYCAST_INSTALL_LIBDIR}/obs-plugins
    COMPONENT plugin)
install(DIRECTORY data/ DESTINATION share/obs/obs-plugins/relaycast COMPONENT plugin)

# The plug-in fits the OBS line it was built against and no other: its Qt major version and the
# host interfaces it uses are those of that line.
string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+" _relaycast_obs_version "${libobs_VERSION}")
string(REGEX MATCH "^[0-9]+" _relaycast_obs_major "${_relaycast_obs_version}")
math(EXPR _relaycast_obs_next "${_relaycast_obs_major} + 1")

set(CPACK_PACKAGE_NAME obs-relaycast)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Relaycast)
set(CPACK_PACKAGE_CONTACT "Relaycast maintainers <maintainers@relaycast.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "OBS Studio plug-in: stream scenes and sources to many RTMP and SRT destinations")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}+obs${_relaycast_obs_major}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "obs-studio (>= ${_relaycast_obs_version}), obs-studio (<< ${_relaycast_obs_next}~)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 Adds a dock to OBS Studio ${_relaycast_obs_major} in which each input renders an OBS scene
 or source at its own size, encodes it once and streams it to any number of RTMP, RTMPS and
 SRT destinations, each started, stopped and recovered by itself.")
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL plugin)
include(CPack)
