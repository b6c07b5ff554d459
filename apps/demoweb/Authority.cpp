#include "Authority.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

namespace demoweb {

namespace {

constexpr long kDay = 24 * 60 * 60;
// Browsers refuse server certificates that are valid for longer than 398 days.
constexpr long kLeafLifetime = 397 * kDay;
constexpr long kAuthorityLifetime = 10 * 365 * kDay;

EVP_PKEY* MakeKey()
{
    return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool SetRandomSerial(X509* certificate)
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] &= 0x7f; // serial numbers are positive
    BIGNUM* number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    const bool set = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
    BN_free(number);
    return set;
}

// A certificate for subject's key with common name, valid from a day ago for lifetime seconds.
X509* MakeCertificate(EVP_PKEY* subjectKey, const std::string& commonName, long lifetime)
{
    X509* certificate = X509_new();
    if (!certificate)
        return nullptr;
    X509_NAME* name = X509_get_subject_name(certificate);
    const bool ok = X509_set_version(certificate, 2) == 1 && SetRandomSerial(certificate)
        && X509_gmtime_adj(X509_getm_notBefore(certificate), -kDay)
        && X509_gmtime_adj(X509_getm_notAfter(certificate), lifetime) && X509_set_pubkey(certificate, subjectKey) == 1
        && X509_NAME_add_entry_by_txt(
               name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("demoweb"), -1, -1, 0)
            == 1
        && X509_NAME_add_entry_by_txt(
               name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0)
            == 1;
    if (!ok) {
        X509_free(certificate);
        return nullptr;
    }
    return certificate;
}

bool IsIpAddress(const std::string& host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}

std::unique_ptr<Authority> Authority::Create()
{
    std::unique_ptr<Authority> authority(new Authority);
    authority->m_key = MakeKey();
    authority->m_leafKey = MakeKey();
    if (!authority->m_key || !authority->m_leafKey)
        return nullptr;
    X509* certificate = MakeCertificate(authority->m_key, "demoweb authority", kAuthorityLifetime);
    if (!certificate)
        return nullptr;
    authority->m_certificate = certificate;
    const bool ok = X509_set_issuer_name(certificate, X509_get_subject_name(certificate)) == 1
        && AddExtension(certificate, certificate, NID_basic_constraints, "critical,CA:TRUE")
        && AddExtension(certificate, certificate, NID_key_usage, "critical,keyCertSign,cRLSign")
        && AddExtension(certificate, certificate, NID_subject_key_identifier, "hash")
        && X509_sign(certificate, authority->m_key, EVP_sha256()) > 0;
    return ok ? std::move(authority) : nullptr;
}

std::unique_ptr<Authority> Authority::Load(const std::string& certificatePem, const std::string& keyPem)
{
    std::unique_ptr<Authority> authority(new Authority);
    BIO* certificate = BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size()));
    BIO* key = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    authority->m_certificate = certificate ? PEM_read_bio_X509(certificate, nullptr, nullptr, nullptr) : nullptr;
    authority->m_key = key ? PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(certificate);
    BIO_free(key);
    authority->m_leafKey = MakeKey();
    const bool usable = authority->m_certificate && authority->m_key && authority->m_leafKey
        && X509_check_private_key(authority->m_certificate, authority->m_key) == 1
        && X509_check_ca(authority->m_certificate) == 1
        && X509_cmp_current_time(X509_get0_notAfter(authority->m_certificate)) > 0;
    return usable ? std::move(authority) : nullptr;
}

Authority::~Authority()
{
    for (auto& [host, context] : m_contexts)
        SSL_CTX_free(context);
    X509_free(m_certificate);
    EVP_PKEY_free(m_key);
    EVP_PKEY_free(m_leafKey);
}

std::string Authority::CertificatePem() const
{
    BIO* memory = BIO_new(BIO_s_mem());
    std::string pem;
    if (memory && PEM_write_bio_X509(memory, m_certificate) == 1) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(memory, &data);
        pem.assign(data, static_cast<size_t>(size));
    }
    BIO_free(memory);
    return pem;
}

std::string Authority::KeyPem() const
{
    BIO* memory = BIO_new(BIO_s_mem());
    std::string pem;
    if (memory && PEM_write_bio_PrivateKey(memory, m_key, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(memory, &data);
        pem.assign(data, static_cast<size_t>(size));
    }
    BIO_free(memory);
    return pem;
}

SSL_CTX* Authority::ContextFor(const std::string& host)
{
    std::lock_guard lock(m_lock);
    if (auto found = m_contexts.find(host); found != m_contexts.end())
        return found->second;

    X509* certificate = MakeCertificate(m_leafKey, host, kLeafLifetime);
    if (!certificate)
        return nullptr;
    const std::string alternativeName = (IsIpAddress(host) ? "IP:" : "DNS:") + host;
    bool ok = X509_set_issuer_name(certificate, X509_get_subject_name(m_certificate)) == 1
        && AddExtension(certificate, m_certificate, NID_basic_constraints, "critical,CA:FALSE")
        && AddExtension(certificate, m_certificate, NID_key_usage, "critical,digitalSignature")
        && AddExtension(certificate, m_certificate, NID_ext_key_usage, "serverAuth")
        && AddExtension(certificate, m_certificate, NID_subject_alt_name, alternativeName.c_str())
        && AddExtension(certificate, m_certificate, NID_authority_key_identifier, "keyid:always")
        && X509_sign(certificate, m_key, EVP_sha256()) > 0;

    SSL_CTX* context = ok ? SSL_CTX_new(TLS_server_method()) : nullptr;
    ok = context && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1
        && SSL_CTX_use_certificate(context, certificate) == 1 && SSL_CTX_use_PrivateKey(context, m_leafKey) == 1
        && SSL_CTX_add1_chain_cert(context, m_certificate) == 1;
    X509_free(certificate);
    if (!ok) {
        SSL_CTX_free(context);
        return nullptr;
    }
    m_contexts.emplace(host, context);
    return context;
}

}
