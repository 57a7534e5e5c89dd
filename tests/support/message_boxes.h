// Message boxes answered from a script instead of by a person: every box the
// code under test shows is recorded with its owner, text, title and type.
#pragma once
#include <windows.h>
#include <deque>
#include <string>
#include <vector>

#include "import_hook.h"

// A message text as the code under test shows it: `format` with one %s (or none).
std::string Format(const char *format, const std::string &argument);
// A text shown in UTF-16, in the code page of the installer's own texts (932),
// where every text of the run has its exact form.
std::string InMessageCodePage(const std::wstring &text);

struct ShownBox {
    HWND owner;
    std::string text;   // as shown, in code page 932
    std::string title;
    UINT type;
};

class MessageBoxScript {
public:
    // Questions are answered in order from `answers`; when it runs out a
    // question gets IDNO. Plain boxes always get IDOK.
    explicit MessageBoxScript(std::deque<int> answers = {});
    MessageBoxScript(const MessageBoxScript &) = delete;

    const std::vector<ShownBox> &boxes() const { return boxes_; }
    std::vector<std::string> texts() const;
    void clear() { boxes_.clear(); }

private:
    std::deque<int> answers_;
    std::vector<ShownBox> boxes_;
    Hooks::Installed hook_;
};
