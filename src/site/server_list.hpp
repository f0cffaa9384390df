// The server list the site serves at /zv_fetch, read from the operator's
// list file and checked line by line against what the program will take.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace zelvor::site {

struct ServerList {
  // What the program is sent: one "class:host:80" line per server, in file
  // order.
  std::string body;
  std::size_t classCount = 0;
  std::size_t serverCount = 0;
  // Every class and host the list names, as (class, host).
  std::set<std::pair<std::string, std::string>> servers;

  bool hasClass(const std::string& name) const {
    const auto next = servers.lower_bound({name, std::string()});
    return next != servers.end() && next->first == name;
  }
  bool hasServer(const std::string& className, const std::string& host) const {
    return servers.contains({className, host});
  }
};

// Reads a list file: "class:host:80" lines; lines starting with '#' are
// comments and blank lines are skipped, neither is served. Any other line
// that the program's own list parser would drop, or whose class or host a
// report could not carry back, is an error; so is a list without servers.
// Throws "FILE:LINE: reason" (or "FILE: reason").
ServerList parseServerListFile(std::string_view text, std::string_view fileName);

// parseServerListFile over the file at `path`, which must be readable.
ServerList readServerListFile(const std::string& path);

}  // namespace zelvor::site
