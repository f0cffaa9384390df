// The throwaway PostgreSQL cluster of the pg tier (tests/pg/throwaway-cluster):
// the one scripts/test started, named by ZELVOR_PG_DIR, and clusters of a
// test's own inside its folder, for tests that stop the database.
#pragma once

#include <optional>
#include <string>

namespace zelvor::test {

// Why the pg tests cannot run here, or none when they can.
std::optional<std::string> pgUnavailable();

// The shared cluster's folder; only when pgUnavailable() is none.
std::string sharedCluster();

// An empty database of its own in the cluster at `clusterDir`; its URL.
std::string freshDatabase(const std::string& clusterDir);

// Runs SQL on the cluster's maintenance database, as its superuser.
void administer(const std::string& clusterDir, const std::string& sql);

// A cluster of one test's own, started at once and removed with the object.
class OwnCluster {
 public:
  OwnCluster();
  ~OwnCluster();
  OwnCluster(const OwnCluster&) = delete;
  OwnCluster& operator=(const OwnCluster&) = delete;

  const std::string& dir() const { return dir_; }
  void stop() const;
  void start() const;

 private:
  std::string dir_;
};

}  // namespace zelvor::test
