# A release signed as a vendor signs it (fixtures/sign_sample.sh): the bare program
# signed, packed, the setup program signed. The signing tool verifies the setup
# program and the uninstaller it carries, by the same signer; the packer verifies it
# and unpacks the same product files as from the unsigned sample, and the signed bare
# program whole as the uninstaller; one changed payload byte is refused. The
# winget manifest the build wrote for it reads back with every field the schema
# requires, in its allowed values, and the file's SHA-256.
# cmake -DPACK=orvand-pack -DOSSLSIGNCODE=osslsigncode -DPYTHON=python3 -DYAML_PYTHON=/usr/bin/python3
#       -DUNSIGNED=install.exe -DSIGNED=install-signed.exe -DSIGNED_BARE=signing/install.exe -DCA=ca.pem
#       -DWINGET=winget -DARCH=x86|x64 -DWORK=folder -P signed_sample.cmake
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

# verify(FILE): the signing tool accepts FILE; its signer goes to signer.
function(verify file)
  run(0 ${OSSLSIGNCODE} verify -CAfile ${CA} -in ${file})
  expect_in("${out}" "Signature verification: ok")
  string(REGEX MATCH "Subject: [^\n]*" subject "${out}")
  set(signer "${subject}" PARENT_SCOPE)
endfunction()
verify(${SIGNED})
set(setup_signer "${signer}")
expect_in("${setup_signer}" "Orvand Test Vendor")
run(0 ${PACK} --verify ${SIGNED})
expect_in("${out}" "digest and 10 entries OK")
expect_in("${out}" "the package is the one its setup program is pinned to")

run(0 ${PACK} --extract ${UNSIGNED} ${WORK}/unsigned)
run(0 ${PACK} --extract ${SIGNED} ${WORK}/signed)
file(GLOB_RECURSE files RELATIVE ${WORK}/unsigned ${WORK}/unsigned/*)
file(GLOB_RECURSE signed_files RELATIVE ${WORK}/signed ${WORK}/signed/*)
list(LENGTH files count)
list(REMOVE_ITEM signed_files temp/uninstaller.exe)
if(NOT count EQUAL 9 OR NOT files STREQUAL signed_files)
  message(FATAL_ERROR "unpacked ${files} from the unsigned sample, ${signed_files} and the uninstaller from the signed one")
endif()
list(REMOVE_ITEM files install.exe)
foreach(name IN LISTS files)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/unsigned/${name} ${WORK}/signed/${name}
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${name} from the signed setup program differs from the unsigned one's")
  endif()
endforeach()
# The stored uninstaller is the bare program as its vendor signed it, by the same signer.
file(SHA256 ${SIGNED_BARE} bare)
file(SHA256 ${WORK}/signed/temp/uninstaller.exe stored)
verify(${WORK}/signed/temp/uninstaller.exe)
if(NOT signer STREQUAL setup_signer OR NOT bare STREQUAL stored)
  message(FATAL_ERROR "the stored uninstaller (${signer}) is not the signed bare program (${setup_signer})")
endif()
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

# One byte of the stored files changed, well in front of the directory and the digest.
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

# The winget manifest, read back with Debian's python3-yaml against the schema's rules.
run(0 sha256sum ${SIGNED})
string(SUBSTRING "${out}" 0 64 sha256)
file(WRITE ${WORK}/check_manifest.py [=[
import re, sys, yaml
folder, arch, sha256 = sys.argv[1:4]
docs = {kind: yaml.safe_load(open(f"{folder}/Orvand.Orvand.{name}yaml", encoding="utf-8"))
        for kind, name in [("version", ""), ("installer", "installer."), ("defaultLocale", "locale.en-US.")]}
url, tag = r"[Hh][Tt][Tt][Pp][Ss]?://.+", r"([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*"
ident = r'[^.\s\\/:*?"<>|\x01-\x1f]{1,32}(\.[^.\s\\/:*?"<>|\x01-\x1f]{1,32}){1,7}'
# Each required field: its rule from the schema (a pattern, the allowed values, or lengths), and the value meant.
common = {"PackageIdentifier": (ident, "Orvand.Orvand"), "PackageVersion": (r'[^\\/:*?"<>|\x01-\x1f]+', "2.2.93"),
          "ManifestVersion": (r"\d+\.\d+\.\d+", "1.6.0")}
required = {"version": {"DefaultLocale": (tag, "en-US"), "ManifestType": ({"version"}, "version")},
            "installer": {"ManifestType": ({"installer"}, "installer"), "InstallerType": (
                {"msix", "msi", "appx", "exe", "zip", "inno", "nullsoft", "wix", "burn", "pwa", "portable"}, "exe"),
                "Scope": ({"user", "machine"}, "machine"),
                "ElevationRequirement": ({"elevationRequired", "elevationProhibited", "elevatesSelf"}, "elevatesSelf")},
            "defaultLocale": {"PackageLocale": (tag, "en-US"), "Publisher": ((2, 256), "Orvand Software"),
                              "PackageName": ((2, 256), "Orvand"), "License": ((3, 512), None),
                              "ShortDescription": ((3, 256), None), "ManifestType": ({"defaultLocale"}, "defaultLocale")}}
installer = docs["installer"]["Installers"][0] if len(docs["installer"].get("Installers") or []) == 1 else {}
required["installers"] = {"Architecture": ({"x86", "x64", "arm", "arm64", "neutral"}, arch),
                          "InstallerUrl": (url, "https://orvand.example/download/install.exe"),
                          "InstallerSha256": ("[A-Fa-f0-9]{64}", sha256)}
problems = []
for kind, doc in list(docs.items()) + [("installers", installer)]:
    for key, (rule, meant) in (required[kind] if kind == "installers" else common | required[kind]).items():
        value = doc.get(key)
        ok = (re.fullmatch(rule, str(value)) if isinstance(rule, str) else value in rule if isinstance(rule, set)
              else rule[0] <= len(str(value)) <= rule[1]) and isinstance(value, str)
        if not ok or (meant is not None and str(value).lower() != meant.lower()):
            problems.append(f"{kind}: {key} is {value!r}")
responses = {"packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse", "missingDependency",
             "diskFull", "insufficientMemory", "invalidParameter", "noNetwork", "contactSupport", "rebootRequiredToFinish",
             "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser", "alreadyInstalled", "downgrade",
             "blockedByPolicy", "systemNotSupported", "custom"}
codes = {c["InstallerReturnCode"]: c["ReturnResponse"] for c in docs["installer"].get("ExpectedReturnCodes", [])}
meant = {"ExpectedReturnCodes": ({3010: "rebootRequiredToFinish", 32: "packageInUse", 1639: "invalidParameter",
                                  1603: "contactSupport"}, codes),
         "InstallerSwitches": ({"Silent": "-silent", "SilentWithProgress": "-silent", "Custom": "-allusers"},
                               {k: docs["installer"]["InstallerSwitches"].get(k) for k in ["Silent", "SilentWithProgress", "Custom"]}),
         "AppsAndFeaturesEntries": ([{"DisplayName": "Orvand", "Publisher": "Orvand Software", "DisplayVersion": "2.2.93",
                                      "ProductCode": "Orvand"}], docs["installer"].get("AppsAndFeaturesEntries"))}
problems += [f"installer: {key} is {got}" for key, (want, got) in meant.items() if want != got]
problems += [f"installer: {r} is no return response" for r in codes.values() if r not in responses]
print("\n".join(problems) or "manifest OK")
sys.exit(1 if problems else 0)
]=])
run(0 ${YAML_PYTHON} ${WORK}/check_manifest.py ${WINGET} ${ARCH} ${sha256})
expect_in("${out}" "manifest OK")
