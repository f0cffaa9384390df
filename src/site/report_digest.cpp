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

}  // namespace zelvor::site
