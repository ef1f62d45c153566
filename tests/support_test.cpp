#include <gtest/gtest.h>
#include <re2/re2.h>

#include <unistd.h>
#include <cerrno>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "in_temp_directory.h"
#include "posix_helpers.h"
#include "recording_file_system.h"
#include "support/data_location.h"
#include "support/debug_log.h"
#include "support/error_text.h"
#include "support/file_helpers.h"

namespace {

const char* const kStamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})";

using DebugLogTest = InTempDirectory;

TEST_F(DebugLogTest, TraceEntryIsStampTabTextAndNewline) {
    EXPECT_EQ(WriteDebugLog("Create WorkerThread\n"), 0);
    EXPECT_TRUE(RE2::FullMatch(Log(), RE2(std::string(kStamp) + "\tCreate WorkerThread\n\n")))
        << Log();
}

TEST_F(DebugLogTest, LaterEntriesAppendAcrossReopen) {
    WriteDebugLog("first %d", 1);
    CloseDebugLog();
    WriteDebugLog("second %s", "two");
    const std::string log = Log();
    EXPECT_NE(log.find("\tfirst 1\n"), std::string::npos);
    EXPECT_GT(log.find("\tsecond two\n"), log.find("\tfirst 1\n"));
}

TEST_F(DebugLogTest, ConcurrentFirstEntriesOpenOnceAndStayWhole) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) {
        threads.emplace_back([] {
            for (int j = 0; j < 50; ++j) {
                WriteDebugLog("Create WorkerThread\n");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::istringstream lines(Log());
    std::string line;
    int entries = 0;
    const RE2 entry(std::string(kStamp) + "\tCreate WorkerThread");
    while (std::getline(lines, line)) {
        if (line.empty()) {
            continue;
        }
        ASSERT_TRUE(RE2::FullMatch(line, entry)) << line;
        ++entries;
    }
    EXPECT_EQ(entries, 1000);
}

TEST_F(DebugLogTest, ReportErrorWritesEntryAndShowsSameTextInErrorBox) {
    std::string caption, shown;
    SetErrorBoxHook([&](const std::string& c, const std::string& text) {
        caption = c;
        shown = text;
        return 1;
    });
    EXPECT_EQ(ReportError("a text"), 0);
    EXPECT_EQ(caption, "error");
    EXPECT_TRUE(RE2::FullMatch(shown, RE2(std::string("a text\r?\n\\(") + kStamp + "\\)")))
        << shown;
    shown.erase(std::remove(shown.begin(), shown.end(), '\r'), shown.end());
    EXPECT_EQ(Log(), shown + "\n");
}

TEST_F(DebugLogTest, ErrorTextIsShownVerbatimNotReformatted) {
    std::string shown;
    SetErrorBoxHook([&](const std::string&, const std::string& text) {
        shown = text;
        return 1;
    });
    ReportError("100% %s %n");
    EXPECT_EQ(shown.rfind("100% %s %n\n(", 0), 0u) << shown;
}

TEST_F(DebugLogTest, LogThatCannotBeOpenedWritesNothingAndShowsNoBox) {
    // A folder where the log should be: no user, root included, can open it as a file.
    std::filesystem::create_directory(dir_.File("debug.txt"));
    bool shown = false;
    SetErrorBoxHook([&](const std::string&, const std::string&) {
        shown = true;
        return 1;
    });
    EXPECT_EQ(WriteDebugLog("x"), 0xFFFF);
    EXPECT_EQ(ReportError("x"), 0xFFFF);
    EXPECT_FALSE(shown);
}

TEST(FileHelpersTest, ReadWholeFileSizes) {
    TempDir dir;
    std::vector<char> buffer(540, 'x');
    EXPECT_EQ(ReadWholeFile(dir.File("missing").c_str(), buffer.data(), 540), -1);
    WriteFileBytes(dir.File("empty"), "");
    EXPECT_EQ(ReadWholeFile(dir.File("empty").c_str(), buffer.data(), 540), 0);
    WriteFileBytes(dir.File("short"), std::string(100, 'a'));
    EXPECT_EQ(ReadWholeFile(dir.File("short").c_str(), buffer.data(), 540), 100);
    WriteFileBytes(dir.File("long"), std::string(540, 'b') + std::string(60, 'c'));
    std::fill(buffer.begin(), buffer.end(), 'x');
    EXPECT_EQ(ReadWholeFile(dir.File("long").c_str(), buffer.data(), 540), 540);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(540, 'b'));
}

TEST(FileHelpersTest, ReplaceWholeFileLeavesNoTemporaryBehind) {
    TempDir dir;
    const std::string path = dir.File("settings");
    WriteFileBytes(path, "old content that is longer");
    {
        // The new bytes reach the disk before they take the old ones' place, and the rename
        // before the save counts as done.
        RecordingFileSystem recorder;
        EXPECT_TRUE(ReplaceWholeFile(path.c_str(), "new", 3).IsOk());
        std::string order;
        for (const auto& call : recorder.Calls()) {
            order += call.what + (call.what == "sync-dir" ? " " + call.path : "") + ";";
        }
        EXPECT_EQ(order, "sync-data;rename;sync-dir " + dir.Path().string() + ";");
    }
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    const Status refused = ReplaceWholeFile(dir.File("no/such/dir").c_str(), "abc", 3);
    EXPECT_EQ(refused.Code(), StatusCode::kSystemError);
    EXPECT_EQ(refused.SystemErrorNumber(), ENOENT);
}

TEST(FileHelpersTest, FileExistsAndCreateDirIfAbsent) {
    TempDir dir;
    EXPECT_EQ(FileExists(dir.Path().string().c_str()), 1);
    EXPECT_EQ(FileExists(dir.File("missing").c_str()), 0);
    WriteFileBytes(dir.File("file"), "x");
    EXPECT_EQ(FileExists(dir.File("file").c_str()), 1);

    EXPECT_EQ(CreateDirIfAbsent(dir.File("new/").c_str()), 1);  // trailing separator accepted
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("new")));
    EXPECT_EQ(CreateDirIfAbsent(dir.File("new").c_str()), 1);
    EXPECT_EQ(CreateDirIfAbsent(dir.File("missing/child").c_str()), 0);
    EXPECT_EQ(CreateDirIfAbsent(dir.File("file").c_str()), 1);  // a file counts as present
    EXPECT_FALSE(std::filesystem::is_directory(dir.File("file")));
}

TEST(FileHelpersTest, AppDirectoryIsTheFolderTheBuildPutThisProgramIn) {
    std::string directory = "untouched";
    ASSERT_EQ(GetAppDirectory(directory), 1);
    EXPECT_EQ(directory.back(), PathSeparator()[0]);
    // The build folder as the build named it; under Wine the program sees it on drive Z:.
    const std::filesystem::path got = std::filesystem::path(directory).parent_path();
    const std::filesystem::path built = NOVU_TEST_BINARY_DIR;
    EXPECT_EQ(got.filename(), built.filename()) << directory;
    EXPECT_EQ(got.parent_path().filename(), built.parent_path().filename()) << directory;
}

}  // namespace

namespace {

#ifdef _WIN32
constexpr const char* kDataHomeVariable = "LOCALAPPDATA";
#else
constexpr const char* kDataHomeVariable = "XDG_DATA_HOME";
#endif

class DataLocationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* previous = std::getenv(kDataHomeVariable);
        previous_ = previous != nullptr ? previous : "";
        SetEnvironment(kDataHomeVariable, dir_.File("data-home"));
    }
    void TearDown() override { SetEnvironment(kDataHomeVariable, previous_); }
    std::string UserFolder() const {
        return dir_.File("data-home") + PathSeparator() + "NOVUDownLoad" + PathSeparator();
    }

    TempDir dir_;
    std::string previous_;
};

TEST_F(DataLocationTest, WritableFolderOfAProgramThatIsNotInstalledIsUsed) {
    const DataLocation location = ChooseDataLocation(dir_.WithSeparator());
    EXPECT_EQ(location.directory, dir_.WithSeparator());
    EXPECT_TRUE(location.besideExecutable);
}

TEST_F(DataLocationTest, InstalledProgramUsesThePerUserFolderEvenWhereItCouldWrite) {
    // What a package leaves beside the program, and what the Windows installer does.
    for (const char* mark :
         {"usr/share/applications/example.novu.NOVUDownLoad.desktop", "usr/bin/Uninstall.exe"}) {
        TempDir scratch;
        std::filesystem::create_directories(scratch.File("usr/bin"));
        std::filesystem::create_directories(
            std::filesystem::path(scratch.File(mark)).parent_path());
        WriteFileBytes(scratch.File(mark), "");
        const DataLocation location = ChooseDataLocation(scratch.File("usr/bin") + "/");
        EXPECT_EQ(location.directory, UserFolder()) << mark;
        EXPECT_FALSE(location.besideExecutable) << mark;
    }
    EXPECT_TRUE(std::filesystem::is_directory(UserFolder()));
}

TEST_F(DataLocationTest, FolderThatTakesNoFilesSendsTheDataToThePerUserFolder) {
    NOVU_SKIP_ON_WINDOWS("permission bits that bind every user");
    const std::string folder = dir_.File("read-only") + "/";
    EXPECT_TRUE(AsOrdinaryUser(dir_.Path(), [&] {
        std::filesystem::create_directory(folder);
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        const DataLocation location = ChooseDataLocation(folder);
        CHILD_CHECK(location.directory == UserFolder());
        CHILD_CHECK(!location.besideExecutable);
        return true;
    }));
}

}  // namespace
