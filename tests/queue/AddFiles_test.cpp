#include "core/queue/AddFiles.h"

#include "QueueTestSupport.h"
#include "core/app/MyUtils.h"
#include "core/queue/JobsFile.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <set>

using namespace quillo;
using test::ScratchFolder;
using test::WriteFile;

namespace {

std::set<std::string> AsSet(const std::vector<std::string>& v) {
    return {v.begin(), v.end()};
}

const TSkippedEntry* FindSkipped(const TSkippedEntries& skipped, const std::string& path) {
    for (const TSkippedEntry& s : skipped)
        if (s.Path == path)
            return &s;
    return nullptr;
}

TEST(ListFilesRecursive, TakesHiddenFilesAndSearchesSubfoldersWhereTheyAreMet) {
    const std::string root = ScratchFolder("tree");
    ::mkdir((root + "/sub").c_str(), 0755);
    ::mkdir((root + "/sub/.hidden-dir").c_str(), 0755);
    const std::vector<std::string> expected = {WriteFile(root + "/a.bin"), WriteFile(root + "/.hidden"),
                                               WriteFile(root + "/sub/b.bin"),
                                               WriteFile(root + "/sub/.hidden-dir/c.bin")};
    std::vector<std::string> list = {"kept"};
    TSkippedEntries skipped;
    ListFilesRecursive(root + "/", list, &skipped);
    EXPECT_EQ(list.front(), "kept");
    list.erase(list.begin());
    EXPECT_EQ(AsSet(list), AsSet(expected));
    EXPECT_EQ(list.size(), expected.size());
    EXPECT_TRUE(skipped.empty());
    // Depth first: the files below "sub" follow each other.
    const auto b = std::find(list.begin(), list.end(), root + "/sub/b.bin");
    const auto c = std::find(list.begin(), list.end(), root + "/sub/.hidden-dir/c.bin");
    EXPECT_EQ(std::abs(b - c), 1);
    // Without the trailing separator the same paths come out.
    std::vector<std::string> again;
    ListFilesRecursive(root, again);
    EXPECT_EQ(again, list);
}

TEST(ListFilesRecursive, ALinkToAFolderAboveEndsTheWalkInsteadOfLoopingForever) {
    const std::string root = ScratchFolder("loop");
    ::mkdir((root + "/sub").c_str(), 0755);
    const std::string file = WriteFile(root + "/sub/f.bin");
    ASSERT_EQ(::symlink("..", (root + "/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink(root.c_str(), (root + "/sub/absolute").c_str()), 0);
    std::vector<std::string> list;
    TSkippedEntries skipped;
    ListFilesRecursive(root + "/", list, &skipped);
    EXPECT_EQ(list, std::vector<std::string>{file});
    ASSERT_EQ(skipped.size(), 2u);
    for (const TSkippedEntry& s : skipped)
        EXPECT_EQ(s.Kind, skListedAlready) << s.Path;
}

TEST(ListFilesRecursive, SkipsAndNamesWhatIsNoFileAndGoesOn) {
    const std::string root = ScratchFolder("odd");
    const std::string file = WriteFile(root + "/file.bin");
    ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/null", (root + "/device").c_str()), 0);
    ASSERT_EQ(::symlink((root + "/gone").c_str(), (root + "/dangling").c_str()), 0);
    const std::string linkedFile = root + "/link-to-file";
    ASSERT_EQ(::symlink(file.c_str(), linkedFile.c_str()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = root + "/socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    std::vector<std::string> list;
    TSkippedEntries skipped;
    ListFilesRecursive(root, list, &skipped); // must not block on the pipe
    ::close(sock);
    EXPECT_EQ(AsSet(list), (std::set<std::string>{file, linkedFile}));
    const struct {
        const char* Name;
        TSkipKind Kind;
    } cases[] = {
        {"/pipe", skNotAFile}, {"/device", skNotAFile}, {"/socket", skNotAFile}, {"/dangling", skUnreadable}};
    for (const auto& c : cases) {
        const TSkippedEntry* s = FindSkipped(skipped, root + c.Name);
        ASSERT_NE(s, nullptr) << c.Name;
        EXPECT_EQ(s->Kind, c.Kind) << c.Name;
        EXPECT_FALSE(s->Reason.empty()) << c.Name;
    }
    EXPECT_EQ(skipped.size(), 4u);
}

TEST(ListFilesRecursive, AnUnreadableSubfolderIsSkippedAndNamedNotFatal) {
    const std::string root = ScratchFolder("locked");
    ::mkdir((root + "/locked").c_str(), 0755);
    WriteFile(root + "/locked/secret.bin");
    const std::string open = WriteFile(root + "/open.bin");
    ::chmod((root + "/locked").c_str(), 0);
    std::vector<std::string> list;
    TSkippedEntries skipped;
    {
        test::TWithoutFileAccessOverride asAUser;
        ListFilesRecursive(root, list, &skipped);
    }
    ::chmod((root + "/locked").c_str(), 0755);
    EXPECT_EQ(list, std::vector<std::string>{open});
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].Path, root + "/locked");
    EXPECT_EQ(skipped[0].Kind, skUnreadable);
    EXPECT_NE(skipped[0].Reason.find("Permission denied"), std::string::npos) << skipped[0].Reason;
}

TEST(ListFilesRecursive, KeepsNamesThatAreNotUtf8AsTheirBytes) {
    const std::string root = ScratchFolder("bytes");
    const std::string odd = root + "/caf\xFF\xFE.bin"; // not UTF-8
    WriteFile(odd, 1234);
    std::vector<std::string> list;
    ListFilesRecursive(root, list);
    ASSERT_EQ(list, std::vector<std::string>{odd});
    EXPECT_EQ(GetFileSize64(list[0]), 1234);
    TUploadQueue queue;
    queue.AddTask(list[0], "", "", "HTTP Method");
    EXPECT_EQ(queue.Task(0).FileName, odd);
    EXPECT_EQ(queue.Task(0).FileSize, 1234);
    EXPECT_EQ(ReadRegularFile(odd), std::string(1234, 'x'));
    ::unlink(odd.c_str()); // the scratch folder's clean-up could not name it
}

TEST(ExpandFolders, FoldersBecomeTheirFilesAtTheEndAndFilesKeepTheirOrder) {
    const std::string root = ScratchFolder("expand");
    for (const char* d : {"/A", "/B", "/Empty", "/OnlyEmpty", "/OnlyEmpty/Inner"})
        ::mkdir((root + d).c_str(), 0755);
    const std::string f1 = WriteFile(root + "/one.bin"), f2 = WriteFile(root + "/two.bin");
    const std::string a = WriteFile(root + "/A/a.bin"), b1 = WriteFile(root + "/B/b1.bin"),
                      b2 = WriteFile(root + "/B/b2.bin");
    const std::string missing = root + "/missing.bin";
    const struct {
        std::vector<std::string> In, Out;
    } cases[] = {
        {{f1, root + "/A", f2, root + "/Empty", root + "/B", missing}, {f1, f2, missing, a, b1, b2}},
        {{root + "/A", root + "/B"}, {a, b1, b2}}, // two folders side by side
        {{root + "/Empty", root + "/OnlyEmpty"}, {}},
        {{f2, f1}, {f2, f1}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> paths = c.In;
        ExpandFolders(paths, nullptr, true);
        EXPECT_EQ(paths, c.Out) << c.In.size();
        // In the file system's order the same files come out.
        std::vector<std::string> unsorted = c.In;
        ExpandFolders(unsorted);
        EXPECT_EQ(AsSet(unsorted), AsSet(c.Out));
        EXPECT_EQ(unsorted.size(), c.Out.size());
    }
}

TEST(RemoveDuplicates, MatchesWholePathsOfTheQueueIgnoringOnlyAsciiCase) {
    TUploadQueue queue;
    for (const char* f : {"/data/Movie.AVI", "/data/\xC3\xA4rger.bin", "/data/bytes\xFF"}) {
        TUploadJobData t;
        t.FileName = f;
        queue.AppendTask(std::move(t));
    }
    TFinishedUploadJobData done;
    done.FileName = "/data/finished.bin";
    queue.AppendFinished(done);
    const struct {
        std::string Path;
        bool Queued;
    } cases[] = {
        {"/data/Movie.AVI", true},         {"/DATA/movie.avi", true}, // other letter case
        {"/data/\xC3\x84rger.bin", false}, // other case of a letter that is not ASCII
        {"/data/\xC3\xA4RGER.BIN", true},  {"/data/bytes\xFF", true},
        {"/data/bytes\xDF", false},      // 0xFF is no letter to fold
        {"/data/Movie.AVI.part", false}, // whole paths only
        {"/data/finished.bin", false},   // the finished list is not consulted
    };
    for (const auto& c : cases) {
        std::vector<std::string> paths = {c.Path, "/other/kept"};
        RemoveDuplicates(paths, queue);
        EXPECT_EQ(paths.size(), c.Queued ? 1u : 2u) << c.Path;
        EXPECT_EQ(paths.back(), "/other/kept");
    }
    std::vector<std::string> twice = {"/x/same", "/x/same"};
    RemoveDuplicates(twice, queue);
    EXPECT_EQ(twice.size(), 2u) << "equal entries within the list both stay";
}

TEST(PlanAddFiles, TellsWhichDuplicateMessageApplies) {
    const std::string root = ScratchFolder("plan");
    ::mkdir((root + "/empty").c_str(), 0755);
    const std::string queued = WriteFile(root + "/queued.bin"), fresh = WriteFile(root + "/fresh.bin"),
                      queued2 = WriteFile(root + "/queued2.bin");
    TUploadQueue queue;
    queue.AddTask(queued, "", "", "HTTP Method");
    queue.AddTask(queued2, "", "", "HTTP Method");
    const struct {
        std::vector<std::string> In;
        TDuplicateNotice Notice;
        bool GoOn;
        std::size_t Files, Expanded;
    } cases[] = {
        {{}, dnNone, false, 0, 0},
        {{queued}, dnTheFile, false, 0, 1},
        {{queued, queued2}, dnAllTheFiles, false, 0, 2},
        {{queued, fresh}, dnSome, true, 1, 2},
        {{fresh}, dnNone, true, 1, 1},
        {{root + "/empty"}, dnNone, true, 0, 0}, // only empty folders: the dialog says 0 files
    };
    for (const auto& c : cases) {
        const TAddFilesPlan plan = PlanAddFiles(c.In, queue);
        EXPECT_EQ(plan.Duplicates, c.Notice) << c.In.size();
        EXPECT_EQ(plan.GoOn(), c.GoOn) << c.In.size();
        EXPECT_EQ(plan.Files.size(), c.Files) << c.In.size();
        EXPECT_EQ(plan.Expanded, c.Expanded) << c.In.size();
    }
    TAddFilesOptions once;
    once.DropRepeatedPaths = true;
    EXPECT_EQ(PlanAddFiles({fresh, root + "/FRESH.bin", fresh}, queue, once).Files,
              std::vector<std::string>{fresh});
}

TEST(TotalFileSize, SumsTheSizesAndRaisesForAVanishedFile) {
    const std::string root = ScratchFolder("sizes");
    const std::vector<std::string> files = {WriteFile(root + "/a", 1000), WriteFile(root + "/b", 24)};
    EXPECT_EQ(TotalFileSize(files), 1024);
    EXPECT_EQ(TotalFileSize({}), 0);
    EXPECT_THROW(TotalFileSize({files[0], root + "/vanished"}), EFOpenError);
    const std::string locked = WriteFile(root + "/locked", 5);
    ::chmod(locked.c_str(), 0);
    test::TWithoutFileAccessOverride asAUser;
    EXPECT_THROW(TotalFileSize({locked}), EFOpenError) << "a file nobody may read is no file to upload";
}

class AddPlannedFilesTest : public ::testing::TestWithParam<bool> {};

TEST_P(AddPlannedFilesTest, AVanishedFileIsReportedAndTheTasksBeforeItStayAndAreSaved) {
    const bool stopAtFirst = GetParam();
    test::TQueueFixture fx;
    const std::string root = ScratchFolder("add");
    const std::vector<std::string> files = {WriteFile(root + "/first.bin", 10), root + "/vanished.bin",
                                            WriteFile(root + "/last.bin", 20)};
    const TAddFilesResult r =
        AddPlannedFiles(*fx.Scheduler, files, {"", "HTTP Method", jsQueued}, stopAtFirst);
    ASSERT_EQ(r.Failed.size(), 1u);
    EXPECT_EQ(r.Failed[0].Path, files[1]);
    EXPECT_NE(r.Failed[0].Reason.find("No such file"), std::string::npos) << r.Failed[0].Reason;
    EXPECT_TRUE(r.Saved);
    const std::size_t expected = stopAtFirst ? 1 : 2;
    EXPECT_EQ(r.Added, expected);
    ASSERT_EQ(fx.Queue.TaskCount(), expected);
    EXPECT_EQ(fx.Queue.Task(0).State, jsQueued);
    EXPECT_EQ(fx.Queue.Task(0).FileSize, 10);
    EXPECT_NE(fx.Queue.QueueSummary().find(std::to_string(expected) + " file"), std::string::npos)
        << fx.Queue.QueueSummary();
    TUploadQueue reloaded;
    ASSERT_TRUE(LoadJobs(reloaded, fx.JobsFile, {}));
    EXPECT_EQ(reloaded.TaskCount(), expected);
}

INSTANTIATE_TEST_SUITE_P(StopOrGoOn, AddPlannedFilesTest, ::testing::Bool());

TEST(AddPlannedFiles, StoresTheNameOnlyWhenItDiffersAndSetsTheChosenState) {
    const std::string root = ScratchFolder("names");
    const std::string file = WriteFile(root + "/Holiday.avi");
    const struct {
        std::string Typed;
        std::string Stored;
        TJobState State;
    } cases[] = {
        {"holiday.AVI", "", jsDelayed}, {"Holiday.avi", "", jsQueued}, {"other.avi", "other.avi", jsQueued}};
    for (const auto& c : cases) {
        test::TQueueFixture fx;
        const TAddFilesResult r =
            AddPlannedFiles(*fx.Scheduler, {file}, {c.Typed, "FTP Method", c.State}, true);
        ASSERT_EQ(r.Added, 1u);
        EXPECT_EQ(fx.Queue.Task(0).UploadName, c.Stored) << c.Typed;
        EXPECT_EQ(fx.Queue.Task(0).State, c.State) << c.Typed;
        EXPECT_EQ(fx.Queue.Task(0).Method, "FTP Method");
    }
    test::TQueueFixture none;
    EXPECT_TRUE(AddPlannedFiles(*none.Scheduler, {}, {"", "HTTP Method", jsQueued}, true).Saved)
        << "no file still writes the jobs file";
}

} // namespace
