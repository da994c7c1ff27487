#pragma once
// Setup writes into the target folder as administrator. A junction or symbolic link
// that someone placed inside it would send such a write anywhere.
#include <string>

// The first link (see IsLinkAt) that a write to Path would pass through below
// Folder, or replace, outermost first; empty when there is none, or when Path
// does not lie below Folder.
std::string LinkBelow(const std::string& Folder, const std::string& Path);

// Raises EInstallException when a write to Path would pass through a link below
// TargetFolder, or replace one; does nothing for paths that do not lie below TargetFolder.
void RefuseLinksBelowTarget(const std::string& TargetFolder, const std::string& Path);

// The root Path starts from: "C:\" or "\\server\share\"; empty for a relative path.
std::string PathRoot(const std::string& Path);
