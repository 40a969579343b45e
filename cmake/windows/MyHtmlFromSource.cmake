# MyHTML for the Windows build, compiled here from its source as a static library (scripts/build-windows.sh names
# the source: QUILLORY_MYHTML_ARCHIVE, modest's .orig.tar.xz, or QUILLORY_MYHTML_SOURCE, an unpacked tree).
#
# The program defines some of MyHTML's own routines. On Linux they take the place of the shared library's through
# its symbol table; a static library on Windows gives no such thing, and a call made inside the file that defines
# a routine would still reach the library's copy. So the library's definitions of those routines are renamed
# NAME_myhtml before it is compiled (rename-myhtml-routines.py, which reads the routines from html/MyHtmlParser.cpp):
# every call in the library then reaches the program's, and the program reaches the library's as NAME_myhtml.
enable_language(C)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QUILLORY_MYHTML_ARCHIVE "" CACHE FILEPATH "modest's source archive (modest_*.orig.tar.xz)")
set(myhtml_unpacked ${CMAKE_BINARY_DIR}/myhtml-source)
set(myhtml_root ${CMAKE_BINARY_DIR}/myhtml-renamed)
set(myhtml_table ${PROJECT_SOURCE_DIR}/html/MyHtmlParser.cpp)
set(myhtml_script ${CMAKE_CURRENT_LIST_DIR}/rename-myhtml-routines.py)

if(QUILLORY_MYHTML_SOURCE)
    set(myhtml_original ${QUILLORY_MYHTML_SOURCE})
elseif(QUILLORY_MYHTML_ARCHIVE)
    if(NOT EXISTS ${myhtml_unpacked}/source/myhtml/tree.c)
        file(REMOVE_RECURSE ${myhtml_unpacked} ${myhtml_unpacked}.tmp)
        file(ARCHIVE_EXTRACT INPUT ${QUILLORY_MYHTML_ARCHIVE} DESTINATION ${myhtml_unpacked}.tmp)
        file(GLOB top ${myhtml_unpacked}.tmp/*)
        file(RENAME ${top} ${myhtml_unpacked})
        file(REMOVE_RECURSE ${myhtml_unpacked}.tmp)
    endif()
    set(myhtml_original ${myhtml_unpacked})
else()
    message(FATAL_ERROR "The Windows build compiles MyHTML from source: set QUILLORY_MYHTML_ARCHIVE to modest's "
                        ".orig.tar.xz or QUILLORY_MYHTML_SOURCE to an unpacked modest tree (scripts/build-windows.sh "
                        "does this)")
endif()
if(NOT EXISTS ${myhtml_original}/source/myhtml/tree.c)
    message(FATAL_ERROR "${myhtml_original} is not a modest source tree")
endif()

# Renamed anew whenever the program's list of routines changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${myhtml_table} ${myhtml_script})
execute_process(COMMAND ${Python3_EXECUTABLE} ${myhtml_script} ${myhtml_original} ${myhtml_root} ${myhtml_table}
                RESULT_VARIABLE renamed OUTPUT_QUIET)
if(NOT renamed EQUAL 0)
    message(FATAL_ERROR "Renaming MyHTML's replaced routines failed")
endif()

file(GLOB myhtml_sources
    ${myhtml_root}/source/mycore/*.c
    ${myhtml_root}/source/mycore/utils/*.c
    ${myhtml_root}/source/myencoding/*.c
    ${myhtml_root}/source/myhtml/*.c
    ${myhtml_root}/source/myport/windows_nt/mycore/*.c
    ${myhtml_root}/source/myport/windows_nt/mycore/utils/*.c)
add_library(quillory_myhtml STATIC ${myhtml_sources})
target_include_directories(quillory_myhtml SYSTEM PUBLIC ${myhtml_root}/include)
target_include_directories(quillory_myhtml PRIVATE ${myhtml_root}/source)
target_compile_definitions(quillory_myhtml PUBLIC MyCORE_OS_WINDOWS_NT
                           PRIVATE MODEST_BUILD_OS=Windows_NT MODEST_PORT_NAME=windows_nt)
# The library's warnings are not ours to fix.
target_compile_options(quillory_myhtml PRIVATE -std=c99 -O2 -w)
add_library(modest::modest ALIAS quillory_myhtml)
