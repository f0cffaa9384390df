// The operator's list file, checked with the program's own parser so that
// the site never serves a line the program would silently skip.
#include "site/server_list.hpp"

#include <set>

#include "catalogue/catalogue.hpp"
#include "catalogue/report.hpp"
#include "site/line_file.hpp"

namespace zelvor::site {

ServerList parseServerListFile(std::string_view text, std::string_view fileName) {
  ServerList list;
  std::set<std::string, std::less<>> classes;
  forEachLine(text, [&](std::size_t lineNumber, std::string_view line) {
    // The program reads the list with parseServerList; a line it would take
    // gives exactly one entry.
    const ServerCatalogue taken = parseServerList(std::string(line) + '\n');
    if (taken.empty())
      refuseLine(fileName, lineNumber, "the program would skip this line; write class:host:80");
    const ServerClass& serverClass = taken.front();
    const std::string& host = serverClass.servers.front().host;
    if (!isReportField(serverClass.name))
      refuseLine(fileName, lineNumber, "the class name holds a control character");
    if (!isReportField(host))
      refuseLine(fileName, lineNumber, "the host holds a control character");

    list.body += serverClass.name + ':' + host + ":80\n";
    classes.insert(serverClass.name);
    list.servers.emplace(serverClass.name, host);
    ++list.serverCount;
  });
  if (list.serverCount == 0) refuseLine(fileName, 0, "the list names no servers");
  list.classCount = classes.size();
  return list;
}

ServerList readServerListFile(const std::string& path) {
  return parseServerListFile(readLineFile(path), path);
}

}  // namespace zelvor::site
