# Dependencies of the Windows build. Debian ships none of them for MinGW:
# - CLI11 and nlohmann-json are header-only; their headers are copied out of
#   the host's include folder so that no other host header reaches the build.
# - SQLite is compiled from the amalgamation that scripts/build-windows.sh
#   takes from a registry package (BRISKO_SQLITE_SOURCE_DIR).
# - GoogleTest is built from Debian's source package (tests/windows).

set(_host_headers ${CMAKE_BINARY_DIR}/host-headers)
foreach(_lib CLI nlohmann)
    find_path(_dir_${_lib} NAMES ${_lib} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT _dir_${_lib})
        message(FATAL_ERROR "/usr/include/${_lib} is missing: install libcli11-dev and nlohmann-json3-dev")
    endif()
    file(COPY ${_dir_${_lib}}/${_lib} DESTINATION ${_host_headers})
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_host_headers})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_host_headers})

set(BRISKO_SQLITE_SOURCE_DIR "" CACHE PATH "Folder holding sqlite3.c and sqlite3.h")
if(NOT EXISTS "${BRISKO_SQLITE_SOURCE_DIR}/sqlite3.c")
    message(FATAL_ERROR "BRISKO_SQLITE_SOURCE_DIR must hold the SQLite amalgamation "
                        "(scripts/build-windows.sh provides it)")
endif()
add_library(brisko_sqlite3 STATIC ${BRISKO_SQLITE_SOURCE_DIR}/sqlite3.c)
target_include_directories(brisko_sqlite3 SYSTEM PUBLIC ${BRISKO_SQLITE_SOURCE_DIR})
target_compile_definitions(brisko_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(brisko_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS brisko_sqlite3)

# localtime_r and gmtime_r, which the portable code uses.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS=200112L)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501
                        WINVER=0x0501 _WIN32_IE=0x0600)
set(BRISKO_WIN32_LIBS advapi32 shell32 ole32 oleaut32 uuid user32 wininet shlwapi)

# The side of each module that only one platform compiles.
set(BRISKO_SKIP_SOURCES
    "/core/machine/image/|/base/atomic_file\\.|/hive/|/demo/|/core/small_file\\.|/app/cli/(hive|machine|restore_point)_commands\\.cpp|_posix\\.cpp$")
