#pragma once
// Scratch folders of the tests under the temporary folder, named after a
// prefix, this process and the running test, so that two checkouts running
// the suite at once on one machine never share one.
#include <filesystem>
#include <string>

namespace pelmora_test {

// "<temp>/<prefix>-<process id>-<suite>-<test>"; nothing is made.
std::filesystem::path TestFolderPath(const std::string& prefix);

// That folder, emptied and made. Every folder made this way that is still
// there when the process ends is removed then.
std::filesystem::path FreshTestFolder(const std::string& prefix);

}  // namespace pelmora_test
