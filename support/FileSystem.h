#pragma once
// What stands at a path, asked of the file system; none of them raises.
#include <string>

// Something that is not a folder stands at Path.
bool FileExists(const std::string& Path);
// A folder (or a link to one) stands at Path.
bool FolderExists(const std::string& Path);
// A link stands at Path: a junction, mount point or symbolic link (see
// RedirectsElsewhere), not a deduplicated file or a cloud placeholder.
bool IsLinkAt(const std::string& Path);

// Full path of the running executable.
std::string GetProgramFileName();
