#include "site/connection_table.hpp"

namespace zelvor::site {

ConnectionTable::Admission ConnectionTable::admit(const std::string& address,
                                                  std::weak_ptr<HeldConnection> connection,
                                                  Clock::time_point now) {
  Admission admission;
  const std::lock_guard lock(mutex_);
  const auto held = perAddress_.find(address);
  if (address != limits_.exemptAddress && held != perAddress_.end() &&
      held->second >= limits_.perAddress) {
    admission.addressFull = true;
    return admission;
  }
  if (entries_.size() >= limits_.total) {
    if (waiting_.empty()) return admission;
    const auto longest = entries_.find(waiting_.begin()->second);
    admission.evicted = longest->second.connection.lock();
    erase(longest);
  }
  const Id id = nextId_++;
  entries_.emplace(id, Entry{address, std::move(connection), now});
  waiting_.emplace(now, id);
  ++perAddress_[address];
  admission.id = id;
  return admission;
}

void ConnectionTable::waiting(Id id, Clock::time_point since) {
  const std::lock_guard lock(mutex_);
  const auto entry = entries_.find(id);
  if (entry == entries_.end()) return;
  stopWaiting(id, entry->second);
  entry->second.waitingSince = since;
  waiting_.emplace(since, id);
}

void ConnectionTable::busy(Id id) {
  const std::lock_guard lock(mutex_);
  const auto entry = entries_.find(id);
  if (entry != entries_.end()) stopWaiting(id, entry->second);
}

void ConnectionTable::remove(Id id) {
  const std::lock_guard lock(mutex_);
  const auto entry = entries_.find(id);
  if (entry != entries_.end()) erase(entry);
}

std::vector<std::shared_ptr<HeldConnection>> ConnectionTable::all() const {
  std::vector<std::shared_ptr<HeldConnection>> connections;
  const std::lock_guard lock(mutex_);
  connections.reserve(entries_.size());
  for (const auto& [id, entry] : entries_)
    if (auto connection = entry.connection.lock()) connections.push_back(std::move(connection));
  return connections;
}

std::size_t ConnectionTable::size() const {
  const std::lock_guard lock(mutex_);
  return entries_.size();
}

void ConnectionTable::stopWaiting(Id id, Entry& entry) {
  if (!entry.waitingSince) return;
  waiting_.erase({*entry.waitingSince, id});
  entry.waitingSince.reset();
}

void ConnectionTable::erase(std::map<Id, Entry>::iterator entry) {
  stopWaiting(entry->first, entry->second);
  const auto held = perAddress_.find(entry->second.address);
  if (--held->second == 0) perAddress_.erase(held);
  entries_.erase(entry);
}

}  // namespace zelvor::site
