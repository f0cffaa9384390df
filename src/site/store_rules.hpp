// What every store backend shares: its schema's version, how often it asks
// for another handle, and the failures that are the store's own rather than
// its database's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/failure.hpp"

namespace zelvor::site {

// The steps of the schema, the same in both backends; a database records how
// many it has taken.
inline constexpr int latestSchemaVersion = 5;

// Candidates asked for one run before it fails. With 128 random bits even a
// second candidate is never needed; a source that keeps repeating is broken.
inline constexpr std::size_t handleTries = 4;

// How long after a post its repetition still counts as the same post
// (NewRun::digest). A program retries within a minute or two; two people
// sending byte for byte the same report within it would share one results
// page that shows exactly their figures.
inline constexpr std::int64_t retryWindowMs = 10 * 60 * 1000;

inline constexpr char handlesExhaustedText[] =
    "Could not store the run: every candidate handle was taken already";
inline constexpr char storeClosingText[] = "Could not store the run: the store is closing";

// The two refusals both backends give, `database` naming the database as the
// backend can ("The database" and its path, where it has one).
kelvo::Failure newerSchemaFailure(const std::string& database, int version);
kelvo::Failure foreignSchemaFailure(const std::string& database);

}  // namespace zelvor::site
