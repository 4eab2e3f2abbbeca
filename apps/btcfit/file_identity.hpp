// Whether two file names lead to the same file, so that the program never
// opens for writing the file it is about to read.
#pragma once

#include <string>

namespace btcfit {

// True when both names lead to the same existing file. A name that leads to
// no file (or to one that cannot be examined) is the same as no other.
//
// POSIX: the device and inode numbers. Windows: the volume serial number
// and file index of the file system, where the file system gives them;
// where it does not (every index reads 0), the two absolute paths with
// links resolved, compared without regard to case as the Windows file
// systems compare names.
bool same_existing_file(const std::string& a, const std::string& b);

// True when `name` leads to `other`, whether or not that file exists yet:
// the same existing file, or the same absolute path after resolving the
// links of the folders that exist (without regard to case on Windows).
bool same_file_name(const std::string& name, const std::string& other);

}  // namespace btcfit
