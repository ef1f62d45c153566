#include <gtest/gtest.h>

#include <filesystem>

#include "engine/cookie_jar.h"
#include "engine/downloader.h"
#include "posix_helpers.h"
#include "run/extended_settings.h"
#include "run/job_names.h"
#include "run/run_request.h"
#include "run/task_settings_file.h"
#include "support/file_helpers.h"
#include "support/text_format.h"
#include "temp_dir.h"

namespace {

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override { file_.SetPath(SettingsPathFor(dir_.WithSeparator())); }
    std::string Path() const { return file_.GetPath(); }

    TempDir dir_;
    CTaskSettingsFile file_;
};

TEST_F(SettingsFileTest, MissingFileGetsTheDefaultsWritten) {
    ASSERT_TRUE(file_.LoadOrCreateDefaults().IsOk());
    EXPECT_EQ(file_.Record(), TaskSettings::Defaults());
    EXPECT_EQ(std::filesystem::file_size(Path()), 540u);
    EXPECT_EQ(Path(), dir_.WithSeparator() + "NOVUDownLoad.cfg");

    CTaskSettingsFile again;
    again.SetPath(Path());
    EXPECT_EQ(again.Load(), 540);
    EXPECT_EQ(again.Record(), TaskSettings::Defaults());
}

TEST_F(SettingsFileTest, RecordLayoutIsLittleEndianFieldByField) {
    TaskSettings settings = TaskSettings::Defaults();
    settings.timeout = -1;
    settings.bbsNumber = 0x01020304;
    const auto bytes = settings.ToBytes();
    const std::string url(reinterpret_cast<const char*>(bytes.data()));
    EXPECT_EQ(url, "http://bbs.novu.example/Expert/topic");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 260)),
              "http://www.novu.example/develop/article");
    EXPECT_EQ(bytes[520], 1);
    EXPECT_EQ(bytes[524], 1);
    EXPECT_EQ((std::vector<int>{bytes[528], bytes[529], bytes[530], bytes[531]}),
              (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ((std::vector<int>{bytes[536], bytes[537], bytes[538], bytes[539]}),
              (std::vector<int>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(TaskSettings::FromBytes(bytes), settings);
}

TEST_F(SettingsFileTest, ShortFileKeepsWhatWasReadAndIsNotRewritten) {
    TaskSettings::Bytes bytes = TaskSettings::Defaults().ToBytes();
    WriteFileBytes(Path(), std::string(reinterpret_cast<const char*>(bytes.data()), 522));
    ASSERT_TRUE(file_.LoadOrCreateDefaults().IsOk());
    EXPECT_EQ(file_.Record().bbsUrl, TaskSettings::Defaults().bbsUrl);
    EXPECT_EQ(file_.Record().bbsEnabled, 1);  // two bytes of it were enough
    EXPECT_EQ(file_.Record().bbsNumber, 0);
    EXPECT_EQ(file_.Record().timeout, 0);
    EXPECT_EQ(std::filesystem::file_size(Path()), 522u);
}

TEST_F(SettingsFileTest, EmptyFileAppliesNoDefaults) {
    WriteFileBytes(Path(), "");
    EXPECT_EQ(file_.Load(), 0);
    ASSERT_TRUE(file_.LoadOrCreateDefaults().IsOk());
    EXPECT_EQ(file_.Record(), TaskSettings());
    EXPECT_EQ(std::filesystem::file_size(Path()), 0u);
}

TEST_F(SettingsFileTest, LongerFileIsReadToByte540AndTruncatedBySave) {
    TaskSettings::Bytes bytes = TaskSettings::Defaults().ToBytes();
    WriteFileBytes(Path(), std::string(reinterpret_cast<const char*>(bytes.data()), 540) +
                               std::string(60, 'x'));
    EXPECT_EQ(file_.Load(), 540);
    EXPECT_EQ(file_.Record(), TaskSettings::Defaults());
    EXPECT_EQ(file_.Save(), 540);
    EXPECT_EQ(std::filesystem::file_size(Path()), 540u);
    EXPECT_FALSE(std::filesystem::exists(Path() + ".tmp"));
}

TEST_F(SettingsFileTest, UrlFieldWithoutTerminatorStopsAtItsEnd) {
    std::string corrupt(540, 'A');  // no zero byte anywhere
    WriteFileBytes(Path(), corrupt);
    EXPECT_EQ(file_.Load(), 540);
    EXPECT_EQ(file_.Record().bbsUrl, std::string(260, 'A'));
    EXPECT_EQ(file_.Record().documentUrl, std::string(260, 'A'));
    EXPECT_EQ(file_.Record().timeout, 0x41414141);
    // Saved back, the record stays byte for byte what it was.
    ASSERT_EQ(file_.Save(), 540);
    EXPECT_EQ(ReadFileBytes(Path()), corrupt);
}

TEST_F(SettingsFileTest, UnwritableFolderFailsSaveAndKeepsRecord) {
    file_.SetPath(dir_.File("missing/NOVUDownLoad.cfg"));
    file_.Record() = TaskSettings::Defaults();
    EXPECT_EQ(file_.Save(), -1);
    EXPECT_EQ(file_.LastError(), SystemErrorText(ENOENT));
    EXPECT_EQ(file_.Record(), TaskSettings::Defaults());
}

TEST_F(SettingsFileTest, SaveFollowsLinksKeepsTheModeAndLeavesNoTemporaryFile) {
    NOVU_SKIP_ON_WINDOWS("links and permission bits");
    namespace fs = std::filesystem;
    fs::create_directory(dir_.File("real"));
    const std::string target = dir_.File("real/settings.bin");
    WriteFileBytes(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, Path());
    file_.Record() = TaskSettings::Defaults();
    ASSERT_EQ(file_.Save(), 540);
    EXPECT_TRUE(fs::is_symlink(Path()));
    EXPECT_EQ(fs::file_size(target), 540u);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.File("real")), fs::directory_iterator()),
              1);
}

TEST_F(SettingsFileTest, SaveThatCannotWriteItsBytesFailsAndKeepsTheOldRecord) {
    NOVU_SKIP_ON_WINDOWS("a limit on file sizes");
    file_.Record() = TaskSettings::Defaults();
    ASSERT_EQ(file_.Save(), 540);
    const std::string before = ReadFileBytes(Path());
    file_.Record().bbsNumber = 42;
    int saved = 0;
    {
        const FileSizeLimit small(100);  // neither way of saving can write 540 bytes
        saved = file_.Save();
    }
    EXPECT_EQ(saved, -1);
    EXPECT_EQ(file_.LastError(), "File too large");
    EXPECT_EQ(ReadFileBytes(Path()), before);
}

TEST_F(SettingsFileTest, ReadOnlyFileIsNeverReplaced) {
    NOVU_SKIP_ON_WINDOWS("permission bits");
    WriteFileBytes(Path(), "read-only");
    std::filesystem::permissions(Path(), std::filesystem::perms::owner_read);
    file_.Record() = TaskSettings::Defaults();
    EXPECT_EQ(file_.Save(), -1);
    EXPECT_EQ(ReadFileBytes(Path()), "read-only");
    EXPECT_EQ(std::filesystem::status(Path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read);
}

TEST_F(SettingsFileTest, FileInAFolderThatTakesNoNewFileIsRewrittenInPlace) {
    NOVU_SKIP_ON_WINDOWS("permission bits that bind every user");
    const std::filesystem::path folder = dir_.Path() / "locked";
    EXPECT_TRUE(AsOrdinaryUser(dir_.Path(), [&] {
        std::filesystem::create_directory(folder);
        const std::string path = SettingsPathFor(folder.string() + "/");
        WriteFileBytes(path, std::string(600, 'x'));
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        CTaskSettingsFile file;
        file.SetPath(path);
        file.Record() = TaskSettings::Defaults();
        CHILD_CHECK(file.Save() == 540);
        const auto bytes = TaskSettings::Defaults().ToBytes();
        CHILD_CHECK(ReadFileBytes(path) == std::string(bytes.begin(), bytes.end()));
        return true;
    }));
}

#ifndef _WIN32
struct stat Stat(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info;
}

// In a sticky, world-writable folder another user plants the settings file as a link to a file
// of the user who runs the program: the save must not write through it.
TEST_F(SettingsFileTest, LinkPlantedByAnotherUserNeverSteersTheSave) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "planting a link as another user needs root";
    }
    namespace fs = std::filesystem;
    const fs::path shared = dir_.Path() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const std::string victim = dir_.File("victim");
    WriteFileBytes(victim, "26 bytes of someone's data");
    const std::string planted = SettingsPathFor(shared.string() + "/");
    fs::create_symlink(victim, planted);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    file_.SetPath(planted);
    file_.Record() = TaskSettings::Defaults();
    EXPECT_EQ(file_.Save(), -1);
    EXPECT_EQ(file_.LastError(), "it is a symbolic link that belongs to another user");
    EXPECT_EQ(ReadFileBytes(victim), "26 bytes of someone's data");
    // A link of the folder's owner is followed, as the kernel would.
    ASSERT_EQ(::lchown(planted.c_str(), 0, 0), 0);
    EXPECT_EQ(file_.Save(), 540);
    EXPECT_EQ(fs::file_size(victim), 540u);
}

// Root saving in another user's folder, and a user saving a file of root's that it may write:
// the file stays its owner's, so that the owner can still save and run novucfg.
TEST_F(SettingsFileTest, ReplacedFileKeepsItsOwnerAndGroup) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "files of two users need root";
    }
    namespace fs = std::filesystem;
    const fs::path theirs = dir_.Path() / "theirs";
    fs::create_directory(theirs);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    const std::string path = SettingsPathFor(theirs.string() + "/");
    WriteFileBytes(path, std::string(540, 'o'));
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    file_.SetPath(path);
    file_.Record() = TaskSettings::Defaults();
    ASSERT_EQ(file_.Save(), 540);
    EXPECT_EQ(Stat(path).st_uid, 65534u);
    EXPECT_EQ(Stat(path).st_gid, 65534u);
    EXPECT_EQ(Stat(path).st_mode & 0777, 0640u);
    EXPECT_EQ(fs::file_size(path), 540u);

    // Root's file that everyone may write: the ordinary user cannot give a new file to root,
    // so it writes in place.
    const std::string rootsFile = dir_.File("roots.cfg");
    WriteFileBytes(rootsFile, std::string(540, 'r'));
    fs::permissions(rootsFile, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec &
                                   ~fs::perms::others_exec);
    EXPECT_TRUE(AsOrdinaryUser(dir_.Path(), [&] {
        CTaskSettingsFile file;
        file.SetPath(rootsFile);
        file.Record() = TaskSettings::Defaults();
        CHILD_CHECK(file.Save() == 540);
        return true;
    }));
    EXPECT_EQ(Stat(rootsFile).st_uid, 0u);
    const auto bytes = TaskSettings::Defaults().ToBytes();
    EXPECT_EQ(ReadFileBytes(rootsFile), std::string(bytes.begin(), bytes.end()));
}
#endif

TEST_F(SettingsFileTest, UnreadableFileIsLeftAsItIsAndTheDefaultsServe) {
    NOVU_SKIP_ON_WINDOWS("permission bits that bind every user");
    EXPECT_TRUE(AsOrdinaryUser(dir_.Path(), [&] {
        const std::string path = dir_.File("unreadable.cfg");
        WriteFileBytes(path, "the user's own bytes");
        // Writable but not readable: nothing but this program's care keeps it from being replaced.
        std::filesystem::permissions(path, std::filesystem::perms::owner_write);
        CTaskSettingsFile file;
        file.SetPath(path);
        const std::string told = file.LoadOrCreateDefaults().Text();
        CHILD_CHECK(told.find("cannot be read, so it was left as it is") != std::string::npos);
        CHILD_CHECK(file.Record() == TaskSettings::Defaults());
        CHILD_CHECK(file.Save() == -1);
        std::filesystem::permissions(path, std::filesystem::perms::owner_read);
        CHILD_CHECK(ReadFileBytes(path) == "the user's own bytes");
        return true;
    }));
}

TEST_F(SettingsFileTest, PathThatIsNoRegularFileGetsTheDefaultsAndTheFailureIsTold) {
    std::filesystem::create_directory(dir_.File("a-folder"));
    std::vector<const char*> names = {"a-folder"};
    if (MakeFifo(dir_.File("a-fifo"))) {  // Windows has none
        names.push_back("a-fifo");
    }
    for (const char* name : names) {
        CTaskSettingsFile file;
        file.SetPath(dir_.File(name));
        EXPECT_EQ(file.Load(), -1);  // a FIFO without a writer must not block
        const std::string told = file.LoadOrCreateDefaults().Text();
        EXPECT_EQ(file.Record(), TaskSettings::Defaults()) << name;
        EXPECT_NE(told.find("(it is not a regular file)"), std::string::npos) << told;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir_.File("a-folder")));
}

TEST(DocumentNumberTest, SplitTruncatesTowardZeroAndComposeCarries) {
    EXPECT_EQ(DirectoryPart(1318001), 1318);
    EXPECT_EQ(FilePart(1318001), 1);
    EXPECT_EQ(DirectoryPart(-1500), -1);
    EXPECT_EQ(FilePart(-1500), -500);
    EXPECT_EQ(ComposeNumber(1, 1000), ComposeNumber(2, 0));
    EXPECT_EQ(ComposeNumber(-1, 5), -995);
}

}  // namespace

namespace {

TEST(NumberTemplateTest, PlaceholdersExpandAndEverythingElseIsRefused) {
    EXPECT_EQ(CNumberTemplate::Parse("/t/{n}/{n:06}/{n/1000}")->Expand(1234), "/t/1234/001234/1");
    EXPECT_EQ(CNumberTemplate::Parse("{n:01}")->Expand(42), "42");  // a width is a least width
    EXPECT_EQ(CNumberTemplate::Parse("{n:010}")->ExpandLongest(), "2147483647");
    std::string why;
    for (const auto& [text, reason] : std::initializer_list<std::pair<const char*, const char*>>{
             {"{n:00}", "a width from 1 to 10 digits, not {n:00}"},
             {"{n:011}", "a width from 1 to 10 digits, not {n:011}"},
             {"{n:6}", "unknown placeholder {n:6} (known: {n}, {n:0W}, {n/1000})"},
             {"/a/{id}", "unknown placeholder {id} (known: {n}, {n:0W}, {n/1000})"},
             {"/a/{n", "a \"{\" without its \"}\""},
             {"/a/n}", "a \"}\" without its \"{\""},
             {"/a/{n/1000}", "no place for the number: {n} or {n:0W}"},
         }) {
        EXPECT_FALSE(CNumberTemplate::Parse(text, &why)) << text;
        EXPECT_EQ(why, reason) << text;
    }
}

TEST(JobNamerTest, TemplatesNameUrlsAndFilesWithinTheirLimits) {
    const std::string s = PathSeparator();
    const auto namer = CJobNamer::Make("/d" + s, JOB_BBS, "https://f.example/t/{n}.json",
                                       "{n/1000}/{n:03}/index.json");
    const JobNames names = namer->Names(1007);
    EXPECT_EQ(names.url, "https://f.example/t/1007.json");
    EXPECT_EQ(names.file, "/d" + s + "xml_file" + s + "1" + s + "1007" + s + "index.json");
    EXPECT_EQ(names.folder, "/d" + s + "xml_file" + s + "1" + s + "1007");

    std::string why;
    for (const char* path : {"/abs/{n}", "C:{n}", "a/../{n}", "..\\{n}", "{n}/", "x"}) {
        EXPECT_FALSE(CJobNamer::Make("/d" + s, JOB_BBS, "http://h/t", path, &why)) << path;
    }
    // The path must fit 259 characters at the largest number, ten digits: one more is refused.
    const std::string folder = "/d" + s + "xml_file" + s;  // 12 characters
    const std::string fits(259 - folder.size() - 10, 'p');
    EXPECT_TRUE(CJobNamer::Make("/d" + s, JOB_BBS, "http://h/t", fits + "{n}"));
    EXPECT_FALSE(CJobNamer::Make("/d" + s, JOB_BBS, "http://h/t", fits + "p{n}", &why));
    EXPECT_NE(why.find("would pass 259 characters"), std::string::npos) << why;

    // A URL template the fetcher could not take at the largest number is refused in its words.
    const std::string prefix = "http://h/";
    const std::string room(259 - prefix.size() - 10, 'u');
    EXPECT_EQ(UrlTemplateProblem(prefix + room + "{n}"), "");
    EXPECT_EQ(UrlTemplateProblem(prefix + room + "u{n}").substr(0, 28),
              "name too long: at the larges");
    EXPECT_EQ(UrlTemplateProblem("http://h/a b/{n}"), "control character or space in the URL");
}

class ExtendedSettingsTest : public ::testing::Test {
  protected:
    Status Read(const std::string& text) {
        WriteFileBytes(Path(), text);
        settings_ = {};
        return ReadExtendedSettings(Path(), settings_);
    }
    std::string Path() const { return dir_.File("NOVUDownLoad.toml"); }

    TempDir dir_;
    ExtendedSettings settings_;
};

// What a run gets where NOVUDownLoad.toml says nothing: the limits and switches as documented.
TEST_F(ExtendedSettingsTest, AnEmptyFileLeavesTheDocumentedDefaults) {
    ASSERT_TRUE(Read("").IsOk());
    RunRequest request;
    std::vector<std::string> warnings;
    ASSERT_TRUE(ApplyExtendedSettings(settings_, dir_.WithSeparator(), request, warnings).IsOk());
    EXPECT_EQ(request.http.maxDocumentBytes, 268435456);  // 256 MiB
    EXPECT_EQ(request.http.maxRedirects, 5);
    EXPECT_FALSE(request.archive.warc);
    EXPECT_EQ(request.archive.maxFileBytes, 1073741824);  // 1024 MiB
    EXPECT_EQ(request.endAfter, 100);
    EXPECT_EQ(request.askAgainEvery, std::chrono::seconds(60));
    EXPECT_EQ(request.ratePerSecond, 100);
}

TEST_F(ExtendedSettingsTest, EveryKeyIsReadAndReachesTheRun) {
    WriteFileBytes(dir_.File("cookies.txt"), "h\tFALSE\t/\tFALSE\t0\tsid\tabc\n");
    ASSERT_TRUE(
        Read(
            "[bbs]\npath = \"{n}.json\"\nmissing_if_body = \"not found\"\n"
            "wall_if_body = \"Login required\"\nexpect = [\"Text/X-Wiki\", \"text/plain\"]\n"
            "[document]\nexpect = \"html\"\n[http]\nprotocol = \"1.1\"\n"
            "user_agent = \"Mozilla/5.0\"\nheaders = [\"Accept-Language: en\"]\n"
            "cookies = \"cookies.txt\"\nmax_redirects = 0\nmax_document_mib = 3\n"
            "[run]\nrate = 7\nend_after = 30\npoll = 5\n[archive]\nwarc = true\nwarc_max_mib = 2\n")
            .IsOk());
    RunRequest request;
    std::vector<std::string> warnings;
    ASSERT_TRUE(ApplyExtendedSettings(settings_, dir_.WithSeparator(), request, warnings).IsOk());
    EXPECT_EQ(request.bbsPath, "{n}.json");
    EXPECT_EQ(request.documentPath, "");
    EXPECT_TRUE(request.bbsPage.missingIfBody && !request.documentPage.missingIfBody);
    EXPECT_TRUE(request.bbsPage.wallIfBody && !request.documentPage.wallIfBody);
    EXPECT_EQ(request.bbsPage.expectTypes, (std::vector<std::string>{"text/x-wiki", "text/plain"}));
    EXPECT_EQ(request.documentPage.expect, PageRules::Kind::kHtml);
    EXPECT_EQ(request.httpVersion, HttpVersion::k11);
    EXPECT_EQ(request.http.userAgent, "Mozilla/5.0");
    EXPECT_EQ(request.http.headers.at(0).second, "en");
    EXPECT_EQ(request.http.maxRedirects, 0);
    EXPECT_EQ(request.http.maxDocumentBytes, 3145728);
    EXPECT_EQ(request.http.cookies->HeaderFor(*ParseUrl("http://h/"), 0), "sid=abc");
    EXPECT_EQ(request.ratePerSecond, 7);
    EXPECT_EQ(request.endAfter, 30);
    EXPECT_EQ(request.askAgainEvery, std::chrono::seconds(5));
    EXPECT_TRUE(request.archive.warc);
    EXPECT_EQ(request.archive.maxFileBytes, 2097152);
#ifndef _WIN32                       // a file's readers there are its ACL's
    EXPECT_EQ(warnings.size(), 1u);  // the cookie file is readable by others
#endif
    std::filesystem::permissions(dir_.File("cookies.txt"), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write);
    warnings.clear();
    ASSERT_TRUE(ApplyExtendedSettings(settings_, dir_.WithSeparator(), request, warnings).IsOk());
    EXPECT_TRUE(warnings.empty());

    // A missing file sets nothing.
    std::filesystem::remove(Path());
    EXPECT_TRUE(ReadExtendedSettings(Path(), settings_).IsOk());
}

TEST_F(ExtendedSettingsTest, BadFilesAndValuesAreRefusedWhereTheyStand) {
    const std::string p = Path();
    for (const auto& [text, refusal] : std::initializer_list<std::pair<const char*, std::string>>{
             {"[http]\nmax_redirects = 21\n",
              p + ":2:17: http.max_redirects is a whole number from 0 to 20"},
             {"[http]\nmax_redirects = -1\n",
              p + ":2:17: http.max_redirects is a whole number from 0 to 20"},
             {"[run]\nrate = 101\n", p + ":2:8: run.rate is a whole number from 1 to 100"},
             {"[run]\nend_after = 0\n",
              p + ":2:13: run.end_after is a whole number from 1 to 1000000"},
             {"[http]\nuser_agnt = \"x\"\n", p + ":2:13: unknown key http.user_agnt"},
             {"speed = 3\n", p + ":1:9: unknown key speed"},
             {"[http]\nprotocol = \"2\"\n",
              p + ":2:12: http.protocol: \"1.0\" or \"1.1\", not \"2\""},
             {"[http]\nheaders = [\"Host: x\"]\n", p + ":2:11: http.headers: Host, Content-Length, "
                                                       "Transfer-Encoding and Connection are the "
                                                       "exchange's own headers"},
             {"[document]\npath = \"../{n}\"\n", p + ":2:8: document.path: must not leave the "
                                                     "task's folder (\"..\")"},
             {"[http]\ncookies = 3\n", p + ":2:11: http.cookies is a text in quotes"},
             {"[bbs]\nmissing_if_body = \"Topic (not\"\n",
              p + ":2:19: bbs.missing_if_body: not a regular expression: a parenthesis without "
                  "its partner at position 7"},
             {"[document]\nexpect = \"json\"\n",
              p + ":2:10: document.expect: \"xml\", \"html\", \"any\" or media types such as "
                  "\"text/x-wiki\", not \"json\""},
             {"[bbs]\nexpect = [\"text/x-wiki\", \"xml\"]\n",
              p + ":2:10: bbs.expect: \"xml\", \"html\", \"any\" or media types such as "
                  "\"text/x-wiki\", not \"xml\""},
             {"[bbs]\nexpect = 5\n", p + ":2:10: bbs.expect is a text or a list of texts"},
             {"[bbs]\nwall_if_body = \"(Login\"\n",
              p + ":2:16: bbs.wall_if_body: not a regular expression: a parenthesis without its "
                  "partner at position 1"},
             {"[http]\nmax_document_mib = 0\n",
              p + ":2:20: http.max_document_mib is a whole number from 1 to 1048576"},
             {"[http]\nmax_document_mib = 1048577\n",
              p + ":2:20: http.max_document_mib is a whole number from 1 to 1048576"},
             // A count is a whole number as TOML writes it, never a text or a fraction.
             {"[run]\nrate = \"5\"\n", p + ":2:8: run.rate is a whole number from 1 to 100"},
             {"[run]\nrate = 5.0\n", p + ":2:8: run.rate is a whole number from 1 to 100"},
             {"[archive]\nwarc = \"yes\"\n", p + ":2:8: archive.warc is true or false"},
             {"[archive]\nwarc_max_mib = 0\n",
              p + ":2:16: archive.warc_max_mib is a whole number from 1 to 1048576"},
         }) {
        const Status read = Read(text);
        EXPECT_EQ(read.Text(), refusal) << text;
    }
    EXPECT_EQ(Read("[http\n").Text().substr(0, p.size() + 4), p + ":1:6");
    EXPECT_TRUE(Read("[http]\nmax_redirects = 20\nmax_document_mib = 1048576\n[run]\nrate = "
                     "100\nend_after = 1000000\n")
                    .IsOk());
}

TEST_F(ExtendedSettingsTest, KeysAreSetAndUnsetAsTheyAreRead) {
    ASSERT_TRUE(SetExtendedSettings(Path(), {{"http.user_agent", "Mozilla/5.0 (X11)"},
                                             {"http.headers", "A: 1"},
                                             {"http.headers", "B: 2"},
                                             {"run.rate", "12"},
                                             {"archive.warc", "true"}})
                    .IsOk());
    ASSERT_TRUE(ReadExtendedSettings(Path(), settings_).IsOk());
    EXPECT_EQ(settings_.userAgent, "Mozilla/5.0 (X11)");
    EXPECT_EQ(settings_.headers->size(), 2u);
    EXPECT_EQ(settings_.rate, 12);
    EXPECT_EQ(settings_.warc, true);
    EXPECT_EQ(SetExtendedSettings(Path(), {{"archive.warc", "on"}}).Text(),
              "archive.warc is true or false");
    const std::string before = ReadFileBytes(Path());
    EXPECT_EQ(SetExtendedSettings(Path(), {{"run.rate", "fast"}}).Text(),
              "run.rate is a whole number from 1 to 100");
    EXPECT_EQ(SetExtendedSettings(Path(), {{"run.speed", "1"}}).Text(), "unknown key run.speed");
    EXPECT_EQ(ReadFileBytes(Path()), before);  // a refused change changes nothing
    ASSERT_TRUE(UnsetExtendedSetting(Path(), "run.rate").IsOk());
    ASSERT_TRUE(ReadExtendedSettings(Path(), settings_).IsOk());
    EXPECT_FALSE(settings_.rate);
    EXPECT_EQ(ReadFileBytes(Path()).find("[run]"), std::string::npos);
}

// A change edits the file where the key stands: the user's comments, order and blank lines stay.
// A file whose shape a line's edit cannot follow is written anew, and reads back the same.
TEST_F(ExtendedSettingsTest, ChangesKeepTheFilesCommentsAndLayout) {
    const std::string file =
        "# mirror of forum.example\n[http]\nuser_agent = \"Mozilla ü\"  # the site wants a "
        "browser\n\n[run]\n# be polite\nrate = 5\n";
    struct Case {
        const char* name;
        std::string before;
        std::vector<std::pair<std::string, std::string>> set;  // empty: unset `unset`
        const char* unset;
        std::string after;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"a value",
              file,
              {{"run.rate", "12"}},
              nullptr,
              "# mirror of forum.example\n[http]\nuser_agent = \"Mozilla ü\"  # the site wants "
              "a browser\n\n[run]\n# be polite\nrate = 12\n"},
             {"a value after a wide character",
              file,
              {{"http.user_agent", "X"}},
              nullptr,
              "# mirror of forum.example\n[http]\nuser_agent = 'X'  # the site wants a "
              "browser\n\n[run]\n# be polite\nrate = 5\n"},
             {"a new key",
              file,
              {{"http.max_redirects", "3"}},
              nullptr,
              "# mirror of forum.example\n[http]\nuser_agent = \"Mozilla ü\"  # the site wants "
              "a browser\nmax_redirects = 3\n\n[run]\n# be polite\nrate = 5\n"},
             {"a new table",
              file,
              {{"bbs.expect", "xml"}},
              nullptr,
              file + "\n[bbs]\nexpect = 'xml'\n"},
             {"a table's last key",
              file,
              {},
              "http.user_agent",
              "# mirror of forum.example\n\n[run]\n# be polite\nrate = 5\n"},
             {"a list over lines",
              "[http]\nheaders = [\n  \"A: 1\",\n]\n# end\n",
              {{"http.headers", "B: 2"}, {"http.headers", "C: 3"}},
              nullptr,
              "[http]\nheaders = [ 'B: 2', 'C: 3' ]\n# end\n"},
             {"an empty file", "", {{"run.poll", "60"}}, nullptr, "[run]\npoll = 60\n"},
             {"lines ended with CR LF",
              "[run]\r\nrate = 5\r\n",
              {{"run.poll", "60"}, {"bbs.expect", "xml"}},
              nullptr,
              "[run]\r\nrate = 5\r\npoll = 60\r\n\r\n[bbs]\r\nexpect = 'xml'\r\n"},
             {"CR LF lines, the last without its end",
              "# x\r\n[run]\r\nrate = 5 # slow",
              {{"run.poll", "60"}, {"bbs.expect", "xml"}},
              nullptr,
              "# x\r\n[run]\r\nrate = 5 # slow\r\npoll = 60\r\n\r\n[bbs]\r\nexpect = 'xml'\r\n"},
             {"a new table below a last line without its end",
              "[run]\nrate = 5",
              {{"bbs.expect", "xml"}},
              nullptr,
              "[run]\nrate = 5\n\n[bbs]\nexpect = 'xml'\n"},
             {"dotted keys",
              "run.rate = 5 # x\n",
              {{"run.rate", "12"}},
              nullptr,
              "[run]\nrate = 12\n"},
         }) {
        WriteFileBytes(Path(), c.before);
        const Status changed = c.unset != nullptr ? UnsetExtendedSetting(Path(), c.unset)
                                                  : SetExtendedSettings(Path(), c.set);
        ASSERT_TRUE(changed.IsOk()) << c.name << ": " << changed.Text();
        EXPECT_EQ(ReadFileBytes(Path()), c.after) << c.name;
    }
}

}  // namespace
