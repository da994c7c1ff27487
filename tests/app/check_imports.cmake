# Fails unless every DLL that EXE imports is one Windows loads from the system folder
# whatever lies beside the program (a KnownDLL, or comctl32 through side-by-side), and
# unless its manifest asks for elevation, names the supported systems and the
# version-6 common controls, speaks UTF-8 through the "A" calls and scales by the system DPI.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(allowed kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll comdlg32.dll
    shlwapi.dll msvcrt.dll comctl32.dll)
set(bad "")
set(seen "")
foreach(line IN LISTS lines)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  list(APPEND seen ${dll})
  list(FIND allowed ${dll} found)
  if(found EQUAL -1)
    list(APPEND bad ${dll})
  endif()
endforeach()
if(NOT seen)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
if(bad)
  message(FATAL_ERROR "imports that a DLL beside the program could stand in for: ${bad}")
endif()
execute_process(COMMAND file -b ${EXE} OUTPUT_VARIABLE kind)
if(PROCESSOR STREQUAL "x86_64")
  set(wanted "PE32\\+ executable \\(GUI\\) x86-64")
else()
  # What ships: a 32-bit program.
  set(wanted "PE32 executable \\(GUI\\) Intel 80386")
endif()
if(NOT kind MATCHES "${wanted}")
  message(FATAL_ERROR "not a ${PROCESSOR} GUI program: ${kind}")
endif()

# The manifest resource is stored as its UTF-8 text.
file(STRINGS ${EXE} manifest REGEX "requestedExecutionLevel|supportedOS|activeCodePage|dpiAware|Microsoft.Windows.Common-Controls|version=\"6")
string(JOIN "\n" manifest ${manifest})
set(wanted_in_manifest
  "level=\"requireAdministrator\""
  "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"  # Windows 7
  "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"  # Windows 8
  "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"  # Windows 8.1
  "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"  # Windows 10 and 11
  "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""
  "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>"
  "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>")
foreach(item IN LISTS wanted_in_manifest)
  string(FIND "${manifest}" "${item}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the manifest lacks ${item}:\n${manifest}")
  endif()
endforeach()
message(STATUS "imports: ${seen}")
