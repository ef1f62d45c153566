#include "run/extended_settings.h"

#include <toml++/toml.h>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "engine/cookie_jar.h"
#include "engine/warc_archive.h"
#include "run/job_names.h"
#include "run/run_request.h"
#include "support/decimal.h"
#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/text_format.h"

namespace {

enum class KeyKind {
    kPath,
    kProtocol,
    kUserAgent,
    kHeaders,
    kFile,
    kCount,
    kPattern,
    kExpect,
    kSwitch
};

struct KeySpec {
    const char* table;
    const char* name;
    KeyKind kind;
    int least = 0, most = 0;  // kCount
    std::string Name() const { return std::string(table) + "." + name; }
};

const KeySpec kKeys[] = {
    {"bbs", "path", KeyKind::kPath},
    {"bbs", "missing_if_body", KeyKind::kPattern},
    {"bbs", "missing_if_url", KeyKind::kPattern},
    {"bbs", "expect", KeyKind::kExpect},
    {"bbs", "wall_if_body", KeyKind::kPattern},
    {"document", "path", KeyKind::kPath},
    {"document", "missing_if_body", KeyKind::kPattern},
    {"document", "missing_if_url", KeyKind::kPattern},
    {"document", "expect", KeyKind::kExpect},
    {"document", "wall_if_body", KeyKind::kPattern},
    {"http", "protocol", KeyKind::kProtocol},
    {"http", "user_agent", KeyKind::kUserAgent},
    {"http", "headers", KeyKind::kHeaders},
    {"http", "cookies", KeyKind::kFile},
    {"http", "max_redirects", KeyKind::kCount, 0, HttpOptions::kMostRedirects},
    {"http", "max_document_mib", KeyKind::kCount, 1, HttpOptions::kMostDocumentMib},
    {"run", "rate", KeyKind::kCount, 1, kGeneratorRate},
    {"run", "end_after", KeyKind::kCount, 1, kMostEndAfter},
    {"run", "poll", KeyKind::kCount, 1, kMostPollSeconds},
    {"archive", "warc", KeyKind::kSwitch},
    {"archive", "warc_max_mib", KeyKind::kCount, 1, CWarcArchive::kMostMaxMib},
};

const KeySpec* FindKey(std::string_view table, std::string_view name) {
    for (const KeySpec& key : kKeys) {
        if (table == key.table && name == key.name) {
            return &key;
        }
    }
    return nullptr;
}

std::string At(const std::string& path, const toml::source_region& where,
               const std::string& reason) {
    return FormatText("%s:%u:%u: %s", path.c_str(), where.begin.line, where.begin.column,
                      reason.c_str());
}

// Checks one value and stores it; the reason when it cannot be.
std::string Take(const KeySpec& key, const toml::node& value, ExtendedSettings& settings) {
    const std::string name = key.Name();
    if (key.kind == KeyKind::kCount) {
        const std::optional<std::int64_t> count = value.value_exact<std::int64_t>();
        if (!count || *count < key.least || *count > key.most) {
            return FormatText("%s is a whole number from %d to %d", name.c_str(), key.least,
                              key.most);
        }
        const int number = static_cast<int>(*count);
        std::optional<int>& target = name == "http.max_redirects"      ? settings.maxRedirects
                                     : name == "http.max_document_mib" ? settings.maxDocumentMib
                                     : name == "run.rate"              ? settings.rate
                                     : name == "run.end_after"         ? settings.endAfter
                                     : name == "archive.warc_max_mib"  ? settings.warcMaxMib
                                                                       : settings.poll;
        target = number;
        return {};
    }
    if (key.kind == KeyKind::kSwitch) {
        const std::optional<bool> on = value.value_exact<bool>();
        if (!on) {
            return name + " is true or false";
        }
        settings.warc = *on;
        return {};
    }
    if (key.kind == KeyKind::kExpect) {
        // One text, or a list of media types.
        std::vector<std::string> values;
        if (const toml::array* list = value.as_array()) {
            for (const toml::node& item : *list) {
                const std::optional<std::string> type = item.value_exact<std::string>();
                if (!type) {
                    return name + " is a text or a list of texts";
                }
                values.push_back(*type);
            }
        } else if (const std::optional<std::string> text = value.value_exact<std::string>()) {
            values.push_back(*text);
        } else {
            return name + " is a text or a list of texts";
        }
        PageRules checked;
        std::string why;
        if (!TakeExpectation(values, checked, &why)) {
            return name + ": " + why;
        }
        (std::string_view(key.table) == "bbs" ? settings.bbsMissing : settings.documentMissing)
            .expect = std::move(values);
        return {};
    }
    if (key.kind == KeyKind::kHeaders) {
        const toml::array* lines = value.as_array();
        if (lines == nullptr) {
            return name + " is a list of \"Name: value\" texts";
        }
        std::vector<std::pair<std::string, std::string>> headers;
        for (const toml::node& line : *lines) {
            std::string why;
            const std::optional<std::string> text = line.value_exact<std::string>();
            const auto header = text ? ParseHeaderLine(*text, &why) : std::nullopt;
            if (!header) {
                return name + ": " + (text ? why : "each header is a text");
            }
            headers.push_back(*header);
        }
        settings.headers = std::move(headers);
        return {};
    }
    const std::optional<std::string> text = value.value_exact<std::string>();
    if (!text) {
        return name + " is a text in quotes";
    }
    std::string why;
    ExtendedSettings::MissingPage& missing =
        std::string_view(key.table) == "bbs" ? settings.bbsMissing : settings.documentMissing;
    switch (key.kind) {
        case KeyKind::kPattern:
            if (!CompilePattern(*text, &why)) {
                why = "not a regular expression: " + why;
            }
            (std::string_view(key.name) == "missing_if_body"  ? missing.ifBody
             : std::string_view(key.name) == "missing_if_url" ? missing.ifUrl
                                                              : missing.wallIfBody) = *text;
            break;
        case KeyKind::kPath:
            why = PathTemplateProblem(*text);
            (std::string_view(key.table) == "bbs" ? settings.bbsPath : settings.documentPath) =
                *text;
            break;
        case KeyKind::kProtocol:
            if (*text != "1.0" && *text != "1.1") {
                why = "\"1.0\" or \"1.1\", not \"" + *text + "\"";
            }
            settings.protocol = *text == "1.1" ? HttpVersion::k11 : HttpVersion::k10;
            break;
        case KeyKind::kUserAgent:
            if (!ParseHeaderLine("User-Agent: " + *text, &why)) {
                why = "holds no CR, LF or other control character";
            }
            settings.userAgent = *text;
            break;
        default:
            if (text->empty()) {
                why = "names no file";
            }
            settings.cookies = *text;
            break;
    }
    return why.empty() ? std::string() : name + ": " + why;
}

// The file's table, or none with the refusal in `status`; a missing file is an empty table.
// The file's text goes to `text` when asked for.
std::optional<toml::table> Parse(const std::string& path, Status& status,
                                 std::string* text = nullptr) {
    if (!FileExists(path.c_str())) {
        return toml::table();
    }
    std::optional<std::string> read = ReadSettingsText(path, status);
    if (!read) {
        return std::nullopt;
    }
    try {
        toml::table root = toml::parse(*read, path);
        if (text != nullptr) {
            *text = std::move(*read);
        }
        return root;
    } catch (const toml::parse_error& error) {
        status = Status::Refused(At(path, error.source(), std::string(error.description())));
        return std::nullopt;
    }
}

// Every key of the table checked and stored; the first refusal.
Status Check(const std::string& path, const toml::table& root, ExtendedSettings& settings) {
    for (const auto& [tableName, node] : root) {
        const toml::table* table = node.as_table();
        if (table == nullptr) {
            return Status::Refused(
                At(path, node.source(), "unknown key " + std::string(tableName.str())));
        }
        for (const auto& [name, value] : *table) {
            const KeySpec* key = FindKey(tableName.str(), name.str());
            if (key == nullptr) {
                return Status::Refused(At(
                    path, value.source(),
                    "unknown key " + std::string(tableName.str()) + "." + std::string(name.str())));
            }
            if (const std::string why = Take(*key, value, settings); !why.empty()) {
                return Status::Refused(At(path, value.source(), why));
            }
        }
    }
    return Status::Ok();
}

const KeySpec* FindKey(const std::string& dotted) {
    const std::size_t dot = dotted.find('.');
    return dot == std::string::npos ? nullptr
                                    : FindKey(std::string_view(dotted).substr(0, dot),
                                              std::string_view(dotted).substr(dot + 1));
}

// A change of the file's text: the bytes from `begin` to `end` become `text`.
struct TextEdit {
    std::size_t begin, end;
    std::string text;
};

// Where keys and values stand in a file's text, as offsets of bytes.
class CTextPlaces {
  public:
    explicit CTextPlaces(const std::string& text) {
        lineStarts_.push_back(0);
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                lineStarts_.push_back(i + 1);
            }
        }
        text_ = &text;
    }
    // The parser counts columns in characters: UTF-8 sequences are stepped over whole.
    std::size_t Offset(const toml::source_position& where) const {
        const std::size_t line = std::min<std::size_t>(where.line, lineStarts_.size()) - 1;
        std::size_t offset = lineStarts_[line];
        for (std::size_t column = 1; column < where.column && offset < text_->size(); ++column) {
            ++offset;
            while (offset < text_->size() &&
                   (static_cast<unsigned char>((*text_)[offset]) & 0xC0) == 0x80) {
                ++offset;
            }
        }
        return offset;
    }
    std::size_t LineStart(std::size_t offset) const {
        const std::size_t start = text_->rfind('\n', offset == 0 ? 0 : offset - 1);
        return offset == 0 || start == std::string::npos ? 0 : start + 1;
    }
    std::size_t NextLine(std::size_t offset) const {
        const std::size_t end = text_->find('\n', offset);
        return end == std::string::npos ? text_->size() : end + 1;
    }
    // Whether only blanks, and a comment after them, lie between `from` and the line's end.
    bool RestIsBlankOrComment(std::size_t from) const {
        const std::size_t end = NextLine(from);
        const std::size_t first = text_->find_first_not_of(" \t\r", from);
        return first >= end || (*text_)[first] == '#' || (*text_)[first] == '\n';
    }
    bool IsBlank(std::size_t from, std::size_t to) const {
        return text_->find_first_not_of(" \t", from) >= to;
    }

  private:
    std::vector<std::size_t> lineStarts_;
    const std::string* text_;
};

std::string ValueText(const toml::node& value) {
    std::ostringstream text;
    value.visit([&text](const auto& v) { text << v; });
    return text.str();
}

// The edits that turn the file `before` was read from into one that reads as `after`, each
// where its key stands, so that the user's comments and layout stay; none where the file's
// shape (a table written inline or with dotted keys) asks for more than editing whole lines.
std::optional<std::vector<TextEdit>> EditsBetween(const std::string& text,
                                                  const toml::table& before,
                                                  const toml::table& after) {
    const CTextPlaces places(text);
    std::vector<TextEdit> edits;
    // A table must stand under its own [header] for keys to be added below it.
    const auto headed = [&](const toml::table& table) {
        const std::size_t at = places.Offset(table.source().begin);
        return !table.is_inline() && at < text.size() && text[at] == '[';
    };
    const auto removeEntry = [&](const toml::key& name, const toml::node& value) {
        const std::size_t begin = places.Offset(name.source().begin);
        const std::size_t end = places.Offset(value.source().end);
        const std::size_t lineStart = places.LineStart(begin);
        if (!places.IsBlank(lineStart, begin) || !places.RestIsBlankOrComment(end)) {
            return false;
        }
        edits.push_back({lineStart, places.NextLine(end), ""});
        return true;
    };
    for (const auto& [tableName, node] : before) {
        const toml::table* old = node.as_table();
        if (old == nullptr || !headed(*old)) {
            return std::nullopt;
        }
        const toml::table* wanted = after.get_as<toml::table>(tableName);
        for (const auto& [name, value] : *old) {
            if ((wanted == nullptr || !wanted->contains(name)) && !removeEntry(name, value)) {
                return std::nullopt;
            }
        }
        if (wanted == nullptr) {
            const std::size_t header = places.Offset(old->source().begin);
            const std::size_t headerEnd = places.Offset(old->source().end);
            if (!places.RestIsBlankOrComment(headerEnd)) {
                return std::nullopt;
            }
            edits.push_back({places.LineStart(header), places.NextLine(headerEnd), ""});
        }
    }
    // New lines end as the file's lines do, which a Windows editor may have ended with CR LF.
    const std::string newline = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    // What goes below a last line that lacks its end gets that end first.
    bool endsLine = text.empty() || text.back() == '\n';
    const auto insert = [&](std::size_t at, std::string added) {
        if (at == text.size() && !endsLine) {
            edits.push_back({at, at, newline});
            endsLine = true;
        }
        edits.push_back({at, at, std::move(added)});
    };
    std::string appended;
    for (const auto& [tableName, node] : after) {
        const toml::table* wanted = node.as_table();
        const toml::table* old = before.get_as<toml::table>(tableName);
        if (wanted == nullptr) {
            return std::nullopt;
        }
        std::string added;
        std::size_t below = 0;  // where new keys go: after the table's last kept line
        if (old != nullptr) {
            below = places.NextLine(places.Offset(old->source().end));
        }
        for (const auto& [name, value] : *wanted) {
            const toml::node* was = old != nullptr ? old->get(name) : nullptr;
            if (was == nullptr) {
                added += std::string(name.str()) + " = " + ValueText(value) + newline;
            } else if (ValueText(*was) != ValueText(value)) {
                edits.push_back({places.Offset(was->source().begin),
                                 places.Offset(was->source().end), ValueText(value)});
            }
            if (was != nullptr) {
                below = std::max(below, places.NextLine(places.Offset(was->source().end)));
            }
        }
        if (old == nullptr) {
            appended += newline + "[" + std::string(tableName.str()) + "]" + newline + added;
        } else if (!added.empty()) {
            insert(below, added);
        }
    }
    if (!appended.empty()) {
        insert(text.size(), appended.substr(text.empty() ? newline.size() : 0));
    }
    return edits;
}

// The new text of the file, edited where its keys stand when that reads back as `after`, or
// written anew (without the user's comments) when it cannot be.
std::string NewText(const std::string& text, const toml::table& before, const toml::table& after) {
    if (std::optional<std::vector<TextEdit>> edits = EditsBetween(text, before, after)) {
        // From the end backwards, so that each edit's offsets still hold; at one place, a
        // removal before an insertion, and insertions last to first, so that their texts stand
        // in the order they were made (keys below their table before a table added at the end).
        std::reverse(edits->begin(), edits->end());
        std::stable_sort(edits->begin(), edits->end(), [](const TextEdit& a, const TextEdit& b) {
            return a.begin != b.begin ? a.begin > b.begin : a.end > b.end;
        });
        std::string edited = text;
        for (const TextEdit& edit : *edits) {
            edited.replace(edit.begin, edit.end - edit.begin, edit.text);
        }
        try {
            if (toml::parse(edited) == after) {
                return edited;
            }
        } catch (const toml::parse_error&) {
        }
    }
    std::ostringstream written;
    written << after << "\n";
    return written.str();
}

// Reads the file, lets `change` edit a copy of its table, and writes the result where its keys
// stand; a refused change, or one that changes nothing, leaves the file as it was.
Status ChangeFile(const std::string& path, const std::function<Status(toml::table&)>& change) {
    Status status;
    std::string text;
    const std::optional<toml::table> before = Parse(path, status, &text);
    if (!before) {
        return status;
    }
    toml::table root = *before;  // a copy: `before` keeps where its keys stand
    if (const Status changed = change(root); !changed.IsOk() || root == *before) {
        return changed;
    }
    const std::string bytes = NewText(text, *before, root);
    const Status written =
        ReplaceWholeFile(path.c_str(), bytes.data(), static_cast<int>(bytes.size()));
    return written.IsOk() ? written : Status::Refused(path + ": " + written.Text());
}

}  // namespace

std::optional<std::string> ReadSettingsText(const std::string& path, Status& status, int largest) {
    // Room for the file as it stands and one byte more, which tells a file that grew meanwhile.
    std::error_code error;
    const std::uintmax_t size =
        IsRegularFile(path.c_str()) ? std::filesystem::file_size(path, error) : 0;
    std::string text(static_cast<std::size_t>(std::min<std::uintmax_t>(size, largest)) + 1, '\0');
    const int length =
        error ? -1 : ReadWholeFile(path.c_str(), text.data(), static_cast<int>(text.size()));
    if (length < 0 || length > largest) {
        status = Status::Refused(path + (length < 0
                                             ? ": cannot be read"
                                             : FormatText(": larger than %d MiB", largest >> 20)));
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(length));
    return text;
}

Status ReadExtendedSettings(const std::string& path, ExtendedSettings& settings) {
    Status status;
    const std::optional<toml::table> root = Parse(path, status);
    if (!root) {
        return status;
    }
    ExtendedSettings read;
    if (Status checked = Check(path, *root, read); !checked.IsOk()) {
        return checked;
    }
    settings = std::move(read);
    return Status::Ok();
}

Status SetExtendedSettings(const std::string& path,
                           const std::vector<std::pair<std::string, std::string>>& changes) {
    return ChangeFile(path, [&](toml::table& root) {
        toml::array headers;
        std::set<std::string> setHere;
        for (const auto& [name, value] : changes) {
            const KeySpec* key = FindKey(name);
            if (key == nullptr) {
                return Status::Refused("unknown key " + name);
            }
            toml::table* table = root.emplace(key->table, toml::table()).first->second.as_table();
            if (table == nullptr) {
                return Status::Refused(path + ": " + key->table + " is not a table");
            }
            if (key->kind == KeyKind::kHeaders) {
                headers.push_back(value);
                table->insert_or_assign(key->name, headers);
            } else if (key->kind == KeyKind::kExpect && table->contains(key->name) &&
                       setHere.count(name) != 0) {
                // The same key again in one change: a list of media types.
                toml::array* types = table->get(key->name)->as_array();
                if (types == nullptr) {
                    toml::array list;
                    list.push_back(*table->get(key->name)->value_exact<std::string>());
                    table->insert_or_assign(key->name, std::move(list));
                    types = table->get(key->name)->as_array();
                }
                types->push_back(value);
            } else if (key->kind == KeyKind::kSwitch) {
                if (value != "true" && value != "false") {
                    return Status::Refused(name + " is true or false");
                }
                table->insert_or_assign(key->name, value == "true");
            } else if (key->kind == KeyKind::kCount) {
                const std::optional<std::int64_t> count = ParseDecimal<std::int64_t>(value);
                if (!count) {
                    return Status::Refused(FormatText("%s is a whole number from %d to %d",
                                                      name.c_str(), key->least, key->most));
                }
                table->insert_or_assign(key->name, *count);
            } else {
                table->insert_or_assign(key->name, value);
            }
            ExtendedSettings ignored;
            if (const std::string why = Take(*key, *table->get(key->name), ignored); !why.empty()) {
                return Status::Refused(why);
            }
            setHere.insert(name);
        }
        ExtendedSettings ignored;
        return Check(path, root, ignored);  // the rest of the file must stay readable too
    });
}

Status UnsetExtendedSetting(const std::string& path, const std::string& name) {
    const KeySpec* key = FindKey(name);
    if (key == nullptr) {
        return Status::Refused("unknown key " + name);
    }
    return ChangeFile(path, [key](toml::table& root) {
        if (toml::table* table = root.get_as<toml::table>(key->table)) {
            table->erase(key->name);
            if (table->empty()) {
                root.erase(key->table);
            }
        }
        return Status::Ok();
    });
}

std::vector<std::string> ExtendedSettingKeys() {
    std::vector<std::string> names;
    for (const KeySpec& key : kKeys) {
        names.push_back(key.Name());
    }
    return names;
}

Status LoadCookieFile(const std::string& path, HttpOptions& options,
                      std::vector<std::string>& warnings) {
    Status status;
    const std::optional<std::string> text =
        ReadSettingsText(path, status, CCookieJar::kLargestFile);
    if (!text) {
        return status;
    }
    auto jar = std::make_shared<CCookieJar>();
    std::string why;
    if (!jar->Load(*text, &why)) {
        return Status::Refused(path + " " + why);
    }
    if (platform::OthersMayRead(path.c_str())) {
        warnings.push_back(path + " holds login cookies and other users may read it (chmod 600)");
    }
    options.cookies = std::move(jar);
    options.cookieFile = path;
    return Status::Ok();
}

namespace {

// The rules of one task from what the file or the options say; the first refusal, named as the
// file's key ("bbs.missing_if_body") or as the option ("--missing-if-body").
Status ApplyMissingPage(const ExtendedSettings::MissingPage& missing, const char* task,
                        PageRules& rules) {
    const bool option = task == nullptr;
    for (const auto& [text, target, name] :
         {std::tuple{&missing.ifBody, &rules.missingIfBody,
                     option ? "--missing-if-body" : ".missing_if_body"},
          std::tuple{&missing.ifUrl, &rules.missingIfUrl,
                     option ? "--missing-if-url" : ".missing_if_url"},
          std::tuple{&missing.wallIfBody, &rules.wallIfBody,
                     option ? "--wall-if-body" : ".wall_if_body"}}) {
        if (*text) {
            std::string why;
            *target = CompilePattern(**text, &why);
            if (!*target) {
                return Status::Refused(std::string(option ? "" : task) + name +
                                       ": not a regular expression: " + why);
            }
        }
    }
    std::string why;
    if (missing.expect && !TakeExpectation(*missing.expect, rules, &why)) {
        return Status::Refused(std::string(option ? "--expect" : std::string(task) + ".expect") +
                               ": " + why);
    }
    return Status::Ok();
}

}  // namespace

Status ApplyMissingPageOptions(const ExtendedSettings::MissingPage& options, RunRequest& request) {
    for (PageRules* rules : {&request.bbsPage, &request.documentPage}) {
        if (const Status applied = ApplyMissingPage(options, nullptr, *rules); !applied.IsOk()) {
            return applied;
        }
    }
    return Status::Ok();
}

Status ApplyExtendedSettings(const ExtendedSettings& settings, const std::string& dataDirectory,
                             RunRequest& request, std::vector<std::string>& warnings) {
    if (Status applied = ApplyMissingPage(settings.bbsMissing, "bbs", request.bbsPage);
        !applied.IsOk()) {
        return applied;
    }
    if (Status applied =
            ApplyMissingPage(settings.documentMissing, "document", request.documentPage);
        !applied.IsOk()) {
        return applied;
    }
    request.bbsPath = settings.bbsPath.value_or(request.bbsPath);
    request.documentPath = settings.documentPath.value_or(request.documentPath);
    if (settings.protocol) {
        request.httpVersion = request.httpsVersion = *settings.protocol;
    }
    request.http.userAgent = settings.userAgent.value_or(request.http.userAgent);
    request.http.headers = settings.headers.value_or(request.http.headers);
    request.http.maxRedirects = settings.maxRedirects.value_or(request.http.maxRedirects);
    if (settings.maxDocumentMib) {
        request.http.maxDocumentBytes = std::int64_t{*settings.maxDocumentMib} << 20;
    }
    request.ratePerSecond = settings.rate.value_or(request.ratePerSecond);
    request.endAfter = settings.endAfter.value_or(request.endAfter);
    if (settings.poll) {
        request.askAgainEvery = std::chrono::seconds(*settings.poll);
    }
    request.archive.warc = settings.warc.value_or(request.archive.warc);
    if (settings.warcMaxMib) {
        request.archive.maxFileBytes = std::int64_t{*settings.warcMaxMib} << 20;
    }
    if (settings.cookies) {
        const std::filesystem::path file = std::filesystem::path(dataDirectory) / *settings.cookies;
        return LoadCookieFile(file.string(), request.http, warnings);
    }
    return Status::Ok();
}
