// The tools' report lines: "key=value" words separated by spaces, such as
// "pid=4 file=/tmp/a b/shot.png x=0 y=0 width=10 height=10 image=10x10 scale=1".
#pragma once

#include <map>
#include <string>

namespace mcp {

// The fields of `line`. `verbatim` names a field whose value is known to the caller and may hold
// spaces or "=" (a file name the server chose): when "KEY=VALUE" appears in the line it is taken
// whole, and the words around it are read as usual.
std::map<std::string, std::string> reportFields(const std::string& line,
                                                const std::string& verbatimKey = "",
                                                const std::string& verbatimValue = "");

}  // namespace mcp
