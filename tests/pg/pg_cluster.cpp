#include "pg_cluster.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "site/pg_connection.hpp"
#include "support/failure.hpp"

namespace zelvor::test {

namespace {

std::string urlOf(const std::string& clusterDir, const std::string& database) {
  return "postgresql://zelvor@/" + database + "?host=" + clusterDir;
}

void runScript(const std::string& action, const std::string& dir) {
  const std::string command = std::string(ZELVOR_PG_CLUSTER_SCRIPT) + " " + action + " " + dir;
  if (std::system(command.c_str()) != 0) throw kelvo::Failure("could not " + command);
}

}  // namespace

std::optional<std::string> pgUnavailable() {
  const char* const dir = std::getenv("ZELVOR_PG_DIR");
  if (dir == nullptr || *dir == '\0')
    return "needs a throwaway cluster: scripts/test pg starts one (ZELVOR_PG_DIR)";
  return std::nullopt;
}

std::string sharedCluster() { return std::getenv("ZELVOR_PG_DIR"); }

void administer(const std::string& clusterDir, const std::string& sql) {
  site::PgConnection(urlOf(clusterDir, "postgres"), {}).execute(sql.c_str(), "test");
}

std::string freshDatabase(const std::string& clusterDir) {
  static std::atomic<int> made = 0;
  const std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(made++);
  administer(clusterDir, "CREATE DATABASE " + name);
  return urlOf(clusterDir, name);
}

OwnCluster::OwnCluster() {
  static std::atomic<int> made = 0;
  dir_ = sharedCluster() + "/own" + std::to_string(::getpid()) + "_" + std::to_string(made++);
  runScript("start", dir_);
}

OwnCluster::~OwnCluster() {
  try {
    runScript("remove", dir_);
  } catch (const kelvo::Failure&) {
  }
}

void OwnCluster::stop() const { runScript("stop", dir_); }
void OwnCluster::start() const { runScript("start", dir_); }

}  // namespace zelvor::test
