#include "log_crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <dlfcn.h>

namespace {

// libcrypto is loaded on first use, not linked: loading it (relocating some 400 KB of its tables,
// a hundred and more page faults) would cost every search and every append on a log that is not
// sealed about as much as the command itself, and those must stay as fast as they were. The
// functions' types come from the headers' declarations.
struct openssl_s {
    decltype(&OPENSSL_init_crypto) init;
    decltype(&RAND_bytes) rand_bytes;
    decltype(&EVP_MD_fetch) md_fetch;
    decltype(&EVP_MD_free) md_free;
    decltype(&EVP_MD_CTX_new) md_ctx_new;
    decltype(&EVP_MD_CTX_free) md_ctx_free;
    decltype(&EVP_DigestInit_ex2) digest_init;
    decltype(&EVP_DigestUpdate) digest_update;
    decltype(&EVP_DigestFinal_ex) digest_final;
    decltype(&EVP_MAC_fetch) mac_fetch;
    decltype(&EVP_MAC_free) mac_free;
    decltype(&EVP_MAC_CTX_new) mac_ctx_new;
    decltype(&EVP_MAC_CTX_free) mac_ctx_free;
    decltype(&EVP_MAC_CTX_set_params) mac_set_params;
    decltype(&EVP_MAC_init) mac_init;
    decltype(&EVP_MAC_update) mac_update;
    decltype(&EVP_MAC_final) mac_final;
    decltype(&OSSL_PARAM_construct_utf8_string) param_utf8;
    decltype(&OSSL_PARAM_construct_end) param_end;
    decltype(&CRYPTO_memcmp) memcmp;
};

template <typename F>
bool bind(void* library, const char* name, F& f) {
    f = reinterpret_cast<F>(dlsym(library, name));
    return f != nullptr;
}

// The library for the rest of the process (never unloaded); null when it cannot be loaded.
const openssl_s* openssl() {
    static const openssl_s* loaded = []() -> const openssl_s* {
        void* lib = dlopen(LOG_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
        static openssl_s api;
        const bool ok =
            lib && bind(lib, "OPENSSL_init_crypto", api.init) &&
            bind(lib, "RAND_bytes", api.rand_bytes) && bind(lib, "EVP_MD_fetch", api.md_fetch) &&
            bind(lib, "EVP_MD_free", api.md_free) && bind(lib, "EVP_MD_CTX_new", api.md_ctx_new) &&
            bind(lib, "EVP_MD_CTX_free", api.md_ctx_free) &&
            bind(lib, "EVP_DigestInit_ex2", api.digest_init) &&
            bind(lib, "EVP_DigestUpdate", api.digest_update) &&
            bind(lib, "EVP_DigestFinal_ex", api.digest_final) &&
            bind(lib, "EVP_MAC_fetch", api.mac_fetch) && bind(lib, "EVP_MAC_free", api.mac_free) &&
            bind(lib, "EVP_MAC_CTX_new", api.mac_ctx_new) &&
            bind(lib, "EVP_MAC_CTX_free", api.mac_ctx_free) &&
            bind(lib, "EVP_MAC_CTX_set_params", api.mac_set_params) &&
            bind(lib, "EVP_MAC_init", api.mac_init) &&
            bind(lib, "EVP_MAC_update", api.mac_update) &&
            bind(lib, "EVP_MAC_final", api.mac_final) &&
            bind(lib, "OSSL_PARAM_construct_utf8_string", api.param_utf8) &&
            bind(lib, "OSSL_PARAM_construct_end", api.param_end) &&
            bind(lib, "CRYPTO_memcmp", api.memcmp);
        // SHA-256 and HMAC come from the default provider whatever the system configuration
        // says; reading and applying that configuration (and the tables of every cipher) would
        // cost a sealed append a good part of its time.
        return ok && api.init(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                                  OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
                              nullptr) == 1
                   ? &api
                   : nullptr;
    }();
    return loaded;
}

struct md_free {
    void operator()(EVP_MD* md) const { openssl()->md_free(md); }
};
struct md_ctx_free {
    void operator()(EVP_MD_CTX* ctx) const { openssl()->md_ctx_free(ctx); }
};
struct mac_free {
    void operator()(EVP_MAC* mac) const { openssl()->mac_free(mac); }
};
struct mac_ctx_free {
    void operator()(EVP_MAC_CTX* ctx) const { openssl()->mac_ctx_free(ctx); }
};

}  // namespace

bool crypto_available() {
    return openssl() != nullptr;
}

bool random_bytes(uint8_t* out, size_t size) {
    return openssl() && openssl()->rand_bytes(out, static_cast<int>(size)) == 1;
}

struct sha256_s::impl_s {
    std::unique_ptr<EVP_MD, md_free> md;
    std::unique_ptr<EVP_MD_CTX, md_ctx_free> ctx;
};

sha256_s::sha256_s() : impl_(std::make_unique<impl_s>()) {
    if (const openssl_s* api = openssl()) {
        impl_->md.reset(api->md_fetch(nullptr, "SHA256", nullptr));
        impl_->ctx.reset(api->md_ctx_new());
    }
    ok_ = impl_->md && impl_->ctx;
}
sha256_s::~sha256_s() = default;

void sha256_s::begin() {
    ok_ = ok_ && openssl()->digest_init(impl_->ctx.get(), impl_->md.get(), nullptr) == 1;
}

void sha256_s::add(const void* data, size_t size) {
    ok_ = ok_ && openssl()->digest_update(impl_->ctx.get(), data, size) == 1;
}

digest_t sha256_s::end() {
    digest_t out{};
    unsigned int n = 0;
    ok_ = ok_ && openssl()->digest_final(impl_->ctx.get(), out.data(), &n) == 1 && n == out.size();
    return ok_ ? out : digest_t{};
}

struct hmac_sha256_s::impl_s {
    std::unique_ptr<EVP_MAC, mac_free> mac;
    std::unique_ptr<EVP_MAC_CTX, mac_ctx_free> ctx;
};

hmac_sha256_s::hmac_sha256_s() : impl_(std::make_unique<impl_s>()) {
    const openssl_s* api = openssl();
    if (api)
        impl_->mac.reset(api->mac_fetch(nullptr, "HMAC", nullptr));
    if (impl_->mac)
        impl_->ctx.reset(api->mac_ctx_new(impl_->mac.get()));
    ok_ = impl_->ctx != nullptr;
    if (ok_) {
        char sha256[] = "SHA256";
        const OSSL_PARAM params[] = {api->param_utf8(OSSL_MAC_PARAM_DIGEST, sha256, 0),
                                     api->param_end()};
        ok_ = api->mac_set_params(impl_->ctx.get(), params) == 1;
    }
}
hmac_sha256_s::~hmac_sha256_s() = default;

void hmac_sha256_s::set_key(const digest_t& key) {
    ok_ = ok_ && openssl()->mac_init(impl_->ctx.get(), key.data(), key.size(), nullptr) == 1;
}

digest_t hmac_sha256_s::mac(const void* data, size_t size) {
    // A null key restarts the context with the key already set, without deriving its pads again.
    EVP_MAC_CTX* ctx = impl_->ctx.get();
    digest_t out{};
    size_t n = 0;
    ok_ = ok_ && openssl()->mac_init(ctx, nullptr, 0, nullptr) == 1 &&
          openssl()->mac_update(ctx, static_cast<const unsigned char*>(data), size) == 1 &&
          openssl()->mac_final(ctx, out.data(), &n, out.size()) == 1 && n == out.size();
    return ok_ ? out : digest_t{};
}

bool digests_equal(const digest_t& a, const digest_t& b) {
    // Without the library no digest was computed to compare; the plain comparison answers.
    return openssl() ? openssl()->memcmp(a.data(), b.data(), a.size()) == 0 : a == b;
}
