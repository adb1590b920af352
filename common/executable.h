// Where the running program lies, for programs that find their companions beside themselves.
#pragma once

#include <string>

namespace mevrik {

// The folder of this process's executable, symbolic links resolved (so a link to the program
// gives the folder of the program itself); "." when the system does not say.
std::string executableFolder();

}  // namespace mevrik
