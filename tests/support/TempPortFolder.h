#pragma once
// A port folder of the test's own, where COMn links can be made.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class TTempPortFolder {
public:
    explicit TTempPortFolder(const std::string& Name)
        : Path(std::filesystem::temp_directory_path() / (Name + std::to_string(::getpid()))) {
        std::filesystem::create_directories(Path);
        ::setenv("ORMANT_PORT_DIR", Path.c_str(), 1);
    }
    ~TTempPortFolder() {
        std::filesystem::remove_all(Path);
        ::unsetenv("ORMANT_PORT_DIR");
    }
    std::filesystem::path Com(int N) const { return Path / ("com" + std::to_string(N)); }
    const std::filesystem::path Path;
};
