#pragma once
// Setup writes into the target folder as administrator. A junction or symbolic link
// that someone placed inside it would send such a write anywhere.
#include <string>

// Raises EInstallException when a write to Path would pass through a link (any
// reparse point) below TargetFolder, or replace one; does nothing for paths that
// do not lie below TargetFolder.
void RefuseLinksBelowTarget(const std::string& TargetFolder, const std::string& Path);
