// The task properties dialog and the two operations that ask it (adding files, editing tasks),
// offscreen: a hook answers the dialog the way a person would, through the widgets' names.
#include "ui/UpTaskProps.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/queue/JobsFile.h"
#include "core/queue/Scheduler.h"
#include "support/TestEnvironment.h"
#include "ui/MessageBox.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sys/stat.h>

using namespace quillo;

namespace {

struct TShownBox {
    QString Text, Caption;
};

class UpTaskPropsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::UseFreshHome();
        LoadSettings();
        // As after the user chose HTTP once; the first-run case sets its own.
        UpdateSettings([](TAppSettings& s) { s.General.LastUploadHost = "HTTP Method"; });
        // Other suites of this program register test methods: the dialog lists exactly the
        // program's own here.
        UnregisterAllUploaders();
        RegisterBuiltinUploaders();
        FFolder = test::MakeScratchDir(QStringLiteral("props")).toStdString();
        TSchedulerOptions options;
        options.OwnTimer = false;
        options.JobsFile = FFolder + "/quillo.jobs";
        FScheduler = std::make_unique<TScheduler>(FQueue, options);
        SetMessageBoxHandler(
            [this](QWidget*, const QString& Text, const QString& Caption, TMsgBoxButtons, TMsgBoxIcon) {
                FBoxes.push_back({Text, Caption});
                return mrOK;
            });
    }
    void TearDown() override {
        SetMessageBoxHandler(nullptr);
        SetTaskPropertiesHook(nullptr);
        FScheduler.reset();
    }

    std::string File(const std::string& name, std::size_t size = 1234) {
        const std::string path = FFolder + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path;
    }
    // Answers the next dialogs with Answer (which may look and change things, then OK or Cancel).
    void Answer(std::function<void(TFrmUploadTaskProperties&)> answer) {
        SetTaskPropertiesHook([this, answer](TFrmUploadTaskProperties& d) {
            ++FDialogs;
            FCaption = d.windowTitle();
            FInfo = d.lab_info->text();
            // After exec() has started, as a person would.
            QMetaObject::invokeMethod(
                &d, [&d, answer] { answer(d); }, Qt::QueuedConnection);
        });
    }
    static void Ok(TFrmUploadTaskProperties& d) { d.B_OK->click(); }
    static void Cancel(TFrmUploadTaskProperties& d) { d.B_Cancel->click(); }

    TUploadQueue FQueue;
    std::unique_ptr<TScheduler> FScheduler;
    std::string FFolder;
    std::vector<TShownBox> FBoxes;
    int FDialogs = 0;
    QString FCaption, FInfo;
};

TEST_F(UpTaskPropsTest, HasItsControlsTheSortedMethodsAndDelayAsTheFirstChoice) {
    TFrmUploadTaskProperties d(nullptr);
    EXPECT_STREQ(d.metaObject()->className(), "quillo::TFrmUploadTaskProperties");
    EXPECT_EQ(d.size(), QSize(378, 414));
    for (const char* name : {"lab_info", "Label3", "EB_UploadName", "B_Scramble", "Label1", "CB_UploadServer",
                             "RG_Options", "Label4", "Bevel1", "Label12", "Label2", "B_OK", "B_Cancel"})
        EXPECT_NE(d.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    ASSERT_EQ(d.CB_UploadServer->count(), 2);
    EXPECT_EQ(d.CB_UploadServer->itemText(0), QStringLiteral("FTP Method"));
    EXPECT_EQ(d.CB_UploadServer->itemText(1), QStringLiteral("HTTP Method"));
    EXPECT_EQ(d.CB_UploadServer->currentIndex(), 0);
    EXPECT_EQ(d.CB_UploadServer->maxVisibleItems(), 10);
    EXPECT_EQ(d.OptionIndex(), 1);
    EXPECT_EQ(d.RG_Options->title(), QStringLiteral("When to start upload ?"));
    EXPECT_EQ(d.B_Scramble->text(), QStringLiteral("Random"));
    EXPECT_TRUE(d.B_OK->isDefault());
    EXPECT_EQ(d.Label3->buddy(), d.EB_UploadName);
    EXPECT_EQ(d.Label1->buddy(), d.CB_UploadServer);

    const struct {
        const char* Name;
        int Index;
    } methods[] = {{"HTTP Method", 1}, {"FTP Method", 0}, {"http method", 0}, {"", 0}};
    for (const auto& m : methods) {
        d.SelectMethod(QString::fromLatin1(m.Name));
        EXPECT_EQ(d.CB_UploadServer->currentIndex(), m.Index) << m.Name;
    }
    d.B_ScrambleClick();
    const QString first = d.EB_UploadName->text();
    d.B_Scramble->click();
    EXPECT_FALSE(first.isEmpty());
    EXPECT_NE(d.EB_UploadName->text(), first);
    d.SetOptionIndex(-1);
    EXPECT_EQ(d.OptionIndex(), -1);
}

TEST_F(UpTaskPropsTest, FtpIsRefusedWithoutTheAccountUntilHttpIsChosen) {
    UpdateSettings([](TAppSettings& s) {
        s.Brimvault.UseAccount = false;
        s.General.LastUploadHost.clear(); // the first run
    });
    const std::string file = File("first.bin");
    int refusals = 0;
    Answer([&](TFrmUploadTaskProperties& d) {
        EXPECT_EQ(d.SelectedMethod(), QStringLiteral("FTP Method")) << "the first entry is proposed";
        d.B_OK->click();
        refusals = int(FBoxes.size());
        EXPECT_TRUE(d.isVisible()) << "the dialog stays open";
        d.SelectMethod(QStringLiteral("HTTP Method"));
        d.B_OK->click();
    });
    std::vector<std::string> paths = {file};
    EXPECT_TRUE(AddFiles(nullptr, *FScheduler, paths, false));
    EXPECT_EQ(refusals, 1);
    ASSERT_FALSE(FBoxes.empty());
    EXPECT_EQ(FBoxes[0].Text,
              QStringLiteral("You need to setup Brimvault account in the Settings to use FTP Method !"));
    EXPECT_EQ(FBoxes[0].Caption, QStringLiteral("Error"));
    ASSERT_EQ(FQueue.TaskCount(), 1u);
    EXPECT_EQ(FQueue.Task(0).Method, "HTTP Method");
    EXPECT_EQ(FQueue.Task(0).State, jsQueued);
    EXPECT_EQ(AppSettings.General.LastUploadHost, "HTTP Method");
}

TEST_F(UpTaskPropsTest, OneNewFileStoresTheNameOnlyWhenChanged) {
    UpdateSettings([](TAppSettings& s) { s.General.LastUploadHost = "HTTP Method"; });
    const struct {
        const char* Typed; // nullptr: leave the proposal
        const char* Stored;
    } cases[] = {{nullptr, ""}, {"HOLIDAY.avi", ""}, {"  other.avi ", "other.avi"}};
    for (const auto& c : cases) {
        FQueue.Clear();
        const std::string file = File("holiday.avi", 2048);
        Answer([&](TFrmUploadTaskProperties& d) {
            EXPECT_EQ(d.EB_UploadName->text(), QStringLiteral("holiday.avi"));
            EXPECT_EQ(d.SelectedMethod(), QStringLiteral("HTTP Method")) << "LastUploadHost is proposed";
            EXPECT_EQ(d.OptionIndex(), 0);
            if (c.Typed)
                d.EB_UploadName->setText(QString::fromLatin1(c.Typed));
            Ok(d);
        });
        std::vector<std::string> paths = {file};
        ASSERT_TRUE(AddFiles(nullptr, *FScheduler, paths, false));
        EXPECT_EQ(FCaption, QStringLiteral("New Upload Task Properties"));
        EXPECT_EQ(FInfo, QStringLiteral("File Name: holiday.avi\nFile size: 2,048 Bytes"));
        ASSERT_EQ(FQueue.TaskCount(), 1u);
        EXPECT_EQ(FQueue.Task(0).UploadName, c.Stored) << (c.Typed ? c.Typed : "(proposal)");
    }
}

TEST_F(UpTaskPropsTest, OnlyEmptyFoldersGiveTheSeveralFilesFormWithNothingInIt) {
    ::mkdir((FFolder + "/e1").c_str(), 0755);
    ::mkdir((FFolder + "/e2").c_str(), 0755);
    Answer([&](TFrmUploadTaskProperties& d) {
        EXPECT_FALSE(d.EB_UploadName->isEnabled());
        EXPECT_FALSE(d.B_Scramble->isEnabled());
        Ok(d);
    });
    std::vector<std::string> paths = {FFolder + "/e1", FFolder + "/e2"};
    EXPECT_TRUE(AddFiles(nullptr, *FScheduler, paths, false));
    EXPECT_EQ(FCaption, QStringLiteral("New Upload Tasks Properties"));
    EXPECT_EQ(FInfo, QStringLiteral("Upload 0 files\nTotal size: 0.00 MB"));
    EXPECT_EQ(FQueue.TaskCount(), 0u);
    EXPECT_TRUE(FBoxes.empty()) << "no duplicate message";
    TUploadQueue reloaded;
    FScheduler->FlushJobs(); // saves are written in the background
    EXPECT_TRUE(LoadJobs(reloaded, FFolder + "/quillo.jobs", {})) << "the jobs file is written";
}

TEST_F(UpTaskPropsTest, DuplicatesAreReportedAndAllDuplicatesAskNothing) {
    const std::string queued = File("Queued.bin");
    FQueue.AddTask(queued, "", "", "HTTP Method");
    const std::string fresh = File("fresh.bin");
    std::string upper = queued;
    upper.replace(upper.size() - 10, 6, "QUEUED");
    Answer(Cancel);
    std::vector<std::string> one = {upper};
    EXPECT_FALSE(AddFiles(nullptr, *FScheduler, one, false));
    EXPECT_EQ(FDialogs, 0);
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].Text, QStringLiteral("The file you want to add is already in the upload queue"));
    EXPECT_EQ(FBoxes[0].Caption, QStringLiteral("Information"));

    std::vector<std::string> some = {queued, fresh};
    EXPECT_FALSE(AddFiles(nullptr, *FScheduler, some, false)) << "cancelled";
    EXPECT_EQ(FDialogs, 1);
    ASSERT_EQ(FBoxes.size(), 2u);
    EXPECT_TRUE(FBoxes[1].Text.startsWith(QStringLiteral("Some of the files you want to add")))
        << FBoxes[1].Text.toStdString();
    EXPECT_EQ(FQueue.TaskCount(), 1u) << "Cancel adds nothing";
}

TEST_F(UpTaskPropsTest, AFileThatVanishedReachesTheErrorReportAndTheOthersStay) {
    const std::string first = File("a.bin"), gone = File("b.bin"), last = File("c.bin");
    Answer([&](TFrmUploadTaskProperties& d) {
        ::unlink(gone.c_str()); // between choosing and adding
        d.SelectMethod(QStringLiteral("HTTP Method"));
        Ok(d);
    });
    std::vector<std::string> paths = {first, gone, last};
    try {
        AddFiles(nullptr, *FScheduler, paths, false);
        ADD_FAILURE() << "no error report";
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find("b.bin"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
    ASSERT_EQ(FQueue.TaskCount(), 1u);
    TUploadQueue reloaded;
    ASSERT_TRUE(LoadJobs(reloaded, FFolder + "/quillo.jobs", {}));
    EXPECT_EQ(reloaded.TaskCount(), 1u) << "the task added before it is saved";
}

TEST_F(UpTaskPropsTest, ATypedNameTheServiceCouldNotStoreKeepsTheDialogOpen) {
    const std::string file = File("plain.bin");
    Answer([&](TFrmUploadTaskProperties& d) {
        d.SelectMethod(QStringLiteral("HTTP Method"));
        d.EB_UploadName->setText(QStringLiteral("dir/name.bin"));
        d.EB_UploadName->setModified(true);
        Ok(d);
        EXPECT_TRUE(d.isVisible());
        d.EB_UploadName->setText(QStringLiteral("name.bin"));
        Ok(d);
    });
    std::vector<std::string> paths = {file};
    ASSERT_TRUE(AddFiles(nullptr, *FScheduler, paths, false));
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_TRUE(FBoxes[0].Text.contains(QStringLiteral("path separator"))) << FBoxes[0].Text.toStdString();
    EXPECT_EQ(FQueue.Task(0).UploadName, "name.bin");
}

TEST_F(UpTaskPropsTest, EditingOneTask) {
    const std::string file = File("movie.avi", 5000);
    FQueue.AddTask(file, "", "", "FTP Method");
    FScheduler->SetTaskState(0, jsError, false);
    const TJobId id = FQueue.Task(0).Id();
    Answer([&](TFrmUploadTaskProperties& d) {
        EXPECT_EQ(d.EB_UploadName->text(), QStringLiteral("movie.avi"));
        EXPECT_EQ(d.SelectedMethod(), QStringLiteral("FTP Method"));
        EXPECT_EQ(d.OptionIndex(), 0) << "an Error task is proposed for the queue";
        d.EB_UploadName->setText(QStringLiteral("MOVIE.AVI"));
        Ok(d);
    });
    UpdateSettings([](TAppSettings& s) { s.Brimvault.UseAccount = true; });
    EXPECT_TRUE(EditTaskProperties(nullptr, *FScheduler, {id}));
    EXPECT_EQ(FCaption, QStringLiteral("Upload Task Properties"));
    EXPECT_EQ(FInfo, QStringLiteral("File Name: movie.avi\nFile size: 5,000 Bytes"));
    EXPECT_EQ(FQueue.Task(0).UploadName, "") << "its own name in other case stores nothing";
    EXPECT_EQ(FQueue.Task(0).State, jsQueued);

    // A custom name: clearing the box keeps it; typing the file's own name stores it as typed.
    FQueue.Task(0).UploadName = "custom.avi";
    Answer([&](TFrmUploadTaskProperties& d) {
        EXPECT_EQ(d.EB_UploadName->text(), QStringLiteral("custom.avi"));
        d.EB_UploadName->clear();
        Ok(d);
    });
    EditTaskProperties(nullptr, *FScheduler, {id});
    EXPECT_EQ(FQueue.Task(0).UploadName, "custom.avi");
    Answer([&](TFrmUploadTaskProperties& d) {
        d.EB_UploadName->setText(QStringLiteral("movie.avi"));
        Ok(d);
    });
    EditTaskProperties(nullptr, *FScheduler, {id});
    EXPECT_EQ(FQueue.Task(0).UploadName, "movie.avi");

    // An upload in progress gets no dialog.
    FQueue.Task(0).State = jsUploading;
    const int before = FDialogs;
    EXPECT_FALSE(EditTaskProperties(nullptr, *FScheduler, {id}));
    EXPECT_EQ(FDialogs, before);
}

// The scheduler goes on while the dialog is open: the task may finish or go meanwhile, and the
// answer must then not reach for it.
TEST_F(UpTaskPropsTest, ATaskThatLeavesTheQueueWhileItsDialogIsOpenIsLeftAlone) {
    FQueue.AddTask(File("gone.bin"), "", "", "HTTP Method");
    FQueue.AddTask(File("stays.bin"), "", "", "HTTP Method");
    const TJobId gone = FQueue.Task(0).Id();
    Answer([&](TFrmUploadTaskProperties& d) {
        ASSERT_TRUE(FQueue.DeleteTaskById(gone));
        d.EB_UploadName->setText(QStringLiteral("other.bin"));
        Ok(d);
    });
    EXPECT_TRUE(EditTaskProperties(nullptr, *FScheduler, {gone}));
    EXPECT_EQ(FDialogs, 1);
    EXPECT_TRUE(FBoxes.empty());
    ASSERT_EQ(FQueue.TaskCount(), 1u);
    EXPECT_EQ(FQueue.Task(0).FileName, FFolder + "/stays.bin");
    EXPECT_EQ(FQueue.Task(0).UploadName, "");
}

TEST_F(UpTaskPropsTest, EditingSeveralTasksWithNothingChosenChangesNothing) {
    for (const char* n : {"a.bin", "b.bin", "c.bin"})
        FQueue.AddTask(File(n), "", "", "HTTP Method");
    FScheduler->SetTaskState(1, jsError, false);
    Answer([&](TFrmUploadTaskProperties& d) {
        EXPECT_FALSE(d.EB_UploadName->isEnabled());
        EXPECT_FALSE(d.B_Scramble->isEnabled());
        EXPECT_EQ(d.CB_UploadServer->currentIndex(), -1);
        EXPECT_EQ(d.OptionIndex(), -1);
        Ok(d);
    });
    EXPECT_TRUE(EditTaskProperties(nullptr, *FScheduler, FQueue.TaskIds()));
    EXPECT_EQ(FCaption, QStringLiteral("Upload Tasks Properties"));
    EXPECT_EQ(FInfo, QStringLiteral("Multiple files properties\nSelected: 3 files"));
    EXPECT_TRUE(FBoxes.empty()) << "no FTP refusal without a selected method";
    EXPECT_EQ(FQueue.Task(0).State, jsDelayed);
    EXPECT_EQ(FQueue.Task(1).State, jsError);
    EXPECT_EQ(FQueue.Task(2).Method, "HTTP Method");
    TUploadQueue reloaded;
    FScheduler->FlushJobs(); // saves are written in the background
    EXPECT_TRUE(LoadJobs(reloaded, FFolder + "/quillo.jobs", {})) << "the jobs file is written";
    EXPECT_EQ(reloaded.TaskCount(), 3u);
}

} // namespace
