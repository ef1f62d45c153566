#pragma once

// URL kinds.
inline constexpr int URL_NONE = 0;
inline constexpr int URL_HTTP = 1;  // begins with "http://"
inline constexpr int URL_FTP = 2;   // begins with "ftp://"

// 0, 1 or 2 by the URL's case-sensitive prefix; a null URL is kind 0.
int GetUrlScheme(const char* url);

// The characters after the first "//" up to the next "/" or the end. Returns 1 with the host in
// `host` (capacity `hostCapacity`, at least 1), or 0 when the URL has no "//" or the host does not
// fit; a host is never cut.
int GetHostFromUrl(const char* url, char* host, int hostCapacity);

// Turns one URL into one local file over HTTP/1.0. Every worker calls Download on one shared
// object at the same time: the timeout and port are set before the workers start and only read
// afterwards.
class CHttpGetter {
  public:
    static constexpr int kDefaultPort = 80;

    // 1 stored (or an FTP URL, which counts as stored without a transfer), 0 failed. A URL, host
    // or path that does not fit the system's 260-byte buffers is refused, never cut.
    int Download(const char* url, const char* path) const;
    // 1 stored, 0 failed.
    int HttpDownload(const char* url, const char* path) const;

    // Seconds: -1 no limit; positive: the limit of each single wait; anything else fails every
    // fetch at its send.
    void SetTimeout(int seconds) { timeout_ = seconds; }
    // The server port; 80 unless a test points the fetcher at a loopback server.
    void SetPort(int port) { port_ = port; }

  private:
    int timeout_ = -1;
    int port_ = kDefaultPort;
};
