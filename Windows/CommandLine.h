#pragma once

// The path the program is started with.

#include <string>

// The one path in the command-line text after the program's name: the text inside
// double quotes when it starts with one (a path with spaces), else the whole text as
// it is; blanks around it do not count. Empty when there is none.
std::string CommandLinePath(const std::string& commandLine);
