# Run by `cmake --install`: gives the installed nodewarden the capability to bind UDP port 69
# (below 1024, so root's alone without it). A staged installation (DESTDIR, the package) leaves
# it to the package's post-installation step. NW_BINDIR is set by the install rule before this.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()
set(_program "${CMAKE_INSTALL_PREFIX}/${NW_BINDIR}/nodewarden")
find_program(_setcap setcap PATHS /usr/sbin /sbin)
if(_setcap)
  execute_process(COMMAND ${_setcap} cap_net_bind_service=+ep ${_program}
                  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_VARIABLE _err ERROR_STRIP_TRAILING_WHITESPACE)
else()
  set(_rc 1)
  set(_err "setcap is not installed (Debian package libcap2-bin)")
endif()
if(_rc EQUAL 0)
  message(STATUS "Capability to bind port 69 given to ${_program}")
else()
  message(WARNING
    "Could not give ${_program} the capability to bind UDP port 69: ${_err}\n"
    "Run as root:  setcap cap_net_bind_service=+ep ${_program}\n"
    "or set TftpPort in the [System] section of system.ini to a port from 1024 up and redirect "
    "the devices' port 69 to it (see the README).")
endif()
