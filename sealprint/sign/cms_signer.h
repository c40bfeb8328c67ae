// sealprint's one door to OpenSSL: the lab's signing identity and the detached CMS signature
// of a report. No OpenSSL type crosses this header.
#pragma once

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>

// The files of a signing identity (PEM). The chain file is optional: a path that does not
// exist means no intermediate certificates.
struct identity_files_s {
    std::string key, certificate, chain;
};

// The private key, its certificate and the chain, owned by OpenSSL objects.
struct signing_identity_s;
struct identity_deleter_s {
    void operator()(signing_identity_s* identity) const;
};
using signing_identity_t = std::unique_ptr<signing_identity_s, identity_deleter_s>;

// Loads the identity and checks that it can sign at `now`: the key (read through OpenSSL's
// store, an RSA or EC key without a passphrase), the certificate that belongs to it, valid at
// `now` and meant for signatures, and every certificate of the chain, valid at `now`. Null on
// failure, with `error` as "<file>: <reason>". Nothing secret is ever put in `error`.
signing_identity_t load_signing_identity(const identity_files_s& files, time_t now,
                                         std::string& error);

// The certificate's subject on one line (RFC 2253, UTF-8) and the end of its validity
// ("2027-12-09 10:15:00 UTC"), for the log.
std::string identity_subject(const signing_identity_s& identity);
std::string identity_not_after(const signing_identity_s& identity);

// Bytes that are always enough for a signature by `identity`.
size_t signature_size_bound(const signing_identity_s& identity);

// The DER of a detached CMS SignedData over `first` followed by `second`: SHA-256, the
// certificate and the chain included, signed attributes content type, message digest and
// signing-certificate-v2 (CAdES), and no signing time (the PDF's /M carries it). False with
// `error` set when OpenSSL fails.
bool sign_detached(const signing_identity_s& identity, const char* first, size_t first_size,
                   const char* second, size_t second_size, std::string& der, std::string& error);
