#include "core/l10n/ResMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace quillo;

TEST(ResMessages, ProgramHasSixtySixNumberedMessagesInTheDocumentedRanges) {
    int count = 0;
    for (int id = 65000; id < 65100; ++id) {
        const bool inRanges = (id >= 65008 && id <= 65012) || (id >= 65024 && id <= 65062) ||
                              (id >= 65064 && id <= 65071) || (id >= 65074 && id <= 65087);
        EXPECT_EQ(IsProgramMessage(id), inRanges) << id;
        EXPECT_EQ(!BuiltinResString(id).empty(), inRanges) << id;
        count += IsProgramMessage(id);
    }
    EXPECT_EQ(count, 66);
}

TEST(ResMessages, BuiltinTextsKeepTheirLineBreaksAndFormats) {
    EXPECT_EQ(ResString(rmConfirmClose), "There are some upload tasks in progress.\r\nClosing now will abort "
                                         "them. Do you want to close anyway ?");
    EXPECT_EQ(ResString(rmStateUploadingPercent), "Uploading (%d%%)");
    EXPECT_EQ(ResString(rmImproperlyTerminated),
              "Upload failed because the program was improperly terminated");
}

TEST(ResMessages, UploaderForEndsWithTheServiceDomain) {
    SetServiceDomainForMessages("files.example.test");
    EXPECT_EQ(ResString(rmUploaderFor), "Uploader for files.example.test");
    SetServiceDomainForMessages("brimvault.com");
}

TEST(ResMessages, TranslationReplacesOnlyTheNumbersItHolds) {
    auto table = std::make_shared<TResStringTable>();
    (*table)[rmIdle] = "Untätig.";
    SetResStringTable(table);
    EXPECT_EQ(ResString(rmIdle), "Untätig.");
    EXPECT_EQ(ResString(rmUploading), "Uploading...");
    SetResStringTranslationActive(false);
    EXPECT_EQ(ResString(rmIdle), "Idle.");
    SetResStringTranslationActive(true);
    SetResStringTable(nullptr);
    EXPECT_EQ(ResString(rmIdle), "Idle.");
}

TEST(ResMessages, WorkerThreadsReadWhileTheTableIsSwapped) {
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!stop) {
                const std::string s = ResString(rmIdle);
                if (s != "Idle." && s != "A" && s != "B")
                    ++bad;
            }
        });
    for (int i = 0; i < 2000; ++i) {
        auto t = std::make_shared<TResStringTable>();
        (*t)[rmIdle] = (i % 2) ? "A" : "B";
        SetResStringTable(t);
    }
    stop = true;
    for (auto& r : readers)
        r.join();
    SetResStringTable(nullptr);
    EXPECT_EQ(bad, 0);
}

TEST(ResMessages, ATranslatedUploaderForStillEndsWithTheServiceDomain) {
    SetServiceDomainForMessages("files.example.test");
    SetResStringTable(std::make_shared<TResStringTable>(TResStringTable{{rmUploaderFor, "Uploader für "}}));
    EXPECT_EQ(ResString(rmUploaderFor), "Uploader für files.example.test");
    EXPECT_EQ(BuiltinResText(rmUploaderFor), "Uploader for ");
    SetResStringTable(nullptr);
    SetServiceDomainForMessages("brimvault.com");
}
