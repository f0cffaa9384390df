// The operator's list file, checked with the program's own parser so that
// the site never serves a line the program would silently skip.
#include "site/server_list.hpp"

#include <fstream>
#include <set>
#include <sstream>

#include "catalogue/catalogue.hpp"
#include "catalogue/report.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

[[noreturn]] void refuse(std::string_view fileName, std::size_t lineNumber,
                         std::string_view reason) {
  std::string text(fileName);
  if (lineNumber > 0) {
    text += ':';
    text += std::to_string(lineNumber);
  }
  text += ": ";
  text += reason;
  throw kelvo::Failure(text);
}

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

}  // namespace

ServerList parseServerListFile(std::string_view text, std::string_view fileName) {
  ServerList list;
  std::set<std::string, std::less<>> classes;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.starts_with('#') || isBlank(line)) continue;

    // The program reads the list with parseServerList; a line it would take
    // gives exactly one entry.
    const ServerCatalogue taken = parseServerList(std::string(line) + '\n');
    if (taken.empty())
      refuse(fileName, lineNumber, "the program would skip this line; write class:host:80");
    const ServerClass& serverClass = taken.front();
    const std::string& host = serverClass.servers.front().host;
    if (!isReportField(serverClass.name))
      refuse(fileName, lineNumber, "the class name holds a control character");
    if (!isReportField(host)) refuse(fileName, lineNumber, "the host holds a control character");

    list.body += serverClass.name + ':' + host + ":80\n";
    classes.insert(serverClass.name);
    list.servers.emplace(serverClass.name, host);
    ++list.serverCount;
  }
  if (list.serverCount == 0) refuse(fileName, 0, "the list names no servers");
  list.classCount = classes.size();
  return list;
}

ServerList readServerListFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) refuse(path, 0, "cannot be read");
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) refuse(path, 0, "cannot be read");
  return parseServerListFile(text.str(), path);
}

}  // namespace zelvor::site
