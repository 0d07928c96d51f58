#pragma once

#include <optional>
#include <string>

struct ssl_ctx_st;

namespace pelorin::service {

// The service's TLS identity: a certificate and its private key, both PEM.
struct Certificate {
  std::string certificatePem;
  std::string privateKeyPem;
};

// A fresh self-signed certificate for 127.0.0.1, ::1 and localhost (P-256,
// valid for ten years), which clients trust by naming it as their trust
// store. nullopt when OpenSSL fails.
std::optional<Certificate> generateSelfSignedCertificate();

// Reads a certificate and its key from PEM files; nullopt when either is
// missing or unreadable.
std::optional<Certificate> loadCertificate(const std::string& certificatePath,
                                           const std::string& privateKeyPath);

// Makes `context` present `certificate`; false when the PEM does not parse or
// the key does not match.
bool useCertificate(ssl_ctx_st& context, const Certificate& certificate);

}  // namespace pelorin::service
