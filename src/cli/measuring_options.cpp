#include "cli/measuring_options.hpp"

#include <string>
#include <utility>
#include <vector>

#include "cli/named_option.hpp"

namespace zelvor::cli {

void addMeasuringOptions(CLI::App& command, MeasuringArguments& arguments) {
  for (const MeasuringOption& option : measuringOptions)
    command.add_option(option.name, arguments.*option.argument, option.help)->type_name("N");
  takeNamed(command.add_option("--engine", arguments.engine,
                               "auto (default): the raw socket, then the echo service; raw or "
                               "service: that one alone"),
            std::vector<std::pair<std::string, Engine>>(engineNames.begin(), engineNames.end()))
      ->type_name("auto|raw|service");

  std::vector<std::pair<std::string, IpChoice>> ipNames;
  for (const IpChoice choice : {IpChoice::automatic, IpChoice::v4, IpChoice::v6})
    ipNames.emplace_back(ipChoiceName(choice), choice);
  CLI::Option* ip =
      takeNamed(command.add_option(ipOptionName, arguments.ip,
                                   "Address family, over the stored ip: auto: IPv4 where "
                                   "a host has it, else IPv6; 4 or 6: that family alone"),
                ipNames);
  ip->type_name("auto|4|6");
  CLI::Option* v4 = command.add_flag_callback(
      "-4", [&arguments] { arguments.ip = IpChoice::v4; }, "IPv4 alone: --ip 4");
  CLI::Option* v6 = command.add_flag_callback(
      "-6", [&arguments] { arguments.ip = IpChoice::v6; }, "IPv6 alone: --ip 6");
  v4->excludes(v6)->excludes(ip);
  v6->excludes(ip);
}

}  // namespace zelvor::cli
