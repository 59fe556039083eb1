# How the Linux tools link what they depend on.
#
# A run of a tool is short (ovelin -v does next to nothing), so loading
# shared libraries is a large part of it.  With TOOLS_STATIC_DEPENDENCIES
# (the default on Linux) the tools carry libiscsi, SQLite and the C++
# runtime themselves and load the C library alone:
#   - libiscsi.a and libsqlite3.a of Debian's libiscsi-dev and
#     libsqlite3-dev; a security update of either needs a rebuild of the
#     tools (the Debian package names both in Built-Using);
#   - libiscsi without its iSER transport, whose RDMA libraries come only
#     as shared libraries (service_libiscsi/iser_transport_absent.cpp), and
#     with its address lookups kept for the process
#     (service_libiscsi/libiscsi_lookups_kept.cpp);
#   - SQLite with its calls of the C math library renamed, so that the math
#     library is loaded only if a statement ever calls a math function
#     (service_libiscsi/sqlite_math_on_demand.cpp), and without the
#     extensions that it sets up on every connection and the store never
#     uses (full-text search, R-trees, two introspection tables, JSON) and
#     without its JSON and date functions
#     (service_libiscsi/sqlite_extensions_absent.cpp);
#   - libstdc++ and libgcc linked statically into targetlogin, ovelin and
#     tessmark (not into the tests, nor into sanitizer builds, whose runtime
#     replaces the C++ allocation functions).  The tools call nothing of
#     them today (no exceptions, no thread-safe local statics), so nothing
#     of them is linked; the option keeps it so if that changes.
#   - the sections nothing refers to left out, and the relocations that an
#     executable applies to itself at every start packed (a few hundred
#     bytes instead of 48 KB read and applied one by one; they need the C
#     library 2.36 or later, which the executables then name as a version
#     they need, and the package as its dependency).
# Off, the tools link the shared libiscsi, SQLite and C++ runtime.  Windows
# builds have their own settings (the executables carry the C++ runtime).
if(WIN32)
  set(TOOLS_STATIC_DEPENDENCIES OFF)
else()
  option(TOOLS_STATIC_DEPENDENCIES
         "Linux: link libiscsi, SQLite and the C++ runtime into the tools (they then load the C library alone)"
         ON)
endif()

# The math functions Debian's SQLite calls (its SQL math functions).  A
# function missing here would bring the math library back as a dependency:
# packaging/tests/check_deb.sh fails then, and the name is added here and in
# service_libiscsi/sqlite_math_on_demand.cpp.
set(TOOLS_SQLITE_MATH_UNARY acos acosh asin asinh atan atanh ceil cos cosh exp floor log log10
    log2 sin sinh sqrt tan tanh trunc)
set(TOOLS_SQLITE_MATH_BINARY atan2 fmod pow)
# SQLite's set-up routines of the extensions and built-in functions the store
# does without; each is renamed to tools_sqlite_without_NAME, which registers
# nothing.
set(TOOLS_SQLITE_WITHOUT sqlite3Fts3Init sqlite3Fts5Init sqlite3RtreeInit sqlite3DbstatRegister
    sqlite3StmtVtabInit sqlite3JsonTableFunctions sqlite3RegisterJsonFunctions
    sqlite3RegisterDateTimeFunctions)

# Defines the imported static library NAME: a copy of archive (made in the
# build folder) whose symbols are renamed by renames, objcopy's lines "OLD
# NEW", with the headers of include.
function(tools_renamed_archive name archive include renames comment)
  set(rename_file ${CMAKE_BINARY_DIR}/${name}_renames.txt)
  file(WRITE ${rename_file} "${renames}")
  set(renamed ${CMAKE_BINARY_DIR}/lib${name}.a)
  add_custom_command(OUTPUT ${renamed}
    COMMAND ${TOOLS_OBJCOPY} --redefine-syms=${rename_file} ${archive} ${renamed}
    DEPENDS ${archive} ${rename_file}
    COMMENT "${comment}"
    VERBATIM)
  add_custom_target(${name}_archive DEPENDS ${renamed})
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${renamed}
                                           INTERFACE_INCLUDE_DIRECTORIES ${include})
  add_dependencies(${name} ${name}_archive)
endfunction()

# Defines the imported targets tools_libiscsi and tools_sqlite3: the static
# archives (SQLite's with its math calls renamed) or the shared libraries.
function(tools_find_service_libraries)
  if(TARGET tools_libiscsi)
    return()
  endif()
  if(NOT TOOLS_STATIC_DEPENDENCIES)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LIBISCSI REQUIRED IMPORTED_TARGET GLOBAL libiscsi)
    pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET GLOBAL sqlite3)
    add_library(tools_libiscsi INTERFACE IMPORTED GLOBAL)
    target_link_libraries(tools_libiscsi INTERFACE PkgConfig::LIBISCSI)
    add_library(tools_sqlite3 INTERFACE IMPORTED GLOBAL)
    target_link_libraries(tools_sqlite3 INTERFACE PkgConfig::SQLITE3)
    return()
  endif()

  find_path(TOOLS_LIBISCSI_INCLUDE iscsi/iscsi.h REQUIRED)
  find_path(TOOLS_SQLITE3_INCLUDE sqlite3.h REQUIRED)
  find_library(TOOLS_LIBISCSI_ARCHIVE NAMES libiscsi.a REQUIRED)
  find_library(TOOLS_SQLITE3_ARCHIVE NAMES libsqlite3.a REQUIRED)
  find_program(TOOLS_OBJCOPY NAMES objcopy REQUIRED)

  # libiscsi's archive, its address lookups renamed to tools_iscsi_NAME.
  tools_renamed_archive(tools_libiscsi ${TOOLS_LIBISCSI_ARCHIVE} ${TOOLS_LIBISCSI_INCLUDE}
    "getaddrinfo tools_iscsi_getaddrinfo\nfreeaddrinfo tools_iscsi_freeaddrinfo\n"
    "libiscsi's archive with its address lookups kept for the process")

  # SQLite's archive, its math calls renamed to tools_sqlite_NAME and the
  # extensions' set-up routines to tools_sqlite_without_NAME.
  set(renames "")
  foreach(name IN LISTS TOOLS_SQLITE_MATH_UNARY TOOLS_SQLITE_MATH_BINARY)
    string(APPEND renames "${name} tools_sqlite_${name}\n")
  endforeach()
  foreach(name IN LISTS TOOLS_SQLITE_WITHOUT)
    string(APPEND renames "${name} tools_sqlite_without_${name}\n")
  endforeach()
  tools_renamed_archive(tools_sqlite3 ${TOOLS_SQLITE3_ARCHIVE} ${TOOLS_SQLITE3_INCLUDE} "${renames}"
    "SQLite's archive with its math calls made on demand and without extensions")

  # The archives use dlopen (SQLite), threads and semaphores (libiscsi):
  # all in the C library.
  find_package(Threads REQUIRED)
  set_property(TARGET tools_libiscsi APPEND PROPERTY INTERFACE_LINK_LIBRARIES Threads::Threads)
  set_property(TARGET tools_sqlite3 APPEND PROPERTY INTERFACE_LINK_LIBRARIES Threads::Threads
                                                                              ${CMAKE_DL_LIBS})
endfunction()

# The release executables: the C++ runtime linked in, and only the shared
# libraries they use recorded as needed.
function(tools_link_runtime target)
  if(NOT TOOLS_STATIC_DEPENDENCIES OR TOOLS_SANITIZE)
    return()
  endif()
  target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed
                      LINKER:--gc-sections LINKER:-z,pack-relative-relocs)
endfunction()

# tessmark calls nothing of the C library that loads code or data at run
# time (no name service, no locale files, no dlopen): it is linked wholly
# statically, as a static position-independent executable, and loads
# nothing at all.  A security update of the C library then needs a rebuild
# of it too.  The link leaves out the sections nothing refers to and packs
# the relocations that the executable applies to itself at every start (a
# third smaller: 2.4 to 1.7 MB).
function(tools_link_standalone target)
  if(NOT TOOLS_STATIC_DEPENDENCIES OR TOOLS_SANITIZE)
    return()
  endif()
  target_link_options(${target} PRIVATE -static-pie LINKER:--gc-sections
                      LINKER:-z,pack-relative-relocs)
endfunction()

# Code layout.  A run of targetlogin executes about a quarter of its code
# (240 of 820 KB), and that quarter is spread over all of it: SQLite and
# libiscsi come as archives of whole objects, each a single section of hot
# and cold functions.  The kernel maps 64 KiB of the executable around each
# page fault, so the whole text ended up resident and every run paid a fault
# for each 64 KiB.  With TOOLS_CODE_LAYOUT, targetlogin is linked with its
# relocations kept and then rewritten by llvm-bolt (LLVM's post-link
# optimizer, Debian's bolt-15) after the profile targetlogin/code_layout.fdata
# (recorded by bash bench/run.sh --record-layout): the executed functions,
# and their executed blocks, come first and together; the rest follows.  The
# instructions and data stay what they were; the rewritten executable has no
# debug information (-DTOOLS_CODE_LAYOUT=OFF for a debugging build).  The
# linker's output stays beside it as NAME.linked, and NAME.layout.log says
# how much of the profile still matches the code.
if(TOOLS_STATIC_DEPENDENCIES AND NOT TOOLS_SANITIZE)
  find_program(TOOLS_LLVM_BOLT NAMES llvm-bolt PATHS /usr/lib/llvm-15/bin NO_DEFAULT_PATH)
  find_program(TOOLS_LLVM_BOLT NAMES llvm-bolt-15 llvm-bolt)
  set(layout_default OFF)
  if(TOOLS_LLVM_BOLT)
    set(layout_default ON)
  endif()
  option(TOOLS_CODE_LAYOUT "Lay out targetlogin's code after its recorded profile (llvm-bolt)"
         ${layout_default})
  if(TOOLS_CODE_LAYOUT AND NOT TOOLS_LLVM_BOLT)
    message(FATAL_ERROR "TOOLS_CODE_LAYOUT needs llvm-bolt (Debian's bolt-15)")
  endif()
  if(NOT TOOLS_CODE_LAYOUT)
    message(STATUS "targetlogin keeps the linker's code layout (no llvm-bolt: install bolt-15)")
  endif()
else()
  set(TOOLS_CODE_LAYOUT OFF)
endif()

# Lays out target's code after profile (see above).
function(tools_lay_out_code target profile)
  if(NOT TOOLS_CODE_LAYOUT)
    return()
  endif()
  target_link_options(${target} PRIVATE LINKER:--emit-relocs)
  if(EXISTS ${profile})  # relinked when the profile changes
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${profile})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.linked
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/lay_out_code.sh ${TOOLS_LLVM_BOLT}
            $<TARGET_FILE:${target}>.linked $<TARGET_FILE:${target}> ${profile}
    COMMENT "Laying out the code of ${target} after its profile"
    VERBATIM)
endfunction()
