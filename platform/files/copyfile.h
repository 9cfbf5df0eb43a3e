// Copying a file so that its target is never seen torn. The copy is written as an unnamed file in
// the target's directory (or, where the file system has none, under a temporary name beside it)
// and takes the target's name only once it is whole. A failed or interrupted copy therefore
// leaves the previous target, or none, and nothing else.
#pragma once

#include <string>

// Copies source to target with the source's access and modification times, replacing an existing
// target unless failIfExists (then EEXIST). An existing target without the owner write bit is a
// read-only file and is refused with EACCES, also for root. A source that is not a regular file
// (a symbolic link among them) is refused; a target that is a symbolic link is replaced, never
// written through. Sets errno on failure.
bool CopyFile(const std::string& source, const std::string& target, bool failIfExists);

// Removes the temporary files that copies of this host left in dir when their process ended
// before the copy was in place (a crash between naming the copy and renaming it). Call it while
// this process has no copy into dir under way.
void RemoveCopyLeftovers(const std::string& dir);
