# Installation and the Debian package.
#   cmake --install <build> --prefix <folder>   the program, its manual page, its docs
#   make package                                schools_<version>_<arch>.deb in build/
#
# Under the prefix:
#   bin/schools
#   share/man/man1/schools.1.gz   (schools.1 where gzip is missing)
#   share/man/bg/man1/schools.1.gz   the Bulgarian one
#   share/locale/bg/LC_MESSAGES/schools.mo   the Bulgarian texts
#   share/doc/schools/README.md, LICENSE, copyright, changelog.gz
include(GNUInstallDirs)

set(SCHOOLS_MAINTAINER "The schools developers <maintainers@users.noreply.c-seed-9654a194.example>"
    CACHE STRING "Maintainer named in the package")

install(TARGETS schools RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page and the changelog are installed compressed, as Debian keeps
# them; -n leaves the name and time stamp out, so the same text always compresses
# to the same bytes.
find_program(SCHOOLS_GZIP gzip)
# A third argument names the file installed, where the source's name is another.
function(schools_install_compressed source destination)
  get_filename_component(name ${source} NAME)
  set(installed ${name})
  if(ARGC GREATER 2)
    set(installed ${ARGV2})
  endif()
  if(SCHOOLS_GZIP)
    set(compressed ${PROJECT_BINARY_DIR}/doc/${name}.gz)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
      COMMAND ${SCHOOLS_GZIP} -9 -n -c ${source} > ${compressed}
      DEPENDS ${source}
      COMMENT "Compressing ${name}"
      VERBATIM)
    add_custom_target(schools_${name} ALL DEPENDS ${compressed})
    install(FILES ${compressed} DESTINATION ${destination} RENAME ${installed}.gz)
  else()
    install(FILES ${source} DESTINATION ${destination} RENAME ${installed})
  endif()
endfunction()
schools_install_compressed(${PROJECT_SOURCE_DIR}/doc/schools.1 ${CMAKE_INSTALL_MANDIR}/man1)
schools_install_compressed(${PROJECT_SOURCE_DIR}/doc/changelog ${CMAKE_INSTALL_DOCDIR})
schools_install_compressed(${PROJECT_SOURCE_DIR}/doc/schools.bg.1 ${CMAKE_INSTALL_MANDIR}/bg/man1
                           schools.1)
install(FILES ${catalog} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/bg/LC_MESSAGES)

# CMAKE_INSTALL_DOCDIR is share/doc/schools; copyright is the licence as Debian
# reads it.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/doc/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- The package --------------------------------------------------------------

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The schools developers")
set(CPACK_PACKAGE_CONTACT "${SCHOOLS_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
else()
  set(CPACK_GENERATOR ZIP)
endif()

# schools_<version>_<arch>.deb, the architecture as dpkg names it.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SCHOOLS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends worked out by dpkg-shlibdeps (package dpkg-dev) from the shared
# libraries that the program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description; CPack puts the summary line, the project's description,
# before it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "An interactive program that keeps a register of schools in memory: each school
has a name, a director, a number, an area and a number of students. From
numbered menus chosen with single keys, schools are typed in or loaded from a
binary school file, written back, retyped by name, listed by student count and
filtered by area. Names are kept in code page 1251 (Windows Cyrillic) and
shown converted on a UTF-8 terminal. Sessions can be scripted from a pipe.")

include(CPack)
