#include "sign/cms_signer.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/store.h>
#include <openssl/ui.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

template <typename T, void (*free_fn)(T*)>
struct openssl_free_s {
    void operator()(T* p) const { free_fn(p); }
};
template <typename T, void (*free_fn)(T*)>
using owned = std::unique_ptr<T, openssl_free_s<T, free_fn>>;

using bio_t = owned<BIO, BIO_free_all>;
using cms_t = owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using md_ctx_t = owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using pkey_t = owned<EVP_PKEY, EVP_PKEY_free>;
using store_t = std::unique_ptr<OSSL_STORE_CTX, int (*)(OSSL_STORE_CTX*)>;
using store_info_t = owned<OSSL_STORE_INFO, OSSL_STORE_INFO_free>;
using x509_t = owned<X509, X509_free>;

void free_certificates(STACK_OF(X509) * certificates) {
    sk_X509_pop_free(certificates, X509_free);
}
using certificates_t = owned<STACK_OF(X509), free_certificates>;

// What a failed call left in OpenSSL's error queue says nothing a reader of our line needs;
// it is dropped so it never shows up with a later, unrelated failure.
bool fail(std::string& error, const std::string& reason) {
    ERR_clear_error();
    error = reason;
    return false;
}

bool fail(std::string& error, const std::string& file, const std::string& reason) {
    return fail(error, file + ": " + reason);
}

// The file is there and can be opened for reading: the reason OpenSSL would hide otherwise.
bool readable_file(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, path, std::string("cannot be read (") + std::strerror(errno) + ")");
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return regular || fail(error, path, "is not a regular file");
}

std::string utc_text(const ASN1_TIME* time) {
    struct tm tm {};
    char text[32];
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1 ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0) {
        return "an unreadable date";
    }
    return text;
}

// `certificate` valid at `now`; `error` names `file` otherwise.
bool valid_at(X509* certificate, time_t now, const std::string& file, std::string& error) {
    const ASN1_TIME* not_before = X509_get0_notBefore(certificate);
    const ASN1_TIME* not_after = X509_get0_notAfter(certificate);
    const int started = X509_cmp_time(not_before, &now);
    const int ends = X509_cmp_time(not_after, &now);
    if (started == 0 || ends == 0)
        return fail(error, file, "a certificate whose validity cannot be read");
    if (started > 0)
        return fail(error, file, "a certificate not valid before " + utc_text(not_before));
    if (ends < 0)
        return fail(error, file, "a certificate that expired on " + utc_text(not_after));
    return true;
}

pkey_t load_key(const std::string& path, std::string& error) {
    if (!readable_file(path, error))
        return nullptr;
    // The store takes any URI, a token's too; UI_null: a key behind a passphrase, which nobody
    // is there to type, fails instead of prompting.
    store_t store(OSSL_STORE_open(path.c_str(), UI_null(), nullptr, nullptr, nullptr),
                  OSSL_STORE_close);
    pkey_t key;
    if (store && OSSL_STORE_expect(store.get(), OSSL_STORE_INFO_PKEY) == 1) {
        for (int tries = 0; !key && tries < 16 && !OSSL_STORE_eof(store.get()); ++tries) {
            store_info_t info(OSSL_STORE_load(store.get()));
            if (info && OSSL_STORE_INFO_get_type(info.get()) == OSSL_STORE_INFO_PKEY)
                key.reset(OSSL_STORE_INFO_get1_PKEY(info.get()));
        }
    }
    if (!key) {
        fail(error, path, "holds no private key that can be read without a passphrase");
        return nullptr;
    }
    const int type = EVP_PKEY_get_base_id(key.get());
    if (type != EVP_PKEY_RSA && type != EVP_PKEY_EC) {
        fail(error, path, "holds a key that is neither RSA nor EC");
        return nullptr;
    }
    ERR_clear_error();
    return key;
}

// Every certificate in a PEM file, in order; false when the file holds something else.
bool read_certificates(const std::string& path, certificates_t& out, std::string& error) {
    if (!readable_file(path, error))
        return false;
    bio_t file(BIO_new_file(path.c_str(), "r"));
    out.reset(sk_X509_new_null());
    if (!file || !out)
        return fail(error, path, "cannot be read");
    while (X509* certificate = PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr)) {
        if (!sk_X509_push(out.get(), certificate)) {
            X509_free(certificate);
            return fail(error, path, "cannot be read (out of memory)");
        }
    }
    // The end of the file shows as "no start line"; anything else is a broken certificate.
    const unsigned long last = ERR_peek_last_error();
    const bool at_end =
        ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
    if (!at_end || sk_X509_num(out.get()) == 0)
        return fail(error, path, "holds no PEM certificate that can be read");
    ERR_clear_error();
    return true;
}

int der_size(X509* certificate) {
    return std::max(0, i2d_X509(certificate, nullptr));
}

// DER length octets of a content of `size` bytes.
std::string der_length(size_t size) {
    if (size < 0x80)
        return std::string(1, static_cast<char>(size));
    std::string octets;
    for (; size > 0; size >>= 8)
        octets.insert(octets.begin(), static_cast<char>(size & 0xff));
    return static_cast<char>(0x80 | octets.size()) + octets;
}

// OpenSSL signs a SignerInfo only with a signing-time attribute, which it adds when there is
// none (CMS_SignerInfo_sign); PAdES wants none (the claimed time is the dictionary's /M). So the
// signature over the signed attributes is made here, with OpenSSL's EVP functions: over their DER
// as a SET OF, sorted the way DER sorts it, which is how OpenSSL writes them out and how
// verifiers read them back.
bool sign_attributes(CMS_SignerInfo* signer, EVP_PKEY* key) {
    std::vector<std::string> attributes;
    for (int i = 0; i < CMS_signed_get_attr_count(signer); ++i) {
        unsigned char* der = nullptr;
        const int size = i2d_X509_ATTRIBUTE(CMS_signed_get_attr(signer, i), &der);
        if (size <= 0)
            return false;
        attributes.emplace_back(reinterpret_cast<char*>(der), static_cast<size_t>(size));
        OPENSSL_free(der);
    }
    std::sort(attributes.begin(), attributes.end(), [](const std::string& a, const std::string& b) {
        const int order = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
        return order != 0 ? order < 0 : a.size() < b.size();
    });
    std::string set;
    for (const std::string& attribute : attributes)
        set += attribute;
    set = '\x31' + der_length(set.size()) + set;

    md_ctx_t context(EVP_MD_CTX_new());
    size_t size = 0;
    const auto* signed_bytes = reinterpret_cast<const unsigned char*>(set.data());
    if (!context ||
        EVP_DigestSignInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key, nullptr) !=
            1 ||
        EVP_DigestSign(context.get(), nullptr, &size, signed_bytes, set.size()) != 1) {
        return false;
    }
    std::vector<unsigned char> signature(size);
    if (EVP_DigestSign(context.get(), signature.data(), &size, signed_bytes, set.size()) != 1)
        return false;
    return ASN1_STRING_set(CMS_SignerInfo_get0_signature(signer), signature.data(),
                           static_cast<int>(size)) == 1;
}

}  // namespace

struct signing_identity_s {
    pkey_t key;
    x509_t certificate;
    certificates_t chain;
};

void identity_deleter_s::operator()(signing_identity_s* identity) const {
    delete identity;
}

signing_identity_t load_signing_identity(const identity_files_s& files, time_t now,
                                         std::string& error) {
    signing_identity_t identity(new signing_identity_s);
    identity->key = load_key(files.key, error);
    if (!identity->key)
        return nullptr;

    certificates_t certificates;
    if (!read_certificates(files.certificate, certificates, error))
        return nullptr;
    // The first certificate is the signer's; a chain belongs in the chain file.
    identity->certificate.reset(sk_X509_shift(certificates.get()));
    X509* certificate = identity->certificate.get();
    if (X509_check_private_key(certificate, identity->key.get()) != 1) {
        fail(error, files.certificate,
             "a certificate that does not belong to the key in " + files.key);
        return nullptr;
    }
    if (!valid_at(certificate, now, files.certificate, error))
        return nullptr;
    const bool restricted = (X509_get_extension_flags(certificate) & EXFLAG_KUSAGE) != 0;
    if (restricted &&
        (X509_get_key_usage(certificate) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) == 0) {
        fail(error, files.certificate, "a certificate whose key usage does not allow signatures");
        return nullptr;
    }

    struct stat st;
    if (stat(files.chain.c_str(), &st) != 0 && errno == ENOENT) {
        identity->chain.reset(sk_X509_new_null());
    } else if (!read_certificates(files.chain, identity->chain, error)) {
        return nullptr;
    }
    for (int i = 0; i < sk_X509_num(identity->chain.get()); ++i) {
        if (!valid_at(sk_X509_value(identity->chain.get(), i), now, files.chain, error))
            return nullptr;
    }
    return identity;
}

std::string identity_subject(const signing_identity_s& identity) {
    bio_t text(BIO_new(BIO_s_mem()));
    if (!text || X509_NAME_print_ex(text.get(), X509_get_subject_name(identity.certificate.get()),
                                    0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        return std::string();
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(text.get(), &data);
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::string identity_not_after(const signing_identity_s& identity) {
    return utc_text(X509_get0_notAfter(identity.certificate.get()));
}

size_t signature_size_bound(const signing_identity_s& identity) {
    X509* certificate = identity.certificate.get();
    size_t bound = static_cast<size_t>(der_size(certificate));
    for (int i = 0; i < sk_X509_num(identity.chain.get()); ++i)
        bound += static_cast<size_t>(der_size(sk_X509_value(identity.chain.get(), i)));
    // The issuer's name and the serial number appear twice more (signer identifier and
    // signing-certificate-v2); attributes, algorithm identifiers and framing take well under
    // the fixed allowance.
    bound += 2 * static_cast<size_t>(
                     std::max(0, i2d_X509_NAME(X509_get_issuer_name(certificate), nullptr)));
    bound += static_cast<size_t>(std::max(0, EVP_PKEY_get_size(identity.key.get())));
    return bound + 2048;
}

bool sign_detached(const signing_identity_s& identity, const char* first, size_t first_size,
                   const char* second, size_t second_size, std::string& der, std::string& error) {
    // CMS_PARTIAL: the SignerInfo (with its signing-certificate-v2 attribute) is made but not
    // signed, which sign_attributes does.
    const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_CADES | CMS_NOSMIMECAP | CMS_PARTIAL;
    cms_t cms(CMS_sign(nullptr, nullptr, identity.chain.get(), nullptr, flags));
    CMS_SignerInfo* signer = cms ? CMS_add1_signer(cms.get(), identity.certificate.get(),
                                                   identity.key.get(), EVP_sha256(), flags)
                                 : nullptr;
    if (!signer)
        return fail(error, "OpenSSL could not set up the signature");

    // The digest of both parts, fed in place.
    md_ctx_t context(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned digest_size = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), first, first_size) != 1 ||
        EVP_DigestUpdate(context.get(), second, second_size) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &digest_size) != 1) {
        return fail(error, "OpenSSL could not digest the report");
    }
    if (CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                    OBJ_nid2obj(NID_pkcs7_data), -1) != 1 ||
        CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest,
                                    static_cast<int>(digest_size)) != 1 ||
        !sign_attributes(signer, identity.key.get())) {
        return fail(error, "OpenSSL could not sign the report");
    }
    unsigned char* out = nullptr;
    const int size = i2d_CMS_ContentInfo(cms.get(), &out);
    if (size <= 0)
        return fail(error, "OpenSSL could not encode the signature");
    der.assign(reinterpret_cast<char*>(out), static_cast<size_t>(size));
    OPENSSL_free(out);
    return true;
}
