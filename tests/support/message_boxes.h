// Message boxes answered from a script instead of by a person: every box the
// code under test shows is recorded with its owner, text bytes, title and type.
#pragma once
#include <windows.h>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class ImportHook;

// A message text as the code under test formats it: `format` with one %s.
std::string Format(const char *format, const std::string &argument);

struct ShownBox {
    HWND owner;
    std::string text;   // bytes as passed (code page 932)
    std::string title;
    UINT type;
};

class MessageBoxScript {
public:
    // Questions are answered in order from `answers`; when it runs out a
    // question gets IDNO. Plain boxes always get IDOK.
    explicit MessageBoxScript(std::deque<int> answers = {});
    ~MessageBoxScript();

    const std::vector<ShownBox> &boxes() const { return boxes_; }
    std::vector<std::string> texts() const;
    void clear() { boxes_.clear(); }

private:
    static int WINAPI Hook(HWND, LPCSTR, LPCSTR, UINT);
    std::deque<int> answers_;
    std::vector<ShownBox> boxes_;
    std::unique_ptr<ImportHook> hook_;
};
