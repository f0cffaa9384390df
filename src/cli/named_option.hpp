// An option that takes one of a few names, each turned into its value while
// the command line is read.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <utility>
#include <vector>

namespace zelvor::cli {

// IsMember goes first for its refusal, which names the choices and not the
// numbers they stand for.
template <typename Value>
CLI::Option* takeNamed(CLI::Option* option,
                       const std::vector<std::pair<std::string, Value>>& names) {
  return option->transform(CLI::CheckedTransformer(names).description(""))
      ->transform(CLI::IsMember(names).description(""));
}

}  // namespace zelvor::cli
