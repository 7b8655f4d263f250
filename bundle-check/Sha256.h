// SHA-256 (FIPS 180-4), in our own code so that the bundle check builds
// for every target without a crypto library. The code signature's page,
// slot and resource hashes are SHA-256.

#ifndef BUNDLECHECK_SHA256_H
#define BUNDLECHECK_SHA256_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace bundlecheck {

class Sha256 {
 public:
  Sha256();
  void update(std::string_view bytes);
  // The 32-byte digest, as bytes. The object is spent afterwards.
  std::string finish();

 private:
  void block(const unsigned char* p);

  std::array<uint32_t, 8> state;
  std::array<unsigned char, 64> pending{};
  size_t pendingSize = 0;
  uint64_t length = 0;
};

// The digest of `bytes`, as 32 bytes.
std::string sha256(std::string_view bytes);

// `bytes` as lower-case hexadecimal.
std::string hexOf(std::string_view bytes);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_SHA256_H
