#pragma once
// An environment variable set for a scope and put back as it was after it,
// absent included.
#include <cstdlib>
#include <optional>
#include <string>

class TScopedEnv {
public:
    TScopedEnv(const char* Name, const std::string& Value) : FName(Name) {
        if (const char* Was = std::getenv(Name))
            FWas = Was;
        ::setenv(Name, Value.c_str(), 1);
    }
    ~TScopedEnv() {
        if (FWas)
            ::setenv(FName, FWas->c_str(), 1);
        else
            ::unsetenv(FName);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* FName;
    std::optional<std::string> FWas;
};
