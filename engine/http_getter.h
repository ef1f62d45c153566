#pragma once

#include "engine/cut_off.h"
#include "engine/fetch_failure.h"

// URL kinds.
inline constexpr int URL_NONE = 0;
inline constexpr int URL_HTTP = 1;  // begins with "http://"
inline constexpr int URL_FTP = 2;   // begins with "ftp://"

// 0, 1 or 2 by the URL's case-sensitive prefix; a null URL is kind 0.
int GetUrlScheme(const char* url);

// The characters after the first "//" up to the next "/" or the end, a port included. Returns 1
// with the host in `host` (capacity `hostCapacity`, at least 1), or 0 when the URL has no "//" or
// the host does not fit; a host is never cut.
int GetHostFromUrl(const char* url, char* host, int hostCapacity);

// Splits "name:port" in place: `host` keeps the name, `port` gets the number. Without a colon
// the port stays as it is. False when the port is not a number from 1 to 65535.
bool SplitHostPort(char* host, int& port);

// True when the URL holds a byte that must never reach the request line: a control character
// (below 0x20, or 0x7F) or a space.
bool HasUnsafeUrlBytes(const char* url);

// Turns one URL into one local file over HTTP/1.0. Every worker calls Download on one shared
// object at the same time: the timeout and port are set before the workers start and only read
// afterwards; the cut-off is armed from the main thread at any time.
class CHttpGetter {
  public:
    static constexpr int kDefaultPort = 80;

    // 1 stored (or an FTP URL, which counts as stored without a transfer), 0 failed, with the
    // reason in `failure` when given. A URL, host or path that does not fit the system's
    // 260-byte buffers, or a URL with unsafe bytes, is refused without network traffic.
    int Download(const char* url, const char* path, FetchFailure* failure = nullptr) const;
    // 1 stored, 0 failed.
    int HttpDownload(const char* url, const char* path, FetchFailure* failure = nullptr) const;

    // Seconds: -1 no limit; positive: the limit of each single wait; anything else fails every
    // fetch at its send.
    void SetTimeout(int seconds) { timeout_ = seconds; }
    int GetTimeout() const { return timeout_; }
    // The port of URLs that name none; 80 unless a test points the fetcher at a loopback server.
    void SetPort(int port) { port_ = port; }
    // Every fetch still in progress `seconds` from now is then given up (its connection closed,
    // its document failed). Only the first call counts.
    void CutOffAfter(int seconds) { cutOff_.ArmAfter(seconds); }

  private:
    int timeout_ = -1;
    int port_ = kDefaultPort;
    CCutOff cutOff_;
};
