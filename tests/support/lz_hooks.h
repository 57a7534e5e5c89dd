// The LZ expand functions are reached through the engine's bound pointers,
// not the import table, so they are hooked by their pointer types.
#pragma once
#include "engine.h"
#include "import_hook.h"

using LzOpen = Counted<struct CountedTag_LzOpen, LZOpenFileAProc>;
using LzCopy = Counted<struct CountedTag_LzCopy, LZCopyProc>;
using LzClose = Counted<struct CountedTag_LzClose, LZCloseProc>;
