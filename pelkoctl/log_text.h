// The text of a daily log as pelkoctl shows and matches its names.
#pragma once

#include <string>

namespace pelko::ctl {

// In the encoding of the terminal and the command line: UTF-8 on Linux,
// whatever the log declares (find --user takes a name typed in UTF-8). On
// Windows both are in the ANSI code page, which the log's windows-1252
// already is on most machines; a UTF-8 log's names are made windows-1252
// too ("?" for the rest), so that all pelkoctl prints is in one encoding.
std::string LogTextForUser(std::string text);

}  // namespace pelko::ctl
