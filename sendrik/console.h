// How the mail program, run by hand, talks with whoever ran it. On Windows
// it is a windowed program (the agent starts it and nothing may appear), so
// it has no console of its own, and cmd or PowerShell do not wait for it.
#pragma once

#include <string>

namespace pelko::mail {

// Where standard error goes nowhere, gives it the console of the program
// that started this one, if that has one (a line then shows after the
// prompt). The agent has none: its runs stay silent.
void ReachCaller();

// Reads the mail password: a line of standard input when that is a file or
// a pipe; else typed at a console with echo off (on Windows a console window
// of its own, since the shell that started a windowed program goes on
// reading the keys of its own console). false when the line is too long or
// no console can be had, with why.
bool ReadTypedPassword(std::string* password, std::string* why);

// Says line where the one who ran the program sees it: standard error, and
// the console window ReadTypedPassword opened, which then waits for Enter
// before it closes.
void TellCaller(const std::string& line);

}  // namespace pelko::mail
