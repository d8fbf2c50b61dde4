// SPDX-License-Identifier: GPL-3.0-or-later
// The folder of the running program's own file, where its plugins and
// preset voices lie (the file a link in bin leads to, not the link).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// "." when the kernel does not say.
inline std::string ProgramFolder()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : exe.parent_path().string();
}
