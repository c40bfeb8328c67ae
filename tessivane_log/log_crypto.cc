#include "log_crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

struct md_free {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct md_ctx_free {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct mac_free {
    void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct mac_ctx_free {
    void operator()(EVP_MAC_CTX* ctx) const { EVP_MAC_CTX_free(ctx); }
};

}  // namespace

bool random_bytes(uint8_t* out, size_t size) {
    return RAND_bytes(out, static_cast<int>(size)) == 1;
}

struct sha256_s::impl_s {
    std::unique_ptr<EVP_MD, md_free> md{EVP_MD_fetch(nullptr, "SHA256", nullptr)};
    std::unique_ptr<EVP_MD_CTX, md_ctx_free> ctx{EVP_MD_CTX_new()};
};

sha256_s::sha256_s() : impl_(std::make_unique<impl_s>()) { ok_ = impl_->md && impl_->ctx; }
sha256_s::~sha256_s() = default;

void sha256_s::begin() {
    ok_ = ok_ && EVP_DigestInit_ex2(impl_->ctx.get(), impl_->md.get(), nullptr) == 1;
}

void sha256_s::add(const void* data, size_t size) {
    ok_ = ok_ && EVP_DigestUpdate(impl_->ctx.get(), data, size) == 1;
}

digest_t sha256_s::end() {
    digest_t out{};
    unsigned int n = 0;
    ok_ = ok_ && EVP_DigestFinal_ex(impl_->ctx.get(), out.data(), &n) == 1 && n == out.size();
    return ok_ ? out : digest_t{};
}

struct hmac_sha256_s::impl_s {
    std::unique_ptr<EVP_MAC, mac_free> mac{EVP_MAC_fetch(nullptr, "HMAC", nullptr)};
    std::unique_ptr<EVP_MAC_CTX, mac_ctx_free> ctx;
};

hmac_sha256_s::hmac_sha256_s() : impl_(std::make_unique<impl_s>()) {
    if (impl_->mac)
        impl_->ctx.reset(EVP_MAC_CTX_new(impl_->mac.get()));
    char sha256[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, sha256, 0), OSSL_PARAM_END};
    ok_ = impl_->ctx && EVP_MAC_CTX_set_params(impl_->ctx.get(), params) == 1;
}
hmac_sha256_s::~hmac_sha256_s() = default;

void hmac_sha256_s::set_key(const digest_t& key) {
    ok_ = ok_ && EVP_MAC_init(impl_->ctx.get(), key.data(), key.size(), nullptr) == 1;
}

digest_t hmac_sha256_s::mac(const void* data, size_t size) {
    // A null key restarts the context with the key already set, without deriving its pads again.
    EVP_MAC_CTX* ctx = impl_->ctx.get();
    digest_t out{};
    size_t n = 0;
    ok_ = ok_ && EVP_MAC_init(ctx, nullptr, 0, nullptr) == 1 &&
          EVP_MAC_update(ctx, static_cast<const unsigned char*>(data), size) == 1 &&
          EVP_MAC_final(ctx, out.data(), &n, out.size()) == 1 && n == out.size();
    return ok_ ? out : digest_t{};
}

bool digests_equal(const digest_t& a, const digest_t& b) {
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}
