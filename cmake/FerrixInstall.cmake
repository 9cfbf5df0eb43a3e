# What `cmake --install` puts in place: the three programs and nothing else (no tests, benches or
# libraries). Modes are set explicitly, so root's umask cannot change them.
#
# - ferrix2 in a directory of its own: INSTALL and the account change refuse a program that
#   another user could replace, and an account gets that directory to write its log and settings.
# - ferrixcon2 in a directory of its own, root's like the service's: the console keeps its files
#   beside the real program (AppDir), and root runs it, so no one else may add files (Qt plugins)
#   there. A link on the PATH starts it; AppDir follows the link to that directory.
# - ferrix-relay on the PATH, for the SSH user of a watched PC.
include(GNUInstallDirs)

set(FERRIX_SERVICE_DIR /opt/ferrix CACHE PATH "Directory of its own for ferrix2 (absolute)")
set(FERRIX_CONSOLE_DIR /opt/ferrixcon2 CACHE PATH "Directory of its own for ferrixcon2 (absolute)")
foreach(dir FERRIX_SERVICE_DIR FERRIX_CONSOLE_DIR)
  if(NOT IS_ABSOLUTE "${${dir}}")
    message(FATAL_ERROR "${dir} must be an absolute path, not ${${dir}}")
  endif()
endforeach()

set(ferrix_mode_755 OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Directories the install makes on the way (a umask of 0002 would leave them group-writable).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${ferrix_mode_755})

# The programs' own directories, 0755 also when they existed with another mode.
install(DIRECTORY DESTINATION ${FERRIX_SERVICE_DIR} DIRECTORY_PERMISSIONS ${ferrix_mode_755})
install(DIRECTORY DESTINATION ${FERRIX_CONSOLE_DIR} DIRECTORY_PERMISSIONS ${ferrix_mode_755})

install(TARGETS ferrix2 RUNTIME DESTINATION ${FERRIX_SERVICE_DIR} PERMISSIONS ${ferrix_mode_755})
install(TARGETS ferrixcon2 RUNTIME DESTINATION ${FERRIX_CONSOLE_DIR} PERMISSIONS ${ferrix_mode_755})
install(TARGETS ferrix-relay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} PERMISSIONS ${ferrix_mode_755})

# The console's link on the PATH, installed as a link.
set(ferrix_console_link ${CMAKE_BINARY_DIR}/install-links/ferrixcon2)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ${FERRIX_CONSOLE_DIR}/ferrixcon2 ${ferrix_console_link} SYMBOLIC)
install(FILES ${ferrix_console_link} DESTINATION ${CMAKE_INSTALL_BINDIR})
