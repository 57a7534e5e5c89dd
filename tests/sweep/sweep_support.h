// What the fault sweeps add to the test support's hooks (import_hook.h): the
// phases of the dialog, shell links seen through counting proxies, and small
// text helpers. Every platform function that the installer calls gets one
// Counted hook; the sweeps switch Hooks::active on around the installer's
// code, so the test's own calls pass straight to the platform.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "engine.h"
#include "import_hook.h"
#include "platform_hooks.h"
#include "message_boxes.h"
#include "package_entries.h"

// What the caller was doing when a platform call was made (Hooks::phase).
// kPhaseClose: the start's look for the program running in the folder, once
// the new files are made, and its closing; kPhasePlace: from the first new
// file put in place on.
enum Phase { kPhaseNone, kPhaseInit, kPhaseBrowse, kPhaseStart, kPhaseClose, kPhasePlace };

namespace Sweep {
// The manifest entry whose payload a resource name names; -2 for none.
int EntryOfResource(LPCSTR name);
// The entry of a file name; -2 for none.
int EntryOfName(const std::string &name);
}  // namespace Sweep

// A shell link object seen through counting proxies: IShellLinkA's SetPath,
// SetDescription and QueryInterface, and IPersistFile's Save, can be made to
// fail; without an inner object (inner == null) the link only records.
struct LinkCounters {
    Counter setPath{"IShellLinkA::SetPath"};
    Counter setDescription{"IShellLinkA::SetDescription"};
    Counter queryInterface{"IShellLinkA::QueryInterface"};
    Counter save{"IPersistFile::Save"};
};
LinkCounters &Links();
void RegisterLinkCounters();
// The recorded link calls: "path <target>", "description <name>", "save <path>".
extern std::vector<std::string> g_linkEvents;
IShellLinkA *WrapShellLink(IShellLinkA *inner);

std::string Lower(std::string s);

// Why `descriptor` is not the one a folder made for the program must carry,
// or "" when it is: a valid, self-relative descriptor whose DACL is present
// and protected (nothing inherited from the parent) and holds exactly three
// access-allowed entries that files and folders inside inherit: SYSTEM and
// Administrators in full control, Users reading and running.
std::string ProtectedFolderFault(PSECURITY_DESCRIPTOR descriptor);
