# A release signed as a vendor signs it (fixtures/sign_sample.sh): the bare program
# signed, packed, the setup program signed. The signing tool verifies the setup
# program and the uninstaller it carries, by the same signer; the packer verifies it
# and unpacks the same product files as from the unsigned sample, the uninstaller
# whole and the program part unsigned; one changed payload byte is refused. The
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
# The uninstaller is the bare program as its vendor signed it, byte for byte, by the
# same signer; the program part is no signed program.
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SIGNED_BARE} ${WORK}/signed/temp/uninstaller.exe
                RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "the stored uninstaller is not the signed bare program")
endif()
verify(${WORK}/signed/temp/uninstaller.exe)
if(NOT signer STREQUAL setup_signer)
  message(FATAL_ERROR "the uninstaller's ${signer} is not the setup program's ${setup_signer}")
endif()
execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${CA} -in ${WORK}/signed/install.exe RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  message(FATAL_ERROR "the program part carries a signature")
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
def load(name):
    with open(f"{folder}/Orvand.Orvand.{name}yaml", encoding="utf-8") as f:
        return yaml.safe_load(f)
version, installer, locale = load(""), load("installer."), load("locale.en-US.")
problems = []
def check(what, ok):
    if not ok:
        problems.append(what)
def required(doc, keys, kind):
    for key in keys:
        check(f"{kind}: {key} is missing", key in doc)
    check(f"{kind}: ManifestType {doc.get('ManifestType')}", doc.get("ManifestType") == kind)
    check(f"{kind}: ManifestVersion {doc.get('ManifestVersion')}", doc.get("ManifestVersion") == "1.6.0")
    check(f"{kind}: PackageIdentifier", re.fullmatch(r'[^.\s\\/:*?"<>|\x01-\x1f]{1,32}(\.[^.\s\\/:*?"<>|\x01-\x1f]{1,32}){1,7}',
                                                    str(doc.get("PackageIdentifier"))))
    check(f"{kind}: PackageVersion {doc.get('PackageVersion')!r}", doc.get("PackageVersion") == "2.2.93")
url = re.compile(r"[Hh][Tt][Tt][Pp][Ss]?://.+")
locale_tag = re.compile(r"([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*")
required(version, ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"], "version")
check("version: DefaultLocale", locale_tag.fullmatch(str(version.get("DefaultLocale"))))
required(installer, ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"], "installer")
required(locale, ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName", "License",
                  "ShortDescription", "ManifestType", "ManifestVersion"], "defaultLocale")
check("the three files name one package", version.get("PackageIdentifier") == installer.get("PackageIdentifier")
      == locale.get("PackageIdentifier") == "Orvand.Orvand")
check("defaultLocale: PackageLocale", locale.get("PackageLocale") == version.get("DefaultLocale")
      and locale_tag.fullmatch(str(locale.get("PackageLocale"))))
for key, least, most in [("Publisher", 2, 256), ("PackageName", 2, 256), ("License", 3, 512), ("ShortDescription", 3, 256)]:
    check(f"defaultLocale: {key} length", least <= len(str(locale.get(key))) <= most)
check("defaultLocale: Publisher", locale.get("Publisher") == "Orvand Software")
check("defaultLocale: PublisherUrl", locale.get("PublisherUrl") == "http://www.orvand.example/")
installers = installer.get("Installers") or []
check("installer: one installer", len(installers) == 1)
for entry in installers:
    for key in ["Architecture", "InstallerUrl", "InstallerSha256"]:
        check(f"installer: Installers: {key} is missing", key in entry)
    check("installer: Architecture", entry.get("Architecture") in ["x86", "x64", "arm", "arm64", "neutral"]
          and entry.get("Architecture") == arch)
    check("installer: InstallerUrl", url.fullmatch(str(entry.get("InstallerUrl")))
          and entry.get("InstallerUrl") == "https://orvand.example/download/install.exe")
    check(f"installer: InstallerSha256 {entry.get('InstallerSha256')} is not sha256sum's {sha256}",
          re.fullmatch("[A-Fa-f0-9]{64}", str(entry.get("InstallerSha256")))
          and str(entry.get("InstallerSha256")).lower() == sha256.lower())
check("installer: InstallerType", installer.get("InstallerType") == "exe")
check("installer: Scope", installer.get("Scope") == "machine")
check("installer: ElevationRequirement", installer.get("ElevationRequirement") == "elevatesSelf")
check("installer: InstallModes", set(installer.get("InstallModes", [])) <= {"interactive", "silent", "silentWithProgress"})
switches = installer.get("InstallerSwitches", {})
check("installer: switches", switches.get("Silent") == "-silent" and switches.get("SilentWithProgress") == "-silent"
      and switches.get("Custom") == "-allusers")
responses = {"packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse", "missingDependency",
             "diskFull", "insufficientMemory", "invalidParameter", "noNetwork", "contactSupport", "rebootRequiredToFinish",
             "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser", "alreadyInstalled", "downgrade",
             "blockedByPolicy", "systemNotSupported", "custom"}
codes = {c.get("InstallerReturnCode"): c.get("ReturnResponse") for c in installer.get("ExpectedReturnCodes", [])}
check(f"installer: ExpectedReturnCodes {codes}", codes == {3010: "rebootRequiredToFinish", 32: "packageInUse",
                                                           1639: "invalidParameter", 1603: "contactSupport"}
      and set(codes.values()) <= responses)
check("installer: AppsAndFeaturesEntries", installer.get("AppsAndFeaturesEntries") == [
    {"DisplayName": "Orvand", "Publisher": "Orvand Software", "DisplayVersion": "2.2.93", "ProductCode": "Orvand"}])
print("\n".join(problems) or "manifest OK")
sys.exit(1 if problems else 0)
]=])
run(0 ${YAML_PYTHON} ${WORK}/check_manifest.py ${WINGET} ${ARCH} ${sha256})
expect_in("${out}" "manifest OK")
