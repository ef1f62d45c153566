# RE2, the linear-time matcher that searches site texts: Debian's libre2-dev on Linux; for the
# Windows build, the sources of Debian's re2 package (scripts/re2-source fetches them), built
# here as one static library. Either way the target is re2::re2.
if(NOT CMAKE_CROSSCOMPILING)
    find_path(NOVU_RE2_INCLUDE re2/re2.h REQUIRED)
    find_library(NOVU_RE2_LIBRARY re2 REQUIRED)
    add_library(re2::re2 UNKNOWN IMPORTED)
    set_target_properties(re2::re2 PROPERTIES IMPORTED_LOCATION ${NOVU_RE2_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${NOVU_RE2_INCLUDE})
    target_link_libraries(re2::re2 INTERFACE Threads::Threads)
    return()
endif()

set(NOVU_RE2_SOURCE "" CACHE PATH "The unpacked sources of Debian's re2 package, tables made")
if(NOT EXISTS "${NOVU_RE2_SOURCE}/re2/unicode_groups.cc")
    message(FATAL_ERROR "NOVU_RE2_SOURCE must name the sources of re2 (scripts/re2-source)")
endif()
set(re2_files bitstate compile dfa filtered_re2 mimics_pcre nfa onepass parse perl_groups
    prefilter prefilter_tree prog re2 regexp set simplify stringpiece tostring unicode_casefold
    unicode_groups)
list(TRANSFORM re2_files PREPEND ${NOVU_RE2_SOURCE}/re2/)
list(TRANSFORM re2_files APPEND .cc)
add_library(novu_re2 STATIC ${re2_files} ${NOVU_RE2_SOURCE}/util/rune.cc
    ${NOVU_RE2_SOURCE}/util/strutil.cc)
target_include_directories(novu_re2 SYSTEM PUBLIC ${NOVU_RE2_SOURCE})
target_compile_definitions(novu_re2 PRIVATE UNICODE _UNICODE STRICT NOMINMAX)
# Its warnings are not ours to make errors of.
target_compile_options(novu_re2 PRIVATE -w)
set_target_properties(novu_re2 PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
add_library(re2::re2 ALIAS novu_re2)
