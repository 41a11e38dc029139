// Starting the batch program: a file test, and a program started without a
// shell and without waiting for it.
#pragma once

#include <string>

namespace telwick::platform {

bool FileExists(const std::string& path);  // a regular file (or link to one) is there
// Starts path with argv {path, argument}, no shell, standard streams on
// /dev/null, without waiting. Throws telwick::Fault when it cannot be started.
void StartProgram(const std::string& path, const std::string& argument);
// Reaps the started programs that have ended; never blocks.
void ReapPrograms();

}  // namespace telwick::platform
