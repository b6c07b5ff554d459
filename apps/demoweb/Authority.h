// demoweb's certificate authority: a key and a self-signed CA certificate (made new, or kept from
// an earlier run so that whoever trusts it goes on trusting it), and a TLS server context per host name with a certificate that this authority issued
// for exactly that name (an IP address gets an IP subject name).
//
// Thread-safe: ContextFor may be called from every connection thread; contexts are made once per
// host and kept for the life of the program. Failures are reported as empty results.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <openssl/ssl.h>
#include <string>

namespace demoweb {

class Authority {
public:
    // Makes the authority's key and certificate; nullptr when OpenSSL cannot.
    static std::unique_ptr<Authority> Create();
    // The authority kept in these PEM texts; nullptr when they do not hold a CA certificate and its key.
    static std::unique_ptr<Authority> Load(const std::string& certificatePem, const std::string& keyPem);
    ~Authority();

    // The authority's certificate in PEM form, as a root's certificate store takes it.
    std::string CertificatePem() const;
    // The authority's private key in PEM form, for keeping it across runs.
    std::string KeyPem() const;

    // A server context presenting a certificate for host; nullptr on failure. Owned by the authority.
    SSL_CTX* ContextFor(const std::string& host);

private:
    Authority() = default;
    EVP_PKEY* m_key = nullptr;
    X509* m_certificate = nullptr;
    EVP_PKEY* m_leafKey = nullptr; // one key serves every host's certificate
    std::mutex m_lock;
    std::map<std::string, SSL_CTX*> m_contexts;
};

}
