#include "test_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace {

EVP_PKEY* NewKey() {
    return EVP_EC_gen("P-256");
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (extension == nullptr) {
        throw std::runtime_error("bad extension " + value);
    }
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

X509* NewCertificate(const std::string& commonName, EVP_PKEY* key, long serial, int fromDays,
                     int toDays) {
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 86400L * fromDays);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400L * toDays);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return certificate;
}

void WritePem(const std::string& path, X509* first, X509* second, EVP_PKEY* key) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    if (first != nullptr)
        PEM_write_X509(file, first);
    if (second != nullptr)
        PEM_write_X509(file, second);
    if (key != nullptr)
        PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(file);
}

}  // namespace

TestPki::TestPki(const std::string& folder, const std::string& name)
    : folder_(folder), name_(name), caFile_(folder + "/" + name + "-ca.pem") {
    EVP_PKEY* key = NewKey();
    X509* ca = NewCertificate(name + " test CA", key, 1, -1, 30);
    X509_set_issuer_name(ca, X509_get_subject_name(ca));
    AddExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca, ca, NID_subject_key_identifier, "hash");
    X509_sign(ca, key, EVP_sha256());
    WritePem(caFile_, ca, nullptr, nullptr);
    caKey_ = key;
    caCert_ = ca;
}

TestPki::~TestPki() {
    EVP_PKEY_free(static_cast<EVP_PKEY*>(caKey_));
    X509_free(static_cast<X509*>(caCert_));
}

TestPki::Issued TestPki::Issue(const std::string& name, const std::vector<std::string>& dnsNames,
                               const std::vector<std::string>& ipAddresses, int fromDays,
                               int toDays) const {
    static long serial = 100;
    auto* ca = static_cast<X509*>(caCert_);
    EVP_PKEY* key = NewKey();
    X509* certificate = NewCertificate(name, key, ++serial, fromDays, toDays);
    X509_set_issuer_name(certificate, X509_get_subject_name(ca));
    std::string names;
    for (const std::string& dns : dnsNames) {
        names += (names.empty() ? "DNS:" : ",DNS:") + dns;
    }
    for (const std::string& ip : ipAddresses) {
        names += (names.empty() ? "IP:" : ",IP:") + ip;
    }
    AddExtension(certificate, ca, NID_subject_alt_name, names);
    AddExtension(certificate, ca, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(certificate, ca, NID_ext_key_usage, "serverAuth");
    AddExtension(certificate, ca, NID_authority_key_identifier, "keyid:always");
    X509_sign(certificate, static_cast<EVP_PKEY*>(caKey_), EVP_sha256());
    Issued issued{folder_ + "/" + name + "-cert.pem", folder_ + "/" + name + "-key.pem"};
    WritePem(issued.certificateFile, certificate, nullptr, nullptr);
    WritePem(issued.keyFile, nullptr, nullptr, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return issued;
}
