# The Windows installer (make windows-installer): schools-<version>-x64.msi in the
# Windows build folder, made by Debian's wixl (packages wixl and msitools) from
# cmake/schools.wxs. Its files are gathered in installer/ first: the stripped
# program, the two manual pages as HTML (made from doc/ by mandoc, so the manual is
# written once) and the licence.
find_program(SCHOOLS_WIXL wixl)
find_program(SCHOOLS_MSIBUILD msibuild)
find_program(SCHOOLS_MANDOC mandoc)

set(gathered ${PROJECT_BINARY_DIR}/installer)
set(msi ${PROJECT_BINARY_DIR}/schools-${PROJECT_VERSION}-x64.msi)

if(NOT SCHOOLS_WIXL OR NOT SCHOOLS_MSIBUILD OR NOT SCHOOLS_MANDOC)
  add_custom_target(
    windows-installer
    COMMAND ${CMAKE_COMMAND} -E echo
            "the installer needs: apt-get install wixl msitools mandoc (scripts/prerequisites.sh)"
    COMMAND ${CMAKE_COMMAND} -E false)
  return()
endif()

add_custom_command(
  OUTPUT ${gathered}/schools.html ${gathered}/schools.bg.html ${gathered}/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} -E make_directory ${gathered}
  COMMAND ${SCHOOLS_MANDOC} -Thtml -Kutf-8 ${PROJECT_SOURCE_DIR}/doc/schools.1 >
          ${gathered}/schools.html
  COMMAND ${SCHOOLS_MANDOC} -Thtml -Kutf-8 ${PROJECT_SOURCE_DIR}/doc/schools.bg.1 >
          ${gathered}/schools.bg.html
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${gathered}/LICENSE.txt
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/schools.1 ${PROJECT_SOURCE_DIR}/doc/schools.bg.1
          ${PROJECT_SOURCE_DIR}/LICENSE
  COMMENT "The manual pages as HTML"
  VERBATIM)

# The PATH entry is the Environment table's row that WiX's Environment element makes
# with Part="last" Action="set" System="yes": "=-*" sets the system variable at
# install and takes away at uninstall only the part added, "[~];" keeps what was there.
set(environment
    "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)"
    "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('PathEntry', '=-*PATH', '[~]$<SEMICOLON>[INSTALLDIR]', 'Program')"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
set(queries)
foreach(query IN LISTS environment)  # msibuild runs one query a call
  list(APPEND queries COMMAND ${SCHOOLS_MSIBUILD} ${msi} -q "${query}")
endforeach()

add_custom_command(
  OUTPUT ${msi}
  COMMAND ${CMAKE_STRIP} -o ${gathered}/schools.exe $<TARGET_FILE:schools>
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/cmake/schools.wxs ${gathered}
  COMMAND ${SCHOOLS_WIXL} -a x64 -D Version=${PROJECT_VERSION} -o ${msi} schools.wxs
  ${queries}
  DEPENDS schools ${gathered}/schools.html ${gathered}/schools.bg.html ${gathered}/LICENSE.txt
          ${PROJECT_SOURCE_DIR}/cmake/schools.wxs
  WORKING_DIRECTORY ${gathered}
  COMMENT "Building schools-${PROJECT_VERSION}-x64.msi"
  VERBATIM)
add_custom_target(windows-installer DEPENDS ${msi})
