#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zurodid::testing {

// A fresh folder under the system's temporary folder, removed with everything in it, even
// where a test took the folder's permissions away.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& file, std::string_view bytes);
// The whole file; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& file);

} // namespace zurodid::testing
