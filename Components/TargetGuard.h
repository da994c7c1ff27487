#pragma once
// The folders setup works in as administrator are held, so that nobody can
// rename them away, and refused where a link leads there or where others than
// the administrators can change them. Wine keeps no ACLs and reads every file
// as the user's own: what a folder's security is and how setup protects one
// go through seams, which tests give what Windows would answer.
#include <windows.h>

#include <string>

#include "Components/TargetRules.h"
#include "support/UniqueResource.h"

// Setup's own folder ACL: SYSTEM and the Administrators change it, users, and
// sandboxed programs (ALL APPLICATION PACKAGES), read and execute. Passed on to
// everything below, nothing taken over from the parent.
extern const char* const TargetFolderAcl;

// The owner and DACL of a folder opened with READ_CONTROL.
extern TFolderSecurity (*ReadFolderSecurity)(HANDLE Folder);
TFolderSecurity ReadFolderSecurityFromSystem(HANDLE Folder);

// Gives Folder setup's ACL, owned by the Administrators, and everything below
// it the Administrators as owner and only what it inherits. False when the
// system refuses any of it, or a link lies below.
extern bool (*ProtectFolder)(const std::string& Folder);
bool ProtectFolderInSystem(const std::string& Folder);

// Opens Folder so that it can be neither renamed nor deleted while the handle
// lives (the folder itself, not where a link there leads). Raises
// ETargetRefused when it is no folder, is a link, or its final path is not
// Folder: a link among its parents.
TFileHandle HoldFolder(const std::string& Folder);

// Why others than the administrators can change the held folder ("its owner is
// NAME", "NAME may change it"); empty when they cannot.
std::string WhyOthersCanChange(HANDLE Folder);

// The refusal of Folder because of the link at Link.
std::string LinkRefusal(const std::string& Folder, const std::string& Link);
