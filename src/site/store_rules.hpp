// What every store backend shares: its schema's version, how often it asks
// for another handle, and the failures that are the store's own rather than
// its database's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "site/store.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

// The steps of the schema, the same in both backends; a database records how
// many it has taken.
inline constexpr int latestSchemaVersion = 6;

// Candidates asked for one run before it fails. With 128 random bits even a
// second candidate is never needed; a source that keeps repeating is broken.
inline constexpr std::size_t handleTries = 4;

// How long after a post its repetition still counts as the same post
// (NewRun::digest). A program retries within a minute or two; two people
// sending byte for byte the same report within it would share one results
// page that shows exactly their figures.
inline constexpr std::int64_t retryWindowMs = 10 * 60 * 1000;

// The history keeps the sums of buckets that ended settledAfterMs ago and
// reads only the newer ones from the store (HistoryCache). A run measured
// more than lateRunMs before it was received may land in a bucket summed up
// already, so storing one counts a history change (Store::historyChanges),
// as deleting runs does. A run received in time cannot: its bucket ends
// after it was received less lateRunMs, and a reader that missed it read
// before it was committed, so it would have to wait between the two longer
// than the twenty minutes between the limits.
inline constexpr std::int64_t lateRunMs = 10 * 60 * 1000;
inline constexpr std::int64_t settledAfterMs = 30 * 60 * 1000;

bool isLateRun(const NewRun& run);

// Store::historyChanges as both backends keep it: one row, one count.
inline constexpr char historyChangesSql[] = "SELECT changes FROM history_changes";
inline constexpr char countHistoryChangeSql[] = "UPDATE history_changes SET changes = changes + 1";

inline constexpr char handlesExhaustedText[] =
    "Could not store the run: every candidate handle was taken already";
inline constexpr char storeClosingText[] = "Could not store the run: the store is closing";

// The two refusals both backends give, `database` naming the database as the
// backend can ("The database" and its path, where it has one).
kelvo::Failure newerSchemaFailure(const std::string& database, int version);
kelvo::Failure foreignSchemaFailure(const std::string& database);

}  // namespace zelvor::site
