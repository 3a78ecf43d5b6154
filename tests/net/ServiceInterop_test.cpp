#include "core/net/IdHTTPEx.h"
#include "core/net/NetErrors.h"

#include "support/BrimvaultService.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QJsonArray>

#include <gtest/gtest.h>

#include <fstream>

namespace quillo {
namespace {

using test::TBrimvaultService;

class ServiceInteropTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Service.Start()) << Service.ErrorText().toStdString(); }
    std::string Site() const { return Service.SiteUrl().toStdString(); }
    TBrimvaultService Service;
};

TEST_F(ServiceInteropTest, UploadFormIsParsedAndStoredByteForByte) {
    std::string Content(3 * 1000 * 1000 + 17, '\0');
    for (size_t I = 0; I < Content.size(); ++I)
        Content[I] = static_cast<char>((I * 31) ^ (I >> 9));
    const std::string Path = test::MakeScratchDir().toStdString() + "/local.bin";
    std::ofstream(Path, std::ios::binary) << Content;

    TIdHTTPEx Http;
    Http.Request.Referer = Site();
    EXPECT_EQ(Http.Get(Site() + "uploadservers.txt"), Service.SiteHost().toStdString() + "\r\n");
    Http.AddFormField("group_name", "soft");
    Http.AddFormField("mode", "soft");
    Http.AddFormField("wmid", "a::");
    Http.SetFileField("FILE1", "my file.bin", Path);
    const std::string Reply = Http.PostFormText(Service.UploadUrl().toStdString());
    ASSERT_EQ(Reply.rfind("DOWNLOAD: ", 0), 0u) << Reply;

    const auto Posts = Service.HttpRequests(QStringLiteral("/cgi-bin/upload.cgi"));
    ASSERT_EQ(Posts.size(), 1);
    const QJsonObject Entry = Posts[0];
    const QList<QPair<QString, QString>> Fields = TBrimvaultService::FormFields(Entry);
    ASSERT_EQ(Fields.size(), 3);
    EXPECT_EQ(Fields[0], qMakePair(QStringLiteral("group_name"), QStringLiteral("soft")));
    EXPECT_EQ(Fields[1], qMakePair(QStringLiteral("mode"), QStringLiteral("soft")));
    EXPECT_EQ(Fields[2], qMakePair(QStringLiteral("wmid"), QStringLiteral("a::")));
    const QJsonObject Form = Entry.value(QStringLiteral("form")).toObject();
    EXPECT_TRUE(Form.value(QStringLiteral("complete")).toBool());
    EXPECT_EQ(Form.value(QStringLiteral("preamble")).toString(), QString());
    EXPECT_EQ(Form.value(QStringLiteral("parts")).toArray().size(), 4); // the file part last
    const QJsonObject File = Form.value(QStringLiteral("file")).toObject();
    EXPECT_EQ(File.value(QStringLiteral("filename")).toString(), QStringLiteral("my file.bin"));
    EXPECT_EQ(File.value(QStringLiteral("content_type")).toString(),
              QStringLiteral("application/octet-stream"));
    EXPECT_EQ(File.value(QStringLiteral("md5")).toString(),
              QString::fromLatin1(
                  QCryptographicHash::hash(QByteArray::fromStdString(Content), QCryptographicHash::Md5)
                      .toHex()
                      .toUpper()));
    EXPECT_EQ(TBrimvaultService::HeaderValue(Entry, QStringLiteral("Referer")).toStdString(), Site());
    EXPECT_TRUE(TBrimvaultService::HeaderValue(Entry, QStringLiteral("Expect")).isNull());
    EXPECT_TRUE(TBrimvaultService::HeaderValue(Entry, QStringLiteral("Transfer-Encoding")).isNull());

    // The stored copy comes back identical through the download link.
    const std::string Link = Reply.substr(10, Reply.find("\r\n") - 10);
    EXPECT_TRUE(Http.Get(Link) == Content);
}

TEST_F(ServiceInteropTest, RedirectWithSpacesAndErrorStatus) {
    ASSERT_TRUE(
        Service.SetFaults({{"redirect_location", "/other place/upload.cgi"}, {"redirect_path", "/go"}}));
    TIdHTTPEx Http;
    Http.Get(Site() + "quillouploader/version.txt"); // plain request first
    try {
        Http.Get(Site() + "go"); // the new location serves uploads: a bare GET is refused there
    } catch (const EHttpStatusError&) {
    }
    const auto Entries = Service.HttpRequests();
    ASSERT_GE(Entries.size(), 3);
    EXPECT_EQ(Entries.last().value(QStringLiteral("target")).toString().toStdString().substr(0, 23),
              "/other%20place/upload.c");

    ASSERT_TRUE(Service.SetFaults({{"upload_status", 503}}));
    const std::string Small = test::MakeScratchDir().toStdString() + "/small.bin";
    std::ofstream(Small, std::ios::binary) << "tiny";
    Http.AddFormField("a", "b");
    Http.SetFileField("FILE1", "", Small);
    try {
        Http.PostFormText(Service.UploadUrl().toStdString());
        FAIL() << "no error";
    } catch (const EHttpStatusError& E) {
        EXPECT_EQ(E.StatusCode(), 503);
    }
}

} // namespace
} // namespace quillo
