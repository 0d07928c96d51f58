#include "service/certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

namespace pelorin::service {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

constexpr long kTenYears = 10L * 365 * 24 * 3600;

bool addExtension(X509* certificate, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

CertPtr selfSign(EVP_PKEY* key) {
  CertPtr certificate(X509_new());
  if (!certificate) return nullptr;
  X509* cert = certificate.get();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(std::time(nullptr)));
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), kTenYears);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Pelorin stand-in"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  const bool extended =
      addExtension(cert, NID_basic_constraints, "critical,CA:TRUE") &&
      addExtension(cert, NID_key_usage, "critical,digitalSignature,keyCertSign") &&
      addExtension(cert, NID_subject_key_identifier, "hash") &&
      addExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,IP:::1,DNS:localhost");
  if (!extended || X509_sign(cert, key, EVP_sha256()) == 0) return nullptr;
  return certificate;
}

std::string drain(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace

std::optional<Certificate> generateSelfSignedCertificate() {
  KeyPtr key(EVP_EC_gen("P-256"));
  if (!key) return std::nullopt;
  CertPtr certificate = selfSign(key.get());
  if (!certificate) return std::nullopt;

  BioPtr certBio(BIO_new(BIO_s_mem()));
  BioPtr keyBio(BIO_new(BIO_s_mem()));
  if (!certBio || !keyBio || PEM_write_bio_X509(certBio.get(), certificate.get()) != 1 ||
      PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
          1) {
    return std::nullopt;
  }
  return Certificate{drain(certBio.get()), drain(keyBio.get())};
}

std::optional<Certificate> loadCertificate(const std::string& certificatePath,
                                           const std::string& privateKeyPath) {
  auto certificate = readFile(certificatePath);
  auto key = readFile(privateKeyPath);
  if (!certificate || !key) return std::nullopt;
  return Certificate{std::move(*certificate), std::move(*key)};
}

bool useCertificate(ssl_ctx_st& context, const Certificate& certificate) {
  BioPtr certBio(BIO_new_mem_buf(certificate.certificatePem.data(),
                                 static_cast<int>(certificate.certificatePem.size())));
  BioPtr keyBio(BIO_new_mem_buf(certificate.privateKeyPem.data(),
                                static_cast<int>(certificate.privateKeyPem.size())));
  if (!certBio || !keyBio) return false;
  CertPtr cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
  KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  return cert && key && SSL_CTX_use_certificate(&context, cert.get()) == 1 &&
         SSL_CTX_use_PrivateKey(&context, key.get()) == 1 &&
         SSL_CTX_check_private_key(&context) == 1;
}

}  // namespace pelorin::service
