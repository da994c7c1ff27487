# The packer end to end: pack, verify, list, extract byte for byte, repack the
# same bytes with any number of jobs, the same with --best (when built with zopfli), and refuse bad input with a message and a
# non-zero exit: a bare program that holds a package, a manifest for no setup program.
# cmake -DPACK=orvand-pack -DWORK=folder -DBEST=ON|OFF -P pack_roundtrip.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/src/data ${WORK}/src/temp)
set(exe ${PACK})

function(run expected_rc)
  execute_process(COMMAND ${PACK} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "orvand-pack ${ARGN}: exit ${rc}, expected ${expected_rc}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/expect_in.cmake)

# Sources: text, a file larger than one 64 KiB block, an empty file, a name with a blank,
# and a larger file late in the list (compressed first, written in its place).
string(REPEAT "Orvand knows many words. " 8000 big)
file(WRITE ${WORK}/src/big.txt "${big}")
string(RANDOM LENGTH 4096 RANDOM_SEED 7 noise)
string(REPEAT "${noise}" 90 bigger)
file(WRITE ${WORK}/src/data/brains.db "${bigger}")
file(WRITE ${WORK}/src/data/orvand.dic "hello=greeting\n")
file(WRITE ${WORK}/src/data/empty.db "")
file(WRITE "${WORK}/src/data/read me.htm" "<html></html>\n")
# Setup runs an installer only on a digest the package vouches for: each is listed.
set(listed "")
foreach(name MSagent.exe spchapi.exe tv_enua.exe lhttseng.exe)
  string(APPEND listed "<file name=\"${name}\" MD5=\"900150983CD24FB0D6963F7D28E17F72\"/>")
endforeach()
file(WRITE ${WORK}/src/temp/setup.xml
  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><setup><filesMD5List>${listed}</filesMD5List></setup>\n")
file(WRITE ${WORK}/src/sample.manifest
  "# folder  name  source  [plain]\n"
  ".\\ orvand.exe big.txt\n"
  "\n"
  ".\\data\\ orvand.dic data/orvand.dic plain\n"
  ".\\data\\ empty.db data/empty.db\n"
  ".\\data\\ \"read me.htm\" \"data/read me.htm\"\r\n"
  ".\\data\\ brains.db data/brains.db\n"
  ".\\temp\\ setup.xml temp/setup.xml\n")

run(0 -o ${WORK}/setup.exe ${exe} ${WORK}/src/sample.manifest)
run(0 --verify ${WORK}/setup.exe)
expect_in("${out}" "digest and 7 entries OK")
run(0 --list ${WORK}/setup.exe)
foreach(line "0   .\\           install.exe" "orvand.exe" "plain" ".\\data\\      read me.htm" ".\\temp\\      setup.xml"
             "7 entries")
  expect_in("${out}" "${line}")
endforeach()
set(sample_files "install.exe=${exe}" "orvand.exe=${WORK}/src/big.txt" "data/orvand.dic=${WORK}/src/data/orvand.dic"
  "data/empty.db=${WORK}/src/data/empty.db" "data/read me.htm=${WORK}/src/data/read me.htm"
  "data/brains.db=${WORK}/src/data/brains.db" "temp/setup.xml=${WORK}/src/temp/setup.xml")
# expect_extracted(SETUP NAME=SOURCE...): SETUP extracts, each entry byte for byte as its source.
function(expect_extracted setup)
  file(REMOVE_RECURSE ${WORK}/out)
  run(0 --extract ${setup} ${WORK}/out)
  foreach(pair ${ARGN})
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 source)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/out/${name}" "${source}" RESULT_VARIABLE differ)
    if(differ)
      message(FATAL_ERROR "${name} in ${setup} differs from ${source} after the round trip")
    endif()
  endforeach()
endfunction()
expect_extracted(${WORK}/setup.exe ${sample_files})

# The setup program begins with the bare program, byte for byte (it has no PE
# header whose signature fields would be zeroed) but for the package pin after
# its marker, which the packer fills (the packer, standing in for the program,
# carries one), and ends at a multiple of 8, where a signing tool starts its table.
file(SIZE ${WORK}/setup.exe setup_size)
math(EXPR misaligned "${setup_size} % 8")
if(NOT misaligned EQUAL 0)
  message(FATAL_ERROR "the setup program is ${setup_size} bytes long, not a multiple of 8")
endif()
file(SIZE ${exe} exe_size)
file(READ ${WORK}/setup.exe head LIMIT ${exe_size} HEX)
file(READ ${exe} whole HEX)
string(FIND "${whole}" "9a4f7276616e642070696e00c35e17e2" at)
math(EXPR pin "${at} + 32")
string(SUBSTRING "${head}" ${pin} 32 filled)
string(SUBSTRING "${whole}" ${pin} 32 bare)
string(REPLACE "${filled}" "${bare}" head "${head}")
if(at LESS 0 OR filled STREQUAL bare OR NOT head STREQUAL whole)
  message(FATAL_ERROR "the setup program does not start with the bare install.exe and its pin filled")
endif()
run(0 --verify ${WORK}/setup.exe)
expect_in("${out}" "the package is the one its setup program is pinned to")

# Same input, same bytes: again, and file by file (one job) or several at once.
file(SHA256 ${WORK}/setup.exe first)
foreach(jobs "" "--jobs;1" "-j;2" "--jobs;5")
  file(REMOVE ${WORK}/again.exe)
  run(0 ${jobs} -o ${WORK}/again.exe ${exe} ${WORK}/src/sample.manifest)
  file(SHA256 ${WORK}/again.exe second)
  if(NOT first STREQUAL second)
    message(FATAL_ERROR "packing again with options '${jobs}' gave different bytes")
  endif()
  file(GLOB leftovers ${WORK}/again.exe.*)
  if(leftovers)
    message(FATAL_ERROR "packing left ${leftovers}")
  endif()
endforeach()

# --best: zopfli's streams for the same reader, the same bytes for any number of
# jobs. One file spans two of zopfli's parts and repeats within the 32 KiB window,
# so that matches reach back across the boundary.
string(RANDOM LENGTH 20000 RANDOM_SEED 11 phrase)
string(REPEAT "${phrase}" 53 long)
file(WRITE ${WORK}/src/data/long.txt "${long}")
file(READ ${WORK}/src/sample.manifest manifest)
file(WRITE ${WORK}/src/best.manifest "${manifest}" ".\\data\\ long.txt data/long.txt\n")
if(BEST)
  run(0 --best --jobs 1 -o ${WORK}/best-1.exe ${exe} ${WORK}/src/best.manifest)
  expect_in("${err}" "100 %")
  run(0 --best --jobs 3 -o ${WORK}/best-3.exe ${exe} ${WORK}/src/best.manifest)
  file(SHA256 ${WORK}/best-1.exe first)
  file(SHA256 ${WORK}/best-3.exe second)
  if(NOT first STREQUAL second)
    message(FATAL_ERROR "--best with 1 and 3 jobs gave different bytes")
  endif()
  run(0 --verify ${WORK}/best-3.exe)
  expect_in("${out}" "digest and 8 entries OK")
  expect_extracted(${WORK}/best-3.exe ${sample_files} "data/long.txt=${WORK}/src/data/long.txt")
  # zopfli must have made them: smaller than level 9 of the same files.
  run(0 -o ${WORK}/level9.exe ${exe} ${WORK}/src/best.manifest)
  file(SIZE ${WORK}/level9.exe level9_size)
  file(SIZE ${WORK}/best-3.exe best_size)
  if(NOT best_size LESS level9_size)
    message(FATAL_ERROR "--best gave ${best_size} bytes, level 9 ${level9_size}")
  endif()
  run(2 --best --store -o ${WORK}/bad.exe ${exe} ${WORK}/src/sample.manifest)
  expect_in("${err}" "exclude each other")
else()
  run(2 --best -o ${WORK}/bad.exe ${exe} ${WORK}/src/best.manifest)
  expect_in("${err}" "built without zopfli")
endif()

# Refusals: each leaves no output file behind.
function(refuse message)
  file(WRITE ${WORK}/bad.manifest ${ARGN})
  file(REMOVE ${WORK}/bad.exe)
  run(1 -o ${WORK}/bad.exe ${exe} ${WORK}/bad.manifest)
  expect_in("${err}" "${message}")
  file(GLOB leftovers ${WORK}/bad.exe*)
  if(leftovers)
    message(FATAL_ERROR "a refused package left ${leftovers}")
  endif()
endfunction()
set(setup ".\\temp\\ setup.xml ${WORK}/src/temp/setup.xml\n")
refuse("no \"setup.xml\" in \".\\temp\\\"" ".\\ orvand.exe ${WORK}/src/big.txt\n")
refuse("no \"setup.xml\" in \".\\temp\\\"" ".\\ setup.xml ${WORK}/src/temp/setup.xml\n")
refuse("is in the package twice" "${setup}" ".\\ a.txt ${WORK}/src/big.txt\n" ".\\data\\ A.TXT ${WORK}/src/big.txt\n")
refuse("is in the package twice" "${setup}" ".\\ install.exe ${WORK}/src/big.txt\n")
refuse("is not of the form" "${setup}" ".\\data\\sub\\ a.txt ${WORK}/src/big.txt\n")
refuse("is not of the form" "${setup}" "data\\ a.txt ${WORK}/src/big.txt\n")
refuse("is not of the form" "${setup}" ".\\..\\ a.txt ${WORK}/src/big.txt\n")
string(REPEAT "n" 64 long_name)
refuse("has 64 characters" "${setup}" ".\\ ${long_name} ${WORK}/src/big.txt\n")
refuse("Cannot open file" "${setup}" ".\\ gone.txt ${WORK}/src/missing.txt\n")
refuse("expected FOLDER NAME SOURCE" "${setup}" ".\\ a.txt\n")
set(many "${setup}")
foreach(i RANGE 1 63)
  string(APPEND many ".\\ f${i}.txt ${WORK}/src/data/orvand.dic\n")
endforeach()
refuse("at most 64 files" "${many}")
string(REPLACE "<file name=\"tv_enua.exe\"" "<file name=\"tv_enua.ex\"" partial "${listed}")
file(WRITE ${WORK}/src/temp/partial.xml "<setup><filesMD5List>${partial}</filesMD5List></setup>")
refuse("no valid MD5 digest for \"tv_enua.exe\"" ".\\temp\\ setup.xml ${WORK}/src/temp/partial.xml\n")
file(WRITE ${WORK}/carried.manifest ".\\temp\\ setup.xml ${WORK}/src/temp/partial.xml\n"
  ".\\temp\\ TV_ENUA.EXE ${WORK}/src/big.txt\n")
run(0 -o ${WORK}/carried.exe ${exe} ${WORK}/carried.manifest)

# A setup program is no bare program: its uninstaller would carry the whole package.
run(1 -o ${WORK}/bad.exe ${WORK}/setup.exe ${WORK}/src/sample.manifest)
expect_in("${err}" "holds a package already")
# A manifest needs a web address, a whole setup program and a version resource; refused, it writes nothing.
run(2 --manifest ${WORK}/winget ${WORK}/setup.exe)
expect_in("${err}" "needs --url")
run(1 --manifest ${WORK}/winget --url "ftp://orvand.example/setup.exe" ${WORK}/setup.exe)
expect_in("${err}" "must begin with http:// or https://")
run(1 --manifest ${WORK}/winget --url "https://orvand.example/a setup.exe" ${WORK}/setup.exe)
expect_in("${err}" "hold no blanks")
run(1 --manifest ${WORK}/winget --url https://orvand.example/setup.exe ${WORK}/src/big.txt)
expect_in("${err}" "digest does not match")
run(1 --manifest ${WORK}/winget --url https://orvand.example/setup.exe ${WORK}/setup.exe)
expect_in("${err}" "no version resource")
if(EXISTS ${WORK}/winget)
  message(FATAL_ERROR "a refused manifest left ${WORK}/winget")
endif()

run(0 --help)
expect_in("${out}" "Usage: orvand-pack")
run(2 --frobnicate)
foreach(jobs 0 -1 two "")
  run(2 --jobs ${jobs} -o ${WORK}/bad.exe ${exe} ${WORK}/src/sample.manifest)
  expect_in("${err}" "needs a number")
endforeach()
run(2 --list)
run(1 --list ${WORK}/src/data/empty.db)
expect_in("${err}" "damaged")
run(1 --verify ${WORK}/src/big.txt)
expect_in("${err}" "the digest does not match")
