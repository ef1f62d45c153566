#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/http_request.h"
#include "engine/page_rules.h"
#include "support/status.h"

struct RunRequest;

// The file beside the settings record that holds what the record has no room for.
inline constexpr const char* kExtendedSettingsName = "NOVUDownLoad.toml";

// The keys of NOVUDownLoad.toml, each as the file set it (none: not set).
//   bbs.path, document.path    where documents go below the task's folder ("{n/1000}/{n}.xml")
//   http.protocol              "1.0" or "1.1": the exchange for http:// and https:// alike
//   http.user_agent            the User-Agent sent
//   http.headers               ["Name: value", ...] added to every request
//   http.cookies               a cookie file (Netscape format), relative to the data folder
//   http.max_redirects         0 to 20
//   http.max_document_mib      1 to 1048576: the largest document stored, after decoding
//   run.rate, run.end_after, run.poll   as novudl's --rate, --end-after and --poll
//   bbs.missing_if_body, bbs.missing_if_url (regular expressions), bbs.expect ("xml", "html",
//   "any", or media types: "text/x-wiki" or a list of them), and the same for document: what
//   marks a page missing, or of the wrong type, although it came with a 200
//   bbs.wall_if_body, document.wall_if_body   what marks a login page (a regular expression)
//   archive.warc               true: every exchange also goes into a web archive (WARC)
//   archive.warc_max_mib       1 to 1048576: an archive file's size before the next begins
struct ExtendedSettings {
    struct MissingPage {
        std::optional<std::string> ifBody, ifUrl, wallIfBody;
        std::optional<std::vector<std::string>> expect;  // a kind, or media types
    };
    std::optional<std::string> bbsPath, documentPath;
    MissingPage bbsMissing, documentMissing;
    std::optional<HttpVersion> protocol;
    std::optional<std::string> userAgent;
    std::optional<std::vector<std::pair<std::string, std::string>>> headers;
    std::optional<std::string> cookies;
    std::optional<int> maxRedirects, maxDocumentMib;
    std::optional<int> rate, endAfter, poll;
    std::optional<bool> warc;
    std::optional<int> warcMaxMib;
};

// The largest settings file read: settings are a few lines; anything longer is not ours.
inline constexpr int kLargestSettingsFile = 1 << 20;

// The bytes of a settings or cookie file, at most `largest`; none, with the refusal in `status`,
// for a file that cannot be read or is larger.
std::optional<std::string> ReadSettingsText(const std::string& path, Status& status,
                                            int largest = kLargestSettingsFile);

// Reads the file at `path`; a missing file sets nothing. Refused, never guessed at: a file that
// does not parse, an unknown key, a value of the wrong kind or out of its range, each as
// "<path>:<line>:<column>: <reason>".
Status ReadExtendedSettings(const std::string& path, ExtendedSettings& settings);

// Sets keys ("http.user_agent", ...) to values given as text, checked as a read checks them;
// the values of http.headers given in one call make its whole list. Creates the file as needed.
Status SetExtendedSettings(const std::string& path,
                           const std::vector<std::pair<std::string, std::string>>& changes);
// Removes a key; a key the file does not hold is no error, an unknown key is.
Status UnsetExtendedSetting(const std::string& path, const std::string& key);
// The names of the keys, in the order the file documents them.
std::vector<std::string> ExtendedSettingKeys();

// Puts what the file set into a run's request. The cookie file is read now, relative to
// `dataDirectory` unless absolute; what is worth a word but no refusal (a cookie file that other
// users can read) goes to `warnings`.
Status ApplyExtendedSettings(const ExtendedSettings& settings, const std::string& dataDirectory,
                             RunRequest& request, std::vector<std::string>& warnings);
// Reads a cookie file into `options`. A file that cannot be read or has a malformed line is
// refused: "<path> line 12: expected 7 tab-separated fields". No value is ever told.
// Sets both tasks' rules of a missing page from novudl's options, which replace the file's:
// a pattern that does not compile is refused with the option's name, the fault and its place.
Status ApplyMissingPageOptions(const ExtendedSettings::MissingPage& options, RunRequest& request);
Status LoadCookieFile(const std::string& path, HttpOptions& options,
                      std::vector<std::string>& warnings);
