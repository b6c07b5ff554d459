// Windows command lines: one string that the program splits into arguments itself, by the rules
// of the C runtime (quotes group, backslashes escape only before quotes, "" inside quotes is a
// literal quote). Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The arguments a Windows program sees in argv. The first one is the program name: quoted up to
// the next quote, or up to the first blank, without escapes.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// argument as it must be written so that SplitCommandLine gives it back unchanged (as is when it
// has no blank and no quote).
std::u16string QuoteArgument(std::u16string_view argument);

// The program's item at the start of commandLine, as CreateProcessW takes it when it is given no
// application name: inside the leading quotes, or up to the first blank.
std::u16string_view ProgramItem(std::u16string_view commandLine);

}
