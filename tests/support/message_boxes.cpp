#include "message_boxes.h"

#include <cstdio>

#include "import_hook.h"

namespace {
MessageBoxScript *g_active = nullptr;
}

MessageBoxScript::MessageBoxScript(std::deque<int> answers) : answers_(std::move(answers)) {
    hook_ = std::make_unique<ImportHook>("user32.dll", "MessageBoxA", reinterpret_cast<void *>(&Hook));
    g_active = this;
}

MessageBoxScript::~MessageBoxScript() { g_active = nullptr; }

std::vector<std::string> MessageBoxScript::texts() const {
    std::vector<std::string> out;
    for (const ShownBox &b : boxes_) out.push_back(b.text);
    return out;
}

int WINAPI MessageBoxScript::Hook(HWND owner, LPCSTR text, LPCSTR title, UINT type) {
    MessageBoxScript *s = g_active;
    s->boxes_.push_back({owner, text ? text : "", title ? title : "", type});
    if ((type & 0xF) == MB_YESNO) {
        if (s->answers_.empty()) return IDNO;
        int answer = s->answers_.front();
        s->answers_.pop_front();
        return answer;
    }
    return IDOK;
}

std::string Format(const char *format, const std::string &argument) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, format, argument.c_str());
    return buffer;
}
