#include "registry_fixture.h"

#include "platform_hooks.h"

#include <stdexcept>

namespace {


HKEY CreateOne(HKEY parent, const std::string &name) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) throw std::runtime_error("cannot create registry key " + name);
    return key;
}

}  // namespace

RegistrySandbox::RegistrySandbox()
    : openHook_(RegOpen::Install("advapi32.dll", "RegOpenKeyExA")),
      closeHook_(RegClose::Install("advapi32.dll", "RegCloseKey")) {
    static int counter = 0;
    sandboxPath_ = "Software\\ZorvikTests\\" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(++counter);
    RegDeleteTreeA(HKEY_CURRENT_USER, sandboxPath_.c_str());
    sandbox_ = CreateOne(HKEY_CURRENT_USER, sandboxPath_);
    currentUser_ = CreateOne(sandbox_, "CU");
    localMachine_ = CreateOne(sandbox_, "LM");

    RegOpen::base = [this](HKEY parent, LPCSTR name, DWORD options, REGSAM access, PHKEY result) {
        if (parent == HKEY_CURRENT_USER) parent = currentUser_;
        if (parent == HKEY_LOCAL_MACHINE) parent = localMachine_;
        openCalls_++;
        LONG status = RegOpen::real(parent, name, options, access, result);
        if (status == ERROR_SUCCESS) {
            opened_.push_back(*result);
            live_.push_back(*result);
        }
        return status;
    };
    RegClose::inspect = [this](CallRecord &, HKEY key) {
        closed_.push_back(key);
        if (live_.empty() || live_.back() != key) {
            char text[64];
            wsprintfA(text, "closed %p out of order or never opened", static_cast<void *>(key));
            faults_.push_back(text);
        } else {
            live_.pop_back();
        }
    };
}

RegistrySandbox::~RegistrySandbox() {
    RegCloseKey(localMachine_);
    RegCloseKey(currentUser_);
    RegCloseKey(sandbox_);
    RegDeleteTreeA(HKEY_CURRENT_USER, sandboxPath_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\ZorvikTests");  // only when no other run is using it
}

void RegistrySandbox::CreateKeys(HKEY root, const std::string &keyPath) {
    RegCloseKey(CreateOne(root, keyPath));
}

void RegistrySandbox::Set(HKEY root, const std::string &path, DWORD type, const std::string &data) {
    size_t cut = path.rfind('\\');
    HKEY key = root;
    std::string valueName = path;
    if (cut != std::string::npos) {
        key = CreateOne(root, path.substr(0, cut));
        valueName = path.substr(cut + 1);
    }
    LONG status = RegSetValueExA(key, valueName.c_str(), 0, type,
                                 reinterpret_cast<const BYTE *>(data.data()), static_cast<DWORD>(data.size()));
    if (key != root) RegCloseKey(key);
    if (status != ERROR_SUCCESS) throw std::runtime_error("cannot set registry value " + path);
}

void RegistrySandbox::SetString(HKEY root, const std::string &path, const std::string &text) {
    Set(root, path, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

void RegistrySandbox::ClearLog() {
    opened_.clear();
    closed_.clear();
    live_.clear();
    faults_.clear();
    openCalls_ = 0;
}

testing::AssertionResult RegistrySandbox::ClosedNewestFirst() const {
    if (faults_.empty() && live_.empty()) return testing::AssertionSuccess();
    auto out = testing::AssertionFailure();
    for (const std::string &f : faults_) out << f << "; ";
    if (!live_.empty()) out << live_.size() << " key(s) left open";
    return out;
}
