#pragma once
// Putting a finished file or directory in place so that no other process
// loses what it built: the work is done under a private name beside the
// target and then moved in with one rename. Used by the sample database and
// cache builders; their callers never see these names.
#include <string>

namespace product {

// Moves from to target only when nothing stands at target; raises 58
// (source `source`) naming target when something does, leaving both as they
// are. Other failures raise 75 naming both paths.
void MoveIntoPlaceNoReplace(const std::string& from, const std::string& target, const char* source);

// Puts the directory from at target in one step; what stood at target (if
// anything) is now at from and returned true, for the caller to remove.
// Readers of target always see either the old or the new directory.
bool SwapIntoPlace(const std::string& from, const std::string& target, const char* source);

// Writes text to path through a private file renamed over it
// (rt::ReplaceFile); raises 76 naming path when it cannot.
void WriteFileReplacing(const std::string& path, const std::string& text, const char* source);

// A private folder for one build, "<directory>/.<name>.building.XXXXXX",
// made with the mode the umask gives (it becomes a folder others read),
// locked (flock on the folder) for as long as the object lives. A killed
// build's lock goes with its process, so a later build can tell what a dead
// one left from what a live one is using: creating a folder first removes
// the unlocked folders of the same name. The destructor removes whatever
// stands at the folder's path by then (after a swap, the old directory).
// Raises 76 (source `source`) naming directory when no folder can be made.
class BuildingFolder {
public:
    BuildingFolder(const std::string& directory, const std::string& name, const char* source);
    ~BuildingFolder();
    BuildingFolder(const BuildingFolder&) = delete;
    BuildingFolder& operator=(const BuildingFolder&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// Removes the folders of name in directory that no live build holds; returns
// how many. Failures are ignored: a leftover that cannot go stays.
size_t RemoveDeadBuildingFolders(const std::string& directory, const std::string& name);

}  // namespace product
