#pragma once

// Runs unpak with its current directory on a new, small tmpfs, mounted in a
// private mount namespace so nothing outside the run sees it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The command line that mounts a tmpfs of `size` (a mount option such as
// "320k") on `mountPoint`, runs `unpak archive` there with "y" lines on its
// standard input (which it must not read), then lists the tmpfs into the file
// `listing`, one name a line, and exits with unpak's status. Nothing when
// this process may not make mount namespaces.
std::optional<std::vector<std::string>> UnpakOnSmallFileSystem(
    const std::string& unpak, const std::filesystem::path& archive, const std::string& size,
    const std::filesystem::path& mountPoint, const std::filesystem::path& listing);

// The names in a listing file written by the command above.
std::vector<std::string> ReadListing(const std::filesystem::path& listing);
