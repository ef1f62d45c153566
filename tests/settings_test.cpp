#include <gtest/gtest.h>

#include <filesystem>

#include "posix_helpers.h"
#include "run/task_settings_file.h"
#include "support/file_helpers.h"
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
