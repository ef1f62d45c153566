#pragma once

#include <string>
#include <vector>

// Certificates made at test time: a certificate authority and server certificates it signs,
// written as PEM files into a folder. Keys are P-256, so making them costs milliseconds.
class TestPki {
  public:
    // Makes a CA named `name` and writes "<name>-ca.pem" into `folder`.
    TestPki(const std::string& folder, const std::string& name);
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    const std::string& CaFile() const { return caFile_; }

    struct Issued {
        std::string certificateFile;  // the server's certificate alone, as sites send it
        std::string keyFile;
    };
    // A server certificate for these DNS names and IP addresses, valid from `fromDays` to
    // `toDays` days from now (negative: in the past).
    Issued Issue(const std::string& name, const std::vector<std::string>& dnsNames,
                 const std::vector<std::string>& ipAddresses, int fromDays = -1,
                 int toDays = 30) const;

  private:
    std::string folder_;
    std::string name_;
    std::string caFile_;
    void* caKey_ = nullptr;   // EVP_PKEY
    void* caCert_ = nullptr;  // X509
};
