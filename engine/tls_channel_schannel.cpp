// TLS on Windows: the system's own library (Schannel), the system's certificate store, and the
// same reasons in failed.txt as the other build gives for the same faults.
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
// The socket headers first: windows.h must not bring the old socket header.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <vector>

#include "engine/tls_channel.h"

namespace {

// The most a record can hold with its header and trailer; the reads are sized to take one whole.
constexpr std::size_t kReceiveBlock = 16 * 1024 + 512;
// No TLS message comes near this: a server that sends more without completing one is broken.
constexpr std::size_t kMostUndecrypted = 1024 * 1024;
const char* const kTooLong = "TLS error: the server's message is too long";

enum class Received { kSome, kClosed, kNothingYet, kFailed, kTooMuch };

struct CertificateStore {
    HCERTSTORE store = nullptr;
    ~CertificateStore() {
        if (store != nullptr) {
            CertCloseStore(store, 0);
        }
    }
};

struct Chain {
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ~Chain() {
        if (chain != nullptr) {
            CertFreeCertificateChain(chain);
        }
    }
};

struct Certificate {
    PCCERT_CONTEXT context = nullptr;
    ~Certificate() {
        if (context != nullptr) {
            CertFreeCertificateContext(context);
        }
    }
};

// Adds the PEM certificates of one file to `store`; how many were added.
int AddPemCertificates(HCERTSTORE store, const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string pem = text.str();
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = pem.find(kBegin); at != std::string::npos;
         at = pem.find(kBegin, at + 1)) {
        const std::size_t end = pem.find(kEnd, at);
        if (end == std::string::npos) {
            break;
        }
        const std::string block = pem.substr(at, end + kEnd.size() - at);
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            continue;
        }
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                 CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                             CERT_STORE_ADD_USE_EXISTING, nullptr)) {
            ++added;
        }
    }
    return added;
}

// What a user trusts beyond the system, as the other build honours it (a private CA): the PEM
// certificates of SSL_CERT_FILE and of the files in SSL_CERT_DIR. Read once per process; null
// when there are none.
HCERTSTORE ExtraRoots() {
    static std::once_flag once;
    static CertificateStore roots;
    std::call_once(once, [] {
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        if (store == nullptr) {
            return;
        }
        int added = 0;
        if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
            added += AddPemCertificates(store, file);
        }
        if (const char* folder = std::getenv("SSL_CERT_DIR");
            folder != nullptr && *folder != '\0') {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                if (entry.is_regular_file(error)) {
                    added += AddPemCertificates(store, entry.path());
                }
            }
        }
        if (added > 0) {
            roots.store = store;
        } else {
            CertCloseStore(store, 0);
        }
    });
    return roots.store;
}

// One credential for the process: TLS 1.2 as the client, and the server's certificate checked
// here rather than by the library, so that SSL_CERT_FILE and IP addresses are honoured.
CredHandle* ClientCredential(std::string& error) {
    static std::once_flag once;
    static CredHandle credential;
    static bool ready = false;
    static std::string failure;
    std::call_once(once, [] {
        SCHANNEL_CRED settings{};
        settings.dwVersion = SCHANNEL_CRED_VERSION;
        settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TimeStamp expiry;
        const SECURITY_STATUS status = AcquireCredentialsHandleA(
            nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &settings,
            nullptr, nullptr, &credential, &expiry);
        ready = status == SEC_E_OK;
        if (!ready) {
            failure = "TLS cannot be set up (" + std::to_string(static_cast<long>(status)) + ")";
        }
    });
    error = failure;
    return ready ? &credential : nullptr;
}

std::string HexCode(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::string SystemText(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    return result.empty() ? "error " + HexCode(error) : result + " (" + HexCode(error) + ")";
}

// Whether the certificate names this IP address among its alternative names.
bool NamesAddress(PCCERT_CONTEXT certificate, const std::string& host) {
    BYTE address[16];
    std::size_t size = 0;
    if (inet_pton(AF_INET, host.c_str(), address) == 1) {
        size = 4;
    } else if (inet_pton(AF_INET6, host.c_str(), address) == 1) {
        size = 16;
    } else {
        return false;
    }
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD namesSize = 0;
    if (extension == nullptr ||
        !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                             &namesSize)) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                entry.IPAddress.cbData == size &&
                std::memcmp(entry.IPAddress.pbData, address, size) == 0;
    }
    LocalFree(names);
    return found;
}

// Checks the server's chain against the system's store (and SSL_CERT_FILE), and its name or
// address against `host`; empty when it holds, else the reason as the other build words it.
std::string VerifyServer(PCCERT_CONTEXT certificate, const std::string& host, bool isAddress) {
    const HCERTSTORE extraRoots = ExtraRoots();
    // The certificates the server sent, and the user's own CAs, help build the chain.
    CertificateStore helpers;
    helpers.store = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (helpers.store == nullptr) {
        return "TLS cannot check the certificate";
    }
    CertAddStoreToCollection(helpers.store, certificate->hCertStore, 0, 0);
    if (extraRoots != nullptr) {
        CertAddStoreToCollection(helpers.store, extraRoots, 0, 0);
    }
    LPSTR serverUsage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = serverUsage;
    Chain chain;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, helpers.store, &parameters, 0,
                                 nullptr, &chain.chain)) {
        return "certificate verify failed: " + SystemText(GetLastError());
    }
    // A root the system does not know is trusted when the user named it in SSL_CERT_FILE.
    bool userRoot = false;
    if (extraRoots != nullptr && chain.chain->cChain > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain.chain->rgpChain[0];
        if (simple->cElement > 0) {
            const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
            Certificate found;
            found.context = CertFindCertificateInStore(extraRoots, X509_ASN_ENCODING, 0,
                                                       CERT_FIND_EXISTING, root, nullptr);
            userRoot = found.context != nullptr;
        }
    }
    // The chain's own verdict first: every system words it, though not every one lets the SSL
    // policy below act on it.
    DWORD chainErrors = chain.chain->TrustStatus.dwErrorStatus;
    if (userRoot) {
        chainErrors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    }
    if (chainErrors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        return "certificate verify failed: unable to get local issuer certificate";
    }
    if (chainErrors & CERT_TRUST_IS_NOT_TIME_VALID) {
        return "certificate verify failed: certificate has expired";
    }
    // Revocation is not asked for, so its "unknown" is no verdict.
    chainErrors &= ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                       CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (chainErrors != 0) {
        return "certificate verify failed: the chain is not valid (" + HexCode(chainErrors) + ")";
    }
    std::wstring wideHost(host.begin(), host.end());
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // Names are matched by the system; addresses below, among the alternative names.
    ssl.pwszServerName = isAddress ? nullptr : wideHost.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = userRoot ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.chain, &policy, &status)) {
        return "certificate verify failed: " + SystemText(GetLastError());
    }
    switch (static_cast<DWORD>(status.dwError)) {
        case 0:
            break;
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        case static_cast<DWORD>(CERT_E_CHAINING):
            return "certificate verify failed: unable to get local issuer certificate";
        case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
            return "certificate verify failed: hostname mismatch";
        case static_cast<DWORD>(CERT_E_EXPIRED):
            return "certificate verify failed: certificate has expired";
        default:
            return "certificate verify failed: " + SystemText(status.dwError);
    }
    if (isAddress && !NamesAddress(certificate, host)) {
        return "certificate verify failed: IP address mismatch";
    }
    return {};
}

}  // namespace

struct CTlsChannel::Session {
    SOCKET socket = INVALID_SOCKET;
    std::string host;
    bool isAddress = false;
    CredHandle* credential = nullptr;
    CtxtHandle context{};
    bool haveContext = false;
    bool established = false;
    SecPkgContext_StreamSizes sizes{};
    std::vector<char> incoming;    // received, not yet decrypted
    bool needMore = false;         // `incoming` holds no whole message for the handshake yet
    int credentialAsks = 0;        // times the server asked for a client certificate
    std::vector<char> outgoing;    // to send: handshake tokens or one encrypted record
    std::size_t outgoingSent = 0;  // of `outgoing`
    std::size_t recordPlain = 0;   // the plain bytes in the record waiting in `outgoing`
    std::vector<char> plain;       // decrypted, not yet read
    std::size_t plainRead = 0;     // of `plain`
    bool peerClosed = false;       // the TLS close came

    ~Session() {
        if (haveContext) {
            DeleteSecurityContext(&context);
        }
    }

    // Sends what waits in `outgoing`: kDone once all of it has gone, kWantWrite while the socket
    // takes no more, kFailed (with `failure` as the reason) when sending failed.
    Step Flush(std::string& reason, const char* failure) {
        while (outgoingSent < outgoing.size()) {
            const int sent = ::send(socket, outgoing.data() + outgoingSent,
                                    static_cast<int>(outgoing.size() - outgoingSent), 0);
            if (sent == SOCKET_ERROR) {
                if (WSAGetLastError() == WSAEWOULDBLOCK) {
                    return Step::kWantWrite;
                }
                reason = failure;
                return Step::kFailed;
            }
            outgoingSent += static_cast<std::size_t>(sent);
        }
        outgoing.clear();
        outgoingSent = 0;
        return Step::kDone;
    }

    // Receives more into `incoming`.
    Received ReceiveMore() {
        const std::size_t old = incoming.size();
        if (old >= kMostUndecrypted) {
            return Received::kTooMuch;
        }
        incoming.resize(old + kReceiveBlock);
        const int received =
            ::recv(socket, incoming.data() + old, static_cast<int>(kReceiveBlock), 0);
        incoming.resize(old + (received > 0 ? static_cast<std::size_t>(received) : 0));
        if (received == SOCKET_ERROR) {
            return WSAGetLastError() == WSAEWOULDBLOCK ? Received::kNothingYet : Received::kFailed;
        }
        return received > 0 ? Received::kSome : Received::kClosed;
    }

    // Keeps only the bytes that the library did not take (an EXTRA buffer at the end).
    void KeepExtra(const SecBuffer* buffers, int count) {
        for (int i = 0; i < count; ++i) {
            if (buffers[i].BufferType == SECBUFFER_EXTRA && buffers[i].cbBuffer > 0) {
                incoming.erase(incoming.begin(),
                               incoming.end() - static_cast<std::ptrdiff_t>(buffers[i].cbBuffer));
                return;
            }
        }
        incoming.clear();
    }
};

CTlsChannel::CTlsChannel(std::unique_ptr<Session> session) : session_(std::move(session)) {}

CTlsChannel::~CTlsChannel() = default;

// The system resumes sessions by itself, keyed by the target name: the port needs no part.
std::unique_ptr<CTlsChannel> CTlsChannel::Open(net::SocketHandle socket, const std::string& host,
                                               int /*port*/, FetchFailure* why) {
    std::string error;
    CredHandle* credential = ClientCredential(error);
    if (credential == nullptr) {
        if (why != nullptr) {
            *why = {FetchError::kTls, 0, error};
        }
        return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->socket = static_cast<SOCKET>(socket);
    session->host = host;
    session->isAddress = net::IsAddressLiteral(host.c_str());
    session->credential = credential;
    return std::unique_ptr<CTlsChannel>(new CTlsChannel(std::move(session)));
}

CTlsChannel::Step CTlsChannel::Handshake() {
    Session& s = *session_;
    for (;;) {
        if (const Step sent = s.Flush(reason_, "the server closed during the TLS handshake");
            sent != Step::kDone) {
            return sent;
        }
        if (s.established) {
            return Step::kDone;
        }
        if (s.haveContext && (s.incoming.empty() || s.needMore)) {
            const Received received = s.ReceiveMore();
            if (received == Received::kNothingYet) {
                return Step::kWantRead;
            }
            if (received != Received::kSome) {
                reason_ = received == Received::kTooMuch
                              ? kTooLong
                              : "the server closed during the TLS handshake";
                return Step::kFailed;
            }
            s.needMore = false;
        }
        SecBuffer input[2] = {
            {static_cast<unsigned long>(s.incoming.size()), SECBUFFER_TOKEN, s.incoming.data()},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputs{SECBUFFER_VERSION, 2, input};
        SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outputs{SECBUFFER_VERSION, 1, output};
        const DWORD wanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                             ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
        DWORD granted = 0;
        // Names go out as the server's name (SNI); addresses do not.
        char* target = s.isAddress ? nullptr : s.host.data();
        const SECURITY_STATUS status = InitializeSecurityContextA(
            s.credential, s.haveContext ? &s.context : nullptr, target, wanted, 0, 0,
            s.haveContext ? &inputs : nullptr, 0, &s.context, &outputs, &granted, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            s.needMore = true;  // more of the server's message is needed; nothing was taken
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && ++s.credentialAsks < 2) {
            continue;  // the server would like a client certificate: go on without one
        }
        s.haveContext = s.haveContext || status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED;
        if (output[0].cbBuffer > 0 && output[0].pvBuffer != nullptr) {
            const char* token = static_cast<const char*>(output[0].pvBuffer);
            s.outgoing.insert(s.outgoing.end(), token, token + output[0].cbBuffer);
            FreeContextBuffer(output[0].pvBuffer);
        }
        if (status == SEC_E_OK) {
            s.KeepExtra(input, 2);  // application data that came with the last message
            PCCERT_CONTEXT remote = nullptr;
            if (QueryContextAttributesA(&s.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
                    SEC_E_OK ||
                remote == nullptr) {
                reason_ = "certificate verify failed: the server sent no certificate";
                return Step::kFailed;
            }
            Certificate server;
            server.context = remote;
            reason_ = VerifyServer(remote, s.host, s.isAddress);
            if (!reason_.empty()) {
                return Step::kFailed;
            }
            if (QueryContextAttributesA(&s.context, SECPKG_ATTR_STREAM_SIZES, &s.sizes) !=
                SEC_E_OK) {
                reason_ = "TLS error (no record sizes)";
                return Step::kFailed;
            }
            s.established = true;
            continue;  // the last token, if any, still goes out
        }
        if (status != SEC_I_CONTINUE_NEEDED) {
            reason_ = "TLS handshake failed: " + SystemText(static_cast<DWORD>(status));
            return Step::kFailed;
        }
        s.KeepExtra(input, 2);  // what is left is the start of the server's next message
    }
}

CTlsChannel::Step CTlsChannel::Write(const char* data, std::size_t length, std::size_t& written) {
    Session& s = *session_;
    written = 0;
    // A record is reported as written only once all of it has gone out: the caller calls again
    // with the same bytes until then.
    if (s.outgoing.empty()) {
        const std::size_t chunk = std::min<std::size_t>(length, s.sizes.cbMaximumMessage);
        s.outgoing.resize(s.sizes.cbHeader + chunk + s.sizes.cbTrailer);
        std::memcpy(s.outgoing.data() + s.sizes.cbHeader, data, chunk);
        SecBuffer buffers[4] = {{s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, s.outgoing.data()},
                                {static_cast<unsigned long>(chunk), SECBUFFER_DATA,
                                 s.outgoing.data() + s.sizes.cbHeader},
                                {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER,
                                 s.outgoing.data() + s.sizes.cbHeader + chunk},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&s.context, 0, &message, 0);
        if (status != SEC_E_OK) {
            s.outgoing.clear();
            reason_ = "TLS error: " + SystemText(static_cast<DWORD>(status));
            return Step::kFailed;
        }
        s.outgoing.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        s.recordPlain = chunk;
    }
    if (const Step sent = s.Flush(reason_, "TLS error: the connection failed while sending");
        sent != Step::kDone) {
        return sent;
    }
    written = s.recordPlain;
    s.recordPlain = 0;
    return Step::kDone;
}

CTlsChannel::Step CTlsChannel::Read(char* buffer, std::size_t capacity, std::size_t& read) {
    Session& s = *session_;
    read = 0;
    for (;;) {
        if (s.plainRead < s.plain.size()) {
            read = std::min(capacity, s.plain.size() - s.plainRead);
            std::memcpy(buffer, s.plain.data() + s.plainRead, read);
            s.plainRead += read;
            if (s.plainRead == s.plain.size()) {
                s.plain.clear();
                s.plainRead = 0;
            }
            return Step::kDone;
        }
        if (s.peerClosed) {
            return Step::kClosed;
        }
        if (!s.incoming.empty()) {
            SecBuffer buffers[4] = {
                {static_cast<unsigned long>(s.incoming.size()), SECBUFFER_DATA, s.incoming.data()},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = DecryptMessage(&s.context, &message, 0, nullptr);
            if (status == SEC_E_OK) {
                for (const SecBuffer& part : buffers) {
                    if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0) {
                        const char* bytes = static_cast<const char*>(part.pvBuffer);
                        s.plain.assign(bytes, bytes + part.cbBuffer);
                    }
                }
                s.KeepExtra(buffers, 4);
                continue;
            }
            if (status == SEC_I_CONTEXT_EXPIRED) {
                s.peerClosed = true;
                s.incoming.clear();
                continue;
            }
            if (status == SEC_I_RENEGOTIATE) {
                reason_ = "TLS error: the server asked to renegotiate";
                return Step::kFailed;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                reason_ = "TLS error: " + SystemText(static_cast<DWORD>(status));
                return Step::kFailed;
            }
        }
        switch (s.ReceiveMore()) {
            case Received::kSome:
                break;
            case Received::kNothingYet:
                return Step::kWantRead;
            case Received::kClosed:
                return Step::kCut;  // the connection ended without the TLS close
            case Received::kFailed:
                reason_ = "TLS error: the connection failed while receiving";
                return Step::kFailed;
            case Received::kTooMuch:
                reason_ = kTooLong;
                return Step::kFailed;
        }
    }
}

bool CTlsChannel::HasPending() const {
    return session_->plainRead < session_->plain.size();
}

std::string CTlsChannel::ProtocolName() const {
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesA(&session_->context, SECPKG_ATTR_CONNECTION_INFO, &info) !=
        SEC_E_OK) {
        return {};
    }
    switch (info.dwProtocol) {
        case SP_PROT_TLS1_3_CLIENT:
            return "tls/1.3";
        case SP_PROT_TLS1_2_CLIENT:
            return "tls/1.2";
        default:
            return {};
    }
}

std::string CTlsChannel::CipherSuite() const {
    SecPkgContext_CipherInfo info{};
    info.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (QueryContextAttributesA(&session_->context, SECPKG_ATTR_CIPHER_INFO, &info) != SEC_E_OK) {
        return {};
    }
    // The names are ASCII: anything else is no IANA name.
    std::string name;
    for (const WCHAR* c = info.szCipherSuite; *c != 0 && c < std::end(info.szCipherSuite); ++c) {
        if (*c < 0x21 || *c > 0x7E) {
            return {};
        }
        name += static_cast<char>(*c);
    }
    return name;
}
