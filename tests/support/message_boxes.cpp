#include "message_boxes.h"

#include "platform_hooks.h"
#include "scratch.h"

#include <cstdio>

MessageBoxScript::MessageBoxScript(std::deque<int> answers)
    : answers_(std::move(answers)), hook_(MessageBoxHook::Install("user32.dll", "MessageBoxW")) {
    MessageBoxHook::inspect = [this](CallRecord &, HWND owner, LPCWSTR text, LPCWSTR title, UINT type) {
        boxes_.push_back({owner, InMessageCodePage(text ? text : L""), InMessageCodePage(title ? title : L""), type});
    };
    MessageBoxHook::base = [this](HWND, LPCWSTR, LPCWSTR, UINT type) {
        if ((type & 0xF) != MB_YESNO) return IDOK;
        if (answers_.empty()) return IDNO;
        int answer = answers_.front();
        answers_.pop_front();
        return answer;
    };
}

std::vector<std::string> MessageBoxScript::texts() const {
    std::vector<std::string> out;
    for (const ShownBox &b : boxes_) out.push_back(b.text);
    return out;
}

std::string InMessageCodePage(const std::wstring &text) { return Narrow(text, 932); }

// As the installer shows it: the format read in code page 932, the name in
// the system's code page (which may not spell every byte string back).
std::string Format(const char *format, const std::string &argument) {
    const std::string f = format;
    const size_t at = f.find("%s");
    if (at == std::string::npos) return f;
    return InMessageCodePage(Wide(f.substr(0, at), 932) + Wide(argument) + Wide(f.substr(at + 2), 932));
}
