#include "mcp/report_line.h"

#include <sstream>

namespace mcp {
namespace {

void readWords(const std::string& text, std::map<std::string, std::string>& out) {
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (const size_t eq = word.find('='); eq != std::string::npos)
      out[word.substr(0, eq)] = word.substr(eq + 1);
  }
}

}  // namespace

std::map<std::string, std::string> reportFields(const std::string& line,
                                                const std::string& verbatimKey,
                                                const std::string& verbatimValue) {
  std::map<std::string, std::string> out;
  const std::string whole = verbatimKey + "=" + verbatimValue;
  const size_t at = verbatimKey.empty() ? std::string::npos : line.find(whole);
  if (at == std::string::npos) {
    readWords(line, out);
    return out;
  }
  readWords(line.substr(0, at), out);
  readWords(line.substr(at + whole.size()), out);
  out[verbatimKey] = verbatimValue;
  return out;
}

}  // namespace mcp
