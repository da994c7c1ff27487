#pragma once
// Path rules of the installer engine that need no system calls.
#include <string>

// The folder above Path, with its trailing separator: "C:\a\b\" gives "C:\a\",
// "data" comes back unchanged. Path must not be empty.
std::string ExtractParentFolder(const std::string& Path);
