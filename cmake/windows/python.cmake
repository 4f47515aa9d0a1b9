# The interpreter's side of the Windows build, from the project's own files:
#   velmo_python_headers  a folder with the build machine's Python headers (they
#                         are platform-neutral) and our Windows pyconfig.h
#   velmo::python3        python3.dll's import library, made from python3.def
# Included by the top-level CMakeLists.txt when building for Windows.

set(VELMO_PYTHON_INCLUDE_DIR "" CACHE PATH
    "Python 3.8+ include folder whose headers the Windows build uses (default: the build machine's python3)")
if(NOT VELMO_PYTHON_INCLUDE_DIR)
  find_program(VELMO_HOST_PYTHON NAMES python3 python REQUIRED)
  execute_process(
    COMMAND ${VELMO_HOST_PYTHON} -c "import sysconfig; print(sysconfig.get_paths()['include'])"
    OUTPUT_VARIABLE VELMO_PYTHON_INCLUDE_DIR
    OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
endif()
if(NOT EXISTS ${VELMO_PYTHON_INCLUDE_DIR}/Python.h)
  message(FATAL_ERROR "no Python.h in ${VELMO_PYTHON_INCLUDE_DIR}")
endif()
# From 3.13 on, the headers route argument parsing and calls to other python3.dll
# entries than the ones python3.def lists (the *_SizeT forms of 3.8 to 3.12).
file(STRINGS ${VELMO_PYTHON_INCLUDE_DIR}/patchlevel.h velmo_python_version
     REGEX "^#define PY_VERSION ")
string(REGEX MATCH "3\\.([0-9]+)" velmo_python_version "${velmo_python_version}")
if(NOT velmo_python_version OR CMAKE_MATCH_1 LESS 8 OR CMAKE_MATCH_1 GREATER 12)
  message(FATAL_ERROR "the Windows build takes the headers of a Python from 3.8 to 3.12, "
                      "not ${VELMO_PYTHON_INCLUDE_DIR} (${velmo_python_version}): "
                      "set VELMO_PYTHON_INCLUDE_DIR")
endif()
message(STATUS "Python ${velmo_python_version} headers for the Windows module: ${VELMO_PYTHON_INCLUDE_DIR}")

# Python.h includes "pyconfig.h" from its own folder first, so the headers are
# copied and the copy gets our pyconfig.h.
set(velmo_python_headers ${CMAKE_BINARY_DIR}/python-headers)
file(REMOVE_RECURSE ${velmo_python_headers})
file(COPY ${VELMO_PYTHON_INCLUDE_DIR}/ DESTINATION ${velmo_python_headers}
     PATTERN pyconfig.h EXCLUDE
     PATTERN internal EXCLUDE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/pyconfig.h ${velmo_python_headers}/pyconfig.h COPYONLY)

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)
endif()
set(velmo_python3_def ${CMAKE_CURRENT_LIST_DIR}/python3.def)
set(velmo_python3_implib ${CMAKE_BINARY_DIR}/libpython3.dll.a)
add_custom_command(
  OUTPUT ${velmo_python3_implib}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${velmo_python3_def} --dllname python3.dll
          --output-lib ${velmo_python3_implib}
  DEPENDS ${velmo_python3_def}
  COMMENT "Import library for python3.dll"
  VERBATIM)
add_custom_target(velmo_python3_implib DEPENDS ${velmo_python3_implib})
add_library(velmo::python3 SHARED IMPORTED)
set_target_properties(velmo::python3 PROPERTIES
  IMPORTED_IMPLIB ${velmo_python3_implib}
  IMPORTED_LOCATION python3.dll)
add_dependencies(velmo::python3 velmo_python3_implib)
