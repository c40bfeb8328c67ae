// The log's one door to OpenSSL: SHA-256, HMAC-SHA-256 and the system's random bytes. Nothing
// else in the program includes an OpenSSL header. The library is loaded on first use, so the
// commands that need no crypto never load it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

using digest_t = std::array<uint8_t, 32>;  // a SHA-256 digest, an HMAC-SHA-256 tag or a key

// Whether the library could be loaded (every other call fails when not).
bool crypto_available();

// Fills out with bytes from the system's random generator; false when it has none to give.
bool random_bytes(uint8_t* out, size_t size);

// SHA-256 whose context is made once and reused for every message: a walk over a million
// entries must not pay for a context (and a provider look-up) per entry.
// A library failure is sticky: ok() turns false and stays false, and the values computed since
// are zeros; callers check ok() once after a batch instead of after every call.
class sha256_s {
public:
    sha256_s();
    ~sha256_s();
    sha256_s(const sha256_s&) = delete;
    sha256_s& operator=(const sha256_s&) = delete;

    bool ok() const { return ok_; }
    void begin();
    void add(const void* data, size_t size);
    digest_t end();

private:
    struct impl_s;
    std::unique_ptr<impl_s> impl_;
    bool ok_ = true;
};

// HMAC-SHA-256 with a key that stays set until the next set_key; failures as sha256_s.
class hmac_sha256_s {
public:
    hmac_sha256_s();
    ~hmac_sha256_s();
    hmac_sha256_s(const hmac_sha256_s&) = delete;
    hmac_sha256_s& operator=(const hmac_sha256_s&) = delete;

    bool ok() const { return ok_; }
    void set_key(const digest_t& key);
    digest_t mac(const void* data, size_t size);

private:
    struct impl_s;
    std::unique_ptr<impl_s> impl_;
    bool ok_ = true;
};

// Equal in time independent of where the first difference lies.
bool digests_equal(const digest_t& a, const digest_t& b);
