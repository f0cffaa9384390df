#include "site/report_digest.hpp"

#include <openssl/evp.h>

#include "support/failure.hpp"

namespace zelvor::site {

std::string reportDigest(std::string_view report) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(report.data(), report.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    throw kelvo::Failure("Could not take the report's digest");
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string postDigest(std::string_view report, const std::optional<std::string>& label,
                       std::optional<std::int64_t> measuredAtMs) {
  if (!label && !measuredAtMs) return reportDigest(report);
  // A control character no label, time or report's first line holds keeps
  // the parts apart.
  constexpr char separator = '\x01';
  std::string whole;
  whole.reserve(report.size() + 96);
  whole += separator;
  if (label) whole += *label;
  whole += separator;
  if (measuredAtMs) whole += std::to_string(*measuredAtMs);
  whole += separator;
  whole += report;
  return reportDigest(whole);
}

}  // namespace zelvor::site
