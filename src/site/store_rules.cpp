#include "site/store_rules.hpp"

namespace zelvor::site {

bool isLateRun(const NewRun& run) { return run.measuredAtMs < run.receivedAtMs - lateRunMs; }

kelvo::Failure newerSchemaFailure(const std::string& database, int version) {
  return kelvo::Failure(database + " was written by a newer program: schema version " +
                        std::to_string(version) + ", this one knows " +
                        std::to_string(latestSchemaVersion));
}

kelvo::Failure foreignSchemaFailure(const std::string& database) {
  return kelvo::Failure(database + " holds tables of another program");
}

}  // namespace zelvor::site
