# MyHTML compiled from its own source with the fuzzing build's instrumentation (sanitizers and
# libFuzzer's coverage), so that the fuzzer sees into the parser and every memory error inside it
# is reported where it happens. Included by the top-level CMakeLists.txt when QUILLORY_FUZZ is on
# and QUILLORY_MYHTML_SOURCE names an unpacked modest source tree (`apt-get source modest`).
#
# It stands in for Debian's libmodest as modest::modest, and it is a shared library like that one:
# the program replaces some MyHTML routines by defining them itself, which works only because the
# library calls them through its symbol table. Only the parts the program reaches are built:
# mycore, myencoding, myhtml and the POSIX port.

enable_language(C)
find_package(Threads REQUIRED)

set(myhtml_root "${QUILLORY_MYHTML_SOURCE}")
if(NOT EXISTS "${myhtml_root}/source/myhtml/tree.c" OR NOT EXISTS "${myhtml_root}/include/myhtml/myhtml.h")
    message(FATAL_ERROR "QUILLORY_MYHTML_SOURCE (${myhtml_root}) is not a modest source tree: "
                        "source/myhtml/tree.c or include/myhtml/myhtml.h is missing")
endif()

file(GLOB myhtml_sources CONFIGURE_DEPENDS
    "${myhtml_root}/source/mycore/*.c"
    "${myhtml_root}/source/mycore/utils/*.c"
    "${myhtml_root}/source/myencoding/*.c"
    "${myhtml_root}/source/myhtml/*.c"
    "${myhtml_root}/source/myport/posix/mycore/*.c"
    "${myhtml_root}/source/myport/posix/mycore/utils/*.c")

add_library(quillory_myhtml SHARED ${myhtml_sources})
target_include_directories(quillory_myhtml SYSTEM PUBLIC "${myhtml_root}/include")
target_include_directories(quillory_myhtml PRIVATE "${myhtml_root}/source")
# The definitions the library's own Makefile passes on Linux.
target_compile_definitions(quillory_myhtml PRIVATE MODEST_BUILD_OS=Linux MODEST_PORT_NAME=posix MyCORE_OS_LINUX)
# Clang inlines a call to a function defined in the same file even in position-independent code,
# which would bypass a replacement the program makes; semantic interposition keeps every call to
# an exported function going through the symbol table, as the GCC-built Debian library does.
# The library's warnings are not ours to fix.
target_compile_options(quillory_myhtml PRIVATE -fsemantic-interposition -w)
target_link_libraries(quillory_myhtml PRIVATE Threads::Threads)

add_library(modest::modest ALIAS quillory_myhtml)
