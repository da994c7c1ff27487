# A setup program signed after packing: the signing tool verifies it, the packer
# verifies it and unpacks the same files as from the unsigned one, the setup
# program inside comes out unsigned, and one changed payload byte is refused.
# cmake -DPACK=orvand-pack -DOSSLSIGNCODE=osslsigncode -DPYTHON=python3 -DUNSIGNED=install.exe
#       -DSIGNED=install-signed.exe -DCA=ca.pem -DWORK=folder -P signed_sample.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run expected_rc)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "${ARGN}: exit ${rc}, expected ${expected_rc}\n${out}${err}")
  endif()
  set(out "${out}${err}" PARENT_SCOPE)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/expect_in.cmake)

# The package ends at a multiple of 8, so the table follows it with no padding between.
file(SIZE ${UNSIGNED} unsigned_size)
file(SIZE ${SIGNED} signed_size)
math(EXPR misaligned "${unsigned_size} % 8")
if(NOT misaligned EQUAL 0 OR NOT signed_size GREATER unsigned_size)
  message(FATAL_ERROR "unsigned ${unsigned_size} bytes, signed ${signed_size} bytes")
endif()

run(0 ${OSSLSIGNCODE} verify -CAfile ${CA} -in ${SIGNED})
expect_in("${out}" "Signature verification: ok")
run(0 ${PACK} --verify ${SIGNED})
expect_in("${out}" "digest and 9 entries OK")
expect_in("${out}" "the package is the one its setup program is pinned to")

run(0 ${PACK} --extract ${UNSIGNED} ${WORK}/unsigned)
run(0 ${PACK} --extract ${SIGNED} ${WORK}/signed)
file(GLOB_RECURSE files RELATIVE ${WORK}/unsigned ${WORK}/unsigned/*)
list(LENGTH files count)
if(NOT count EQUAL 9)
  message(FATAL_ERROR "${count} files unpacked: ${files}")
endif()
foreach(name IN LISTS files)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/unsigned/${name} ${WORK}/signed/${name}
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${name} from the signed setup program differs from the unsigned one's")
  endif()
endforeach()
# The uninstaller copy is the program as packed, its package pin zeroed again: not
# the signed file's head.
file(SIZE ${WORK}/signed/install.exe exe_size)
file(READ ${WORK}/signed/install.exe copy HEX)
file(READ ${UNSIGNED} packed LIMIT ${exe_size} HEX)
file(READ ${SIGNED} signed_head LIMIT ${exe_size} HEX)
string(FIND "${packed}" "9a4f7276616e642070696e00c35e17e2" at)
math(EXPR pin "${at} + 32")
string(SUBSTRING "${packed}" ${pin} 32 filled)
string(REPLACE "${filled}" "00000000000000000000000000000000" packed "${packed}")
if(at LESS 0 OR NOT copy STREQUAL packed OR copy STREQUAL signed_head)
  message(FATAL_ERROR "the extracted install.exe is not the program as packed")
endif()

# One byte of the stored files changed (the directory and the digest take the last 1,273 bytes).
file(COPY_FILE ${SIGNED} ${WORK}/changed.exe)
math(EXPR at "${unsigned_size} - 4000")
# (No semicolons: CMake would split the program at them.)
run(0 ${PYTHON} -c "import sys\nwith open(sys.argv[1], 'r+b') as f:\n f.seek(int(sys.argv[2]))\n b = f.read(1)\n f.seek(-1, 1)\n f.write(bytes([b[0] ^ 0x20]))"
    ${WORK}/changed.exe ${at})
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SIGNED} ${WORK}/changed.exe RESULT_VARIABLE differ)
if(NOT differ)
  message(FATAL_ERROR "the byte was not changed")
endif()
run(1 ${PACK} --verify ${WORK}/changed.exe)
expect_in("${out}" "the digest does not match")
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${CA} -in ${WORK}/changed.exe RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  message(FATAL_ERROR "osslsigncode accepted the changed file: the signature does not cover the package")
endif()
