// The store's contract: the behaviour every backend shares, one suite run
// against each of them. A backend's test program instantiates the suite
// with its StoreBackend; the cases live in site_store_contract.cpp.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "site/handle.hpp"
#include "site/store.hpp"

namespace zelvor::site {
void PrintTo(const RunSummary& run, std::ostream* out);
void PrintTo(const HostPoint& point, std::ostream* out);
}  // namespace zelvor::site

namespace zelvor::test {

namespace fs = std::filesystem;
using site::HandleSource;
using site::HostPoint;
using site::HostSummary;
using site::NewRun;
using site::PointQuery;
using site::RunSummary;
using site::Store;
using Handles = std::vector<std::string>;

NewRun runOf(std::string className, std::string report, std::int64_t receivedAtMs = 1000);
RunSummary summaryOf(const std::string& handle, const NewRun& run);
// A run of `className` measured at `measuredAtMs` with these host summaries.
NewRun summarisedRun(std::string className, std::optional<std::string> label,
                     std::int64_t measuredAtMs, std::vector<site::HostSummary> hosts);
Handles handlesOf(const std::vector<RunSummary>& runs);
// Hands out the script in order; an entry starting with '!' is thrown, as a
// failing random source would, without the '!'.
HandleSource scripted(Handles script);
// The handle as "stored as H", or the failure text.
std::string addFailure(Store& store, const NewRun& run);

class InTempDir : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  fs::path dir_;
};

// A backend joins the suite with a name and a way to open a fresh, empty
// store; `dir` is an empty folder of the test's own.
struct StoreBackend {
  const char* name;
  std::function<std::unique_ptr<Store>(const fs::path& dir, HandleSource)> open;
  // Why the backend cannot be tested here, if it cannot; none to test it.
  std::function<std::optional<std::string>()> unavailable = [] { return std::nullopt; };
};

inline void PrintTo(const StoreBackend& backend, std::ostream* out) { *out << backend.name; }

class StoreContract : public InTempDir, public testing::WithParamInterface<StoreBackend> {
 protected:
  void SetUp() override {
    if (const auto why = GetParam().unavailable()) GTEST_SKIP() << *why;
    InTempDir::SetUp();
  }

  std::unique_ptr<Store> open(HandleSource newHandle = site::randomHandle) {
    return GetParam().open(dir_, std::move(newHandle));
  }
};

// The instantiation's naming of the backends.
inline std::string backendName(const testing::TestParamInfo<StoreBackend>& info) {
  return info.param.name;
}

}  // namespace zelvor::test
