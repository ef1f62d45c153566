#include <gtest/gtest.h>

#include <filesystem>

#include "run/task_settings_file.h"
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
    file_.LoadOrCreateDefaults();
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
    file_.LoadOrCreateDefaults();
    EXPECT_EQ(file_.Record().bbsUrl, TaskSettings::Defaults().bbsUrl);
    EXPECT_EQ(file_.Record().bbsEnabled, 1);  // two bytes of it were enough
    EXPECT_EQ(file_.Record().bbsNumber, 0);
    EXPECT_EQ(file_.Record().timeout, 0);
    EXPECT_EQ(std::filesystem::file_size(Path()), 522u);
}

TEST_F(SettingsFileTest, EmptyFileAppliesNoDefaults) {
    WriteFileBytes(Path(), "");
    EXPECT_EQ(file_.Load(), 0);
    file_.LoadOrCreateDefaults();
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
    EXPECT_EQ(file_.Record(), TaskSettings::Defaults());
}

TEST(DocumentNumberTest, SplitTruncatesTowardZeroAndComposeCarries) {
    EXPECT_EQ(DirectoryPart(1318001), 1318);
    EXPECT_EQ(FilePart(1318001), 1);
    EXPECT_EQ(DirectoryPart(-1500), -1);
    EXPECT_EQ(FilePart(-1500), -500);
    EXPECT_EQ(ComposeNumber(1, 1000), ComposeNumber(2, 0));
    EXPECT_EQ(ComposeNumber(-1, 5), -995);
    EXPECT_EQ(NextNumber(INT32_MAX), INT32_MIN);  // wraps instead of overflowing
}

}  // namespace
