// Replaces one entry of this executable's import address table for the
// lifetime of the object, so that a test can make a platform call fail.
#pragma once
#include <string>

class ImportHook {
public:
    ImportHook(const char *dll, const char *function, void *replacement);
    ~ImportHook();
    ImportHook(const ImportHook &) = delete;
    ImportHook &operator=(const ImportHook &) = delete;

    void *original() const { return original_; }
    template <class F> F original_as() const { return reinterpret_cast<F>(original_); }

private:
    void **slot_ = nullptr;
    void *original_ = nullptr;
};

// The address that the executable's import table holds for dll!function.
void *ImportedAddress(const char *dll, const char *function);
