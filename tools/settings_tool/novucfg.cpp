// Reads and changes the program's 540-byte settings file.
//
//   novucfg [FILE]                      print the record and NOVUDownLoad.toml beside it
//   novucfg [FILE] set FIELD VALUE...   change fields (a missing file starts from the defaults)
//                                       or keys of NOVUDownLoad.toml (http.user_agent, ...)
//   novucfg [FILE] unset KEY...         remove keys of NOVUDownLoad.toml
//   --data DIR                          the settings of that data folder instead of FILE
//
// Without FILE, the settings file of the program beside this tool (its own folder, or the
// per-user data folder when that folder is not to be written). Exit status: 0 done, 1 the file
// cannot be read or written, 2 a refused argument or file.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/downloader.h"
#include "engine/url.h"
#include "run/extended_settings.h"
#include "run/job_names.h"
#include "run/task_kind.h"
#include "run/task_settings_file.h"
#include "support/data_location.h"
#include "support/decimal.h"
#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/folder_lock.h"
#include "support/text_format.h"

namespace {

constexpr int kRefused = 2;

bool ParseInt32(const std::string& text, std::int32_t& value) {
    const std::optional<std::int32_t> parsed = ParseDecimal<std::int32_t>(text);
    if (parsed) {
        value = *parsed;
    }
    return parsed.has_value();
}

// Why a base URL or URL template cannot be stored, or the empty text: what the fetcher would
// refuse, in its words, for the longest document name the task can form under it.
std::string UrlProblem(const std::string& url, std::int32_t kind) {
    if (IsNumberTemplate(url)) {
        return UrlTemplateProblem(url);
    }
    FetchFailure why;
    if (!ParseUrl(url, &why)) {
        return DescribeFetchFailure(why);
    }
    if (url.back() == '/') {
        return "must not end in a slash (the program adds \"/<directory>/<number>...\")";
    }
    const std::string longest = CJobNamer::Make("", kind, url)->Url(INT32_MAX);
    if (!FitsPathBuffer(longest)) {
        return FormatText("%s: with a document name (%s) it would pass 259 characters",
                          DescribeFetchFailure({FetchError::kNameTooLong}).c_str(),
                          longest.substr(url.size()).c_str());
    }
    return {};
}

// Applies one change; an error message when the field or value is refused.
std::string SetField(TaskSettings& record, const std::string& field, const std::string& value) {
    if (field == "bbsUrl" || field == "documentUrl") {
        const std::string problem = UrlProblem(value, field == "bbsUrl" ? JOB_BBS : JOB_DOCUMENT);
        if (!problem.empty()) {
            return field + ": " + problem;
        }
        (field == "bbsUrl" ? record.bbsUrl : record.documentUrl) = value;
        return {};
    }
    std::int32_t* target = field == "bbsEnabled"        ? &record.bbsEnabled
                           : field == "documentEnabled" ? &record.documentEnabled
                           : field == "bbsNumber"       ? &record.bbsNumber
                           : field == "documentNumber"  ? &record.documentNumber
                           : field == "timeout"         ? &record.timeout
                                                        : nullptr;
    if (target == nullptr) {
        return "unknown field " + field;
    }
    if (!ParseInt32(value, *target)) {
        return field + " needs a 32-bit signed integer, not \"" + value + "\"";
    }
    return {};
}

void Print(const TaskSettings& r) {
    std::printf("bbsUrl          %s\n", r.bbsUrl.c_str());
    std::printf("documentUrl     %s\n", r.documentUrl.c_str());
    std::printf("bbsEnabled      %d\n", r.bbsEnabled);
    std::printf("documentEnabled %d\n", r.documentEnabled);
    std::printf("bbsNumber       %d  (Directory %d, File %d)\n", r.bbsNumber,
                DirectoryPart(r.bbsNumber), FilePart(r.bbsNumber));
    std::printf("documentNumber  %d  (Directory %d, File %d)\n", r.documentNumber,
                DirectoryPart(r.documentNumber), FilePart(r.documentNumber));
    std::printf("timeout         %d%s\n", r.timeout, r.timeout == -1 ? "  (no limit)" : "");
}

int Refuse(const std::string& message) {
    std::fprintf(stderr, "novucfg: %s\n", message.c_str());
    return kRefused;
}

// NOVUDownLoad.toml as it stands, or a word that there is none.
void PrintExtended(const std::string& path) {
    std::printf("\n%s:\n", path.c_str());
    if (!FileExists(path.c_str())) {
        std::printf("(none: every key has its default)\n");
        return;
    }
    Status status;
    const std::optional<std::string> text = ReadSettingsText(path, status);
    if (!text) {
        std::printf("(%s)\n", status.Text().c_str());
        return;
    }
    std::fwrite(text->data(), 1, text->size(), stdout);
}

// Why a path template cannot name every document of the task in this data folder, or the empty
// text.
std::string PathProblem(const std::string& key, const std::string& value,
                        const std::string& dataFolder, const TaskSettings& record) {
    const std::int32_t kind = key == "bbs.path" ? JOB_BBS : JOB_DOCUMENT;
    std::string why;
    if (!CJobNamer::Make(dataFolder, kind, record.*TaskKindOf(kind).url, value, &why)) {
        return key + ": " + why;
    }
    return {};
}

}  // namespace

int main(int argc, char* argv[]) {
    platform::EnsureStandardStreams();
    CLI::App app{"Reads and changes the settings file of NOVUDownLoad.", "novucfg"};
    app.set_version_flag("--version", "novucfg 1.0");
    std::string path;
    bool force = false;
    app.add_option("FILE", path,
                   "the settings file; without it, the one the program beside this tool uses");
    app.add_flag("--force", force, "use a file that is not 540 bytes long");
    std::string dataFolder;
    app.add_option("--data", dataFolder, "the settings of this data folder (novudl --data)")
        ->excludes("FILE");
    CLI::App* unset = app.add_subcommand("unset", "remove keys of NOVUDownLoad.toml");
    std::vector<std::string> removals;
    unset->add_option("KEY", removals, "keys of NOVUDownLoad.toml")->required();
    CLI::App* set = app.add_subcommand("set", "change fields, then print the record");
    std::vector<std::string> changes;
    set->add_option("FIELD VALUE", changes,
                    "bbsUrl documentUrl bbsEnabled documentEnabled bbsNumber documentNumber "
                    "timeout, or a key of NOVUDownLoad.toml, each followed by its value")
        ->required();
    app.footer(
        "A base URL begins with http:// or https://, may name a port (http://host:8080/path, "
        "http://[::1]:8080/path), and ends without a slash; documents lie at "
        "<base>/<n/1000>/<n>.xml (.shtm for articles). A URL template names them itself with "
        "{n}, {n:0W} (zero-padded to W digits) and {n/1000}: https://forum.example/t/{n}.json."
        "\nKeys of NOVUDownLoad.toml: bbs.path document.path (below the task's folder, default "
        "{n/1000}/{n}.xml and {n/1000}/{n}.htm) http.protocol (1.0 or 1.1) http.user_agent "
        "http.headers (\"Name: value\", repeat the key for more) http.cookies (a cookie file, "
        "relative to the data folder) http.max_redirects (0 to 20, default 5) "
        "http.max_document_mib (the largest document stored, 1 to 1048576, default 256) run.rate "
        "run.end_after run.poll.\nExit status: 0 done, 1 the file "
        "cannot be read or written, 2 a "
        "refused argument or file.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : kRefused;
    }
    if (!dataFolder.empty()) {
        DataLocation location;
        if (const Status chosen = ChooseDataFolder(dataFolder, location); !chosen.IsOk()) {
            return Refuse(chosen.Text());
        }
        path = SettingsPathFor(location.directory);
    } else if (path.empty()) {
        path = SettingsPathFor(ChooseDataLocationOfThisProgram().directory);
    }
    std::string folder = std::filesystem::path(path).parent_path().string();
    folder = folder.empty() ? std::string() : folder + PathSeparator();
    const std::string extendedPath = folder + kExtendedSettingsName;

    std::error_code error;
    const bool exists = std::filesystem::exists(path, error);
    if (exists && !IsRegularFile(path.c_str())) {
        return Refuse(path + " is not a regular file");
    }
    const auto size = exists ? std::filesystem::file_size(path, error) : 0;
    if (exists && size != TaskSettings::kRecordSize && !force) {
        return Refuse(path + " holds " + std::to_string(size) +
                      " bytes, not 540: it may not be a settings file (--force uses it anyway)");
    }
    CTaskSettingsFile file;
    file.SetPath(path);
    const int read = file.Load();
    if (exists && read < 0) {
        std::fprintf(stderr, "novucfg: cannot read %s\n", path.c_str());
        return 1;
    }
    if (!set->parsed() && !unset->parsed()) {
        if (!exists) {
            std::fprintf(stderr, "novucfg: %s does not exist\n", path.c_str());
            return 1;
        }
        Print(file.Record());
        PrintExtended(extendedPath);
        return 0;
    }
    // A run saves its record again and again: a change made under it would be overwritten. The
    // run may know the file under another name: the folder of the file a link leads to counts.
    std::string target;
    static_cast<void>(ResolveTrustedPath(path, target));
    for (const std::string& named : {path, target}) {
        const std::string parent = std::filesystem::path(named).parent_path().string();
        if (CFolderLock::InUse(parent.empty() ? std::string() : parent + PathSeparator())) {
            return Refuse("another run is using " + (parent.empty() ? std::string(".") : parent) +
                          "; the file is unchanged");
        }
    }
    if (changes.size() % 2 != 0) {
        return Refuse("set takes FIELD VALUE pairs; " + changes.back() + " has no value");
    }
    if (!exists) {
        file.Record() = TaskSettings::Defaults();
    }
    // Keys with a dot belong to NOVUDownLoad.toml, the others to the record.
    std::vector<std::pair<std::string, std::string>> extended;
    bool recordChanged = false;
    for (std::size_t i = 0; i < changes.size(); i += 2) {
        const std::string& key = changes[i];
        const std::string& value = changes[i + 1];
        const std::string problem = key.find('.') != std::string::npos
                                        ? (key == "bbs.path" || key == "document.path"
                                               ? PathProblem(key, value, folder, file.Record())
                                               : std::string())
                                        : SetField(file.Record(), key, value);
        if (!problem.empty()) {
            return Refuse(problem + "; nothing was changed");
        }
        if (key.find('.') != std::string::npos) {
            extended.emplace_back(key, value);
        } else {
            recordChanged = true;
        }
    }
    Status edited = extended.empty() ? Status::Ok() : SetExtendedSettings(extendedPath, extended);
    for (const std::string& key : removals) {
        if (edited.IsOk()) {
            edited = UnsetExtendedSetting(extendedPath, key);
        }
    }
    if (!edited.IsOk()) {
        return Refuse(edited.Text() + "; the settings record is unchanged");
    }
    if (recordChanged && file.Save() < 0) {
        std::fprintf(stderr, "novucfg: cannot write %s: %s\n", path.c_str(),
                     file.LastError().c_str());
        return 1;
    }
    if (recordChanged || exists) {
        Print(file.Record());
    }
    PrintExtended(extendedPath);
    return 0;
}
