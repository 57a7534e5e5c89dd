#include "message_boxes.h"

#include "platform_hooks.h"

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

std::string InMessageCodePage(const std::wstring &text) {
    std::string out(text.size() * 2 + 1, '\0');
    out.resize(WideCharToMultiByte(932, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr, nullptr));
    if (!out.empty()) out.pop_back();
    return out;
}

namespace {
std::wstring FromCodePage(UINT page, const std::string &text) {
    std::wstring out(text.size() + 1, L'\0');
    out.resize(MultiByteToWideChar(page, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size())));
    if (!out.empty()) out.pop_back();
    return out;
}
}  // namespace

// As the installer shows it: the format read in code page 932, the name in
// the system's code page (which may not spell every byte string back).
std::string Format(const char *format, const std::string &argument) {
    const std::string f = format;
    const size_t at = f.find("%s");
    if (at == std::string::npos) return f;
    return InMessageCodePage(FromCodePage(932, f.substr(0, at)) + FromCodePage(CP_ACP, argument) +
                             FromCodePage(932, f.substr(at + 2)));
}
