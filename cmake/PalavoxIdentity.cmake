# Palavox.dll's identity, written here once. Every artefact that carries one
# of these values is generated from this file (the IDL and so the type
# library and the generated header, the version resource, the registration
# code, the side-by-side manifests) or fed by it (the MSI source, through
# scripts/package.sh; the Wine test scripts).
#   include(cmake/PalavoxIdentity.cmake)              from CMake
#   eval "$(cmake -P cmake/PalavoxIdentity.cmake)"    from a shell: NAME='value' lines
#   cmake -DPALAVOX_GET=PALAVOX_VERSION -P cmake/PalavoxIdentity.cmake
#                                                     one value alone (make, build scripts)
#
# Registered clients, compiled callers and installed packages depend on every
# identifier and on the type library version: they never change. A release
# changes PALAVOX_VERSION and PALAVOX_VERSION_TEXT only.

set(PALAVOX_VERSION 1.5.0)
# FileVersion and ProductVersion as the version resource shows them.
set(PALAVOX_VERSION_TEXT 1.05)

set(PALAVOX_PROGID Palavox.PalavoxClass)
set(PALAVOX_VERSIONED_PROGID Palavox.PalavoxClass.1)
set(PALAVOX_CLASS_NAME PalavoxClass)
set(PALAVOX_CLSID 5A103311-D634-4098-84FC-89F6D0CB43DC)
# _PalavoxClass, and the alias PalavoxClass___v0 the object answers to as well.
set(PALAVOX_IID 115967E5-CC7D-45C5-ACE8-0AE2C194F5D5)
set(PALAVOX_ALIAS_IID 30CAAC6A-7121-4C22-A760-3EE223CD9E65)
set(PALAVOX_LIBID A2B36B68-6C03-49DD-A0AC-9DBEF471C4F8)
set(PALAVOX_TYPELIB_VERSION 5.1)

# Windows Installer: the UpgradeCode of each package lets a newer one replace
# an older one; component identifiers tie what a package installs to it.
set(PALAVOX_MSI_UPGRADE_CODE_X86 2BF78527-19B5-4D33-A6D6-5D16D6F5D71C)
set(PALAVOX_MSI_UPGRADE_CODE_X64 0AD82699-7AE6-4A89-B15B-8BADE3F5B149)
set(PALAVOX_MSI_COMPONENT_DLL32 ED06B928-314B-4670-83A1-DFF13257F925)
set(PALAVOX_MSI_COMPONENT_DLL64 9CF47CE3-CC36-4BC7-9248-83A73D4CEA02)
set(PALAVOX_MSI_COMPONENT_SHARED_X86 61B70664-CD08-40E7-B4C2-70C0D766AAA1)
set(PALAVOX_MSI_COMPONENT_SHARED_X64 5DC920F1-D51C-49EB-A6B3-ECDA39229807)
# palavox-record.js beside each DLL.
set(PALAVOX_MSI_COMPONENT_RECORDER32 C0FCDBBF-A16A-4515-80BA-6273BF18E153)
set(PALAVOX_MSI_COMPONENT_RECORDER64 71368D28-6941-4E7A-890D-A47FD8B02B9B)
# palavox-adopt.exe beside each DLL.
set(PALAVOX_MSI_COMPONENT_ADOPT32 018CCE28-7BC9-4174-B563-DC46E55832CB)
set(PALAVOX_MSI_COMPONENT_ADOPT64 B4777212-9723-4489-A126-F959FBFA52CF)

# Derived, never edited: 1.5.0.0 and 1,5,0,0 for manifests and resources; 5 and 1.
set(PALAVOX_VERSION_QUAD ${PALAVOX_VERSION}.0)
string(REPLACE "." "," PALAVOX_VERSION_COMMAS ${PALAVOX_VERSION_QUAD})
string(REPLACE "." ";" palavox_parts ${PALAVOX_TYPELIB_VERSION})
list(GET palavox_parts 0 PALAVOX_TYPELIB_MAJOR)
list(GET palavox_parts 1 PALAVOX_TYPELIB_MINOR)
unset(palavox_parts)

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED PALAVOX_GET)
  if(NOT DEFINED ${PALAVOX_GET})
    message(FATAL_ERROR "PalavoxIdentity.cmake holds no ${PALAVOX_GET}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${${PALAVOX_GET}}")
elseif(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  get_cmake_property(palavox_names VARIABLES)
  list(FILTER palavox_names INCLUDE REGEX "^PALAVOX_")
  set(palavox_lines "")
  foreach(name IN LISTS palavox_names)
    string(APPEND palavox_lines "${name}='${${name}}'\n")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${palavox_lines}")
endif()
